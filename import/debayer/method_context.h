// The demosaicing methods, the context each needs around a pixel, and the
// working memory that follows from it: a few padded rows, whatever the height.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace nebulite::debayer {

enum class DemosaicMethod : uint8_t {
    bilinear,  // each missing colour the mean of its nearest samples of that colour
    quality,   // Hamilton-Adams: edge-directed green, then colour differences
};

// What a method holds beyond the row it is producing.
struct MethodContext {
    uint32_t pad;         // columns mirrored beyond each end of a stored row
    uint32_t rowsBelow;   // mosaic rows after row y needed before row y comes out
    uint32_t mosaicRows;  // mosaic rows held (a ring)
    uint32_t greenRows;   // rows of interpolated green held (a ring)
};

constexpr MethodContext contextOf(DemosaicMethod method) {
    switch (method) {
        // The 3x3 neighbourhood.
        case DemosaicMethod::bilinear: return {1, 1, 3, 0};
        // Green along a row or column reads two pixels each way; the colour
        // step reads green one row up and down, whose green in turn reads two
        // more: rows y-1..y+3 of the mosaic and y-1..y+1 of green.
        case DemosaicMethod::quality: return {2, 3, 5, 3};
    }
    return {0, 0, 0, 0};
}

// Beyond any image the editor opens (300000 on a side) and small enough that
// index arithmetic around a row, padding included, never nears 64 bits.
constexpr uint64_t kMaxMosaicSide = uint64_t{1} << 31;

// Floats of one stored row, padding included.
constexpr uint64_t paddedRowFloats(DemosaicMethod method, uint64_t width) {
    return width + 2 * uint64_t{contextOf(method).pad};
}

// The working memory for a mosaic `width` pixels wide, in floats, or nothing
// when the width is out of range or the total would not fit in this
// process's address space (a 32-bit module has 4 GB of it).
constexpr std::optional<uint64_t> workFloatsFor(DemosaicMethod method, uint64_t width) {
    if (width < 2 || width > kMaxMosaicSide) return std::nullopt;
    const MethodContext c = contextOf(method);
    const uint64_t rows = uint64_t{c.mosaicRows} + c.greenRows;
    if (rows == 0) return std::nullopt;  // not a method
    const uint64_t rowFloats = paddedRowFloats(method, width);
    if (rowFloats > UINT64_MAX / rows) return std::nullopt;
    const uint64_t floats = rowFloats * rows;
    if (floats > SIZE_MAX / sizeof(float)) return std::nullopt;
    return floats;
}

static_assert(workFloatsFor(DemosaicMethod::bilinear, 8192) == 3 * 8194);
static_assert(workFloatsFor(DemosaicMethod::quality, 8192) == 8 * 8196);
static_assert(!workFloatsFor(DemosaicMethod::quality, 1).has_value());
static_assert(!workFloatsFor(DemosaicMethod::quality, kMaxMosaicSide + 1).has_value());

}  // namespace nebulite::debayer
