// What every pixel road works with, and the walks they share: the
// document's rows handed over in order, or the file's rows read through
// without the host seeing them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "import/pixel_roads.h"
#include "mapping/transfer.h"
#include "shell/geometry.h"

namespace nebulite {

struct Road {
    PluginState& state;
    const HeaderKeywords& keys;
    RowSource& rows;
    RowBuffer& buffer;
    RoadWork& work;
    const RowPlan& plan;
    int32_t total;

    unsigned char* hostRow() const { return reinterpret_cast<unsigned char*>(buffer.data()); }
    size_t columns() const { return static_cast<size_t>(imageSizeOf(*state.formatRecord).columns); }
    int32_t height() const { return imageSizeOf(*state.formatRecord).rows; }
    int64_t fileRowBytes() const { return static_cast<int64_t>(columns()) * keys.fileSampleBytes(); }
    // The file's planes (from 0) the document's planes come from, in order.
    std::span<const uint32_t> filePlanes() const { return {plan.filePlanes, static_cast<size_t>(plan.planes)}; }
    std::span<uint16_t, 65536> table16() const { return std::span<uint16_t, 65536>(work.table16.data(), 65536); }
    // Where a road puts a row at the file's own host depth (8 bits for
    // BITPIX 8, else 16): the host's buffer, or a row of its own when the
    // document's depth differs, which handOver then converts.
    unsigned char* nativeRow() const { return work.nativeRow.held() ? work.nativeRow.data() : hostRow(); }
    int64_t nativeRowBytes() const { return static_cast<int64_t>(columns()) * keys.hostSampleBytes(); }

    // Every row of every plane the host was told of: at the start of each
    // plane the source goes to the file's plane (unless the rows come from
    // elsewhere: a store of them); `fill` puts the row into nativeRow(),
    // then the host takes it.
    enum class From : uint8_t { source, store };
    template <typename Fill>
    void handOver(Fill fill, From from = From::source) {
        walkRows(
            state, plan.planes, total, plan.flip,
            [&](int16_t p, int32_t r) {
                if (r == 0 && from == From::source) rows.seekPlane(state, plan.filePlanes[p]);
                if (state.result != noErr) return;
                fill();
                if (state.result == noErr && work.nativeRow.held()) toDocumentDepth();
            },
            [](int16_t, int32_t) {});
    }

    // Every row of the first `planes` planes read into `into` and shown to
    // `take(plane, row)`, none handed over: a first pass. A mosaic's three
    // document planes come from one plane of the file, read once.
    template <typename Take>
    void readEvery(unsigned char* into, int64_t rowBytes, Take take) {
        readEvery(into, rowBytes, take, plan.planes);
    }
    template <typename Take>
    void readEvery(unsigned char* into, int64_t rowBytes, Take take, int16_t planes) {
        for (int16_t p = 0; state.result == noErr && p < planes; ++p) {
            rows.seekPlane(state, plan.filePlanes[p]);
            for (int32_t r = 0; state.result == noErr && r < height(); ++r) {
                rows.read(state, into, rowBytes);
                if (state.result == noErr) take(p, into);
            }
        }
    }

    // The native row at the document's depth, into the host's buffer.
    void toDocumentDepth() const;
};

// The curve of a stretch.
mapping::Curve curveOf(options::Stretch stretch);
// The black and white points (and mtf's midtone) of `mapping` with what the
// estimator saw (read only for intervals measured from the data); nothing
// when the data has no defined value. Levels run to `top`.
std::optional<mapping::Transfer> transferFor(const options::MappingChoice& mapping,
                                             const mapping::IntervalEstimator* seen, uint16_t top);

void moveMapped(Road& road, options::ResolvedOpen& resolved);
void moveFloats(Road& road, int32_t& exponent);
void moveMosaic(Road& road, RoadFindings& findings);

}  // namespace nebulite
