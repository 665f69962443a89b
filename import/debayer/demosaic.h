// Demosaicing a band at a time: mosaic rows go in, in the order they will
// appear in the document, and RGB rows come out in the same order, a few
// rows behind. Nothing but a few padded rows is held, in memory the caller
// provides (sized by demosaicWorkFloats), so a module can take it from its
// own allocator and report a failure there; nothing here allocates or throws.
//
//   MosaicGeometry geometry{width, height, pattern, DemosaicMethod::quality};
//   std::optional<uint64_t> floats = demosaicWorkFloats(geometry);   // none: refuse
//   ... take *floats floats ...
//   Demosaicer d;
//   d.start(geometry, work);
//   for each row: d.pushRow(row);
//                 while (d.nextRow(red, green, blue) == DemosaicResult::ok) emit;
//
// The height is given up front, so the rows held back for the bottom edge
// come out once the last row is in: there is no separate flush.
//
// Output is three planes (red, green, blue), the layout of a FITS colour
// cube and of the host's planar rows. Samples are floats in the input's own
// scale; each pixel's own sample is copied to its colour's plane bit for bit.
// Estimates are not clamped: a caller converting to integers clamps there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "import/debayer/method_context.h"
#include "import/debayer/pattern.h"

namespace nebulite::debayer {

enum class DemosaicResult : uint8_t {
    ok,
    badGeometry,   // width or height below 2 or above kMaxMosaicSide, or an unknown method
    workTooSmall,  // fewer floats than demosaicWorkFloats asked for
    notStarted,    // start has not succeeded
    wrongWidth,    // a row or an output plane not `width` long
    tooManyRows,   // every row of the height is already in
    rowsWaiting,   // a finished row must be taken with nextRow before the next row goes in
    noRowReady,    // nextRow: more rows must go in first, or every row has come out
};

// A short name for messages and test output.
constexpr const char* demosaicResultName(DemosaicResult r) {
    switch (r) {
        case DemosaicResult::ok: return "ok";
        case DemosaicResult::badGeometry: return "badGeometry";
        case DemosaicResult::workTooSmall: return "workTooSmall";
        case DemosaicResult::notStarted: return "notStarted";
        case DemosaicResult::wrongWidth: return "wrongWidth";
        case DemosaicResult::tooManyRows: return "tooManyRows";
        case DemosaicResult::rowsWaiting: return "rowsWaiting";
        case DemosaicResult::noRowReady: return "noRowReady";
    }
    return "?";
}

struct MosaicGeometry {
    uint64_t width = 0;
    uint64_t height = 0;
    CfaPattern pattern = CfaPattern::rggb;  // at the first row pushed, its first pixel
    DemosaicMethod method = DemosaicMethod::quality;
};

// The floats of working memory a demosaicer needs: a few rows, whatever the
// height. Nothing when the geometry is refused (see badGeometry) or the
// memory would not fit this process's address space; when there is an
// answer, its size in bytes (times sizeof(float)) fits a size_t.
std::optional<uint64_t> demosaicWorkFloats(const MosaicGeometry& geometry);

class Demosaicer {
public:
    Demosaicer() = default;
    // It keeps pointers into the caller's memory: a copy would share it.
    Demosaicer(const Demosaicer&) = delete;
    Demosaicer& operator=(const Demosaicer&) = delete;

    // Begins a mosaic; `work` must hold demosaicWorkFloats(geometry) floats
    // and outlive the demosaicer's use. A failed start leaves it not started.
    DemosaicResult start(const MosaicGeometry& geometry, std::span<float> work);

    // The next mosaic row, `width` samples.
    DemosaicResult pushRow(std::span<const float> row);

    // The next RGB row into three planes of `width` floats, once the rows
    // below it that the method reads are in.
    DemosaicResult nextRow(std::span<float> red, std::span<float> green, std::span<float> blue);

    uint64_t rowsIn() const { return rowsIn_; }
    uint64_t rowsOut() const { return rowsOut_; }
    // Every row of the height has come out.
    bool done() const { return started_ && rowsOut_ == geometry_.height; }

private:
    bool rowReady() const;
    float* mosaicRow(uint64_t row) const;
    float* greenRow(uint64_t row) const;
    void mirrorPadding(float* row) const;
    void makeGreenRows(uint64_t upTo);

    MosaicGeometry geometry_{};
    MethodContext context_{};
    uint64_t stride_ = 0;  // floats of one padded row
    float* mosaicRing_ = nullptr;
    float* greenRing_ = nullptr;
    uint64_t rowsIn_ = 0;
    uint64_t rowsOut_ = 0;
    uint64_t greenRowsMade_ = 0;
    bool started_ = false;
};

}  // namespace nebulite::debayer
