// What a tile-compressed save is asked to write: the image's geometry and
// sample type, the tile algorithm, the tiling, and how floating-point
// samples are stored. The module fills this from the resolved save options
// (options/resolve_save.h); the layout (tiled_layout.h) checks it.
#pragma once

#include <cstdint>

#include "codecs/algorithm.h"
#include "codecs/quantize.h"

namespace nebulite::tiledsave {

// How floating-point samples go into the tiles.
enum class FloatStorage : uint8_t {
    quantized,  // scaled to integers per tile (fpack's default), any algorithm but NOCOMPRESS
    lossless,   // the IEEE values themselves: GZIP_1, GZIP_2 or NOCOMPRESS (ZQUANTIZ = 'NONE')
};

// ZDITHER0 taken from the first tile's bytes, as fpack -qt chooses it: the
// same image always gets the same seed.
constexpr int32_t kSeedFromFirstTile = -1;

// 64-bit descriptors: chosen when the heap could pass what 32-bit ones
// address; `always` lets a test make a small file of them.
enum class DescriptorWidth : uint8_t { automatic, always64 };

struct SaveParams {
    int32_t bitpix = 16;         // 8, 16, 32, 64, -32, -64
    uint32_t naxis = 2;          // 2, or 3 for a cube (the image header's NAXIS)
    uint64_t width = 0;          // NAXIS1
    uint64_t height = 0;         // NAXIS2
    uint64_t planes = 1;         // NAXIS3: 1 for an image of NAXIS 2 (3 planes for RGB, 4 for CMYK...)
    codecs::Algorithm algorithm = codecs::Algorithm::rice;  // rice, gzip1, gzip2, hcompress, none
    // Tile size within a plane (tiles are one plane deep); 0 x 0 for the
    // default: row by row, or HCOMPRESS's bands as fpack makes them. A tile
    // larger than the image holds the whole axis.
    uint64_t tileRows = 0;
    uint64_t tileColumns = 0;
    FloatStorage floats = FloatStorage::quantized;
    float quantizeLevel = 4.0f;  // fpack's -q: noise / q per step (> 0), step |q| (< 0), noise / 4 (0)
    codecs::Dither dither = codecs::Dither::subtractive1;
    // ZDITHER0, 1..10000 (fpackClockSeed gives fpack's default), or kSeedFromFirstTile.
    int32_t ditherSeed = 1;
    DescriptorWidth descriptors = DescriptorWidth::automatic;
};

enum class SaveError : uint8_t {
    none,
    badGeometry,      // an axis of 0, NAXIS not 2 or 3, planes past 1 without NAXIS 3
    badBitpix,
    algorithmRefused, // an algorithm that cannot hold these samples (64-bit Rice or HCOMPRESS, unquantized Rice)
    badTile,          // a tile of 0 on one side only, or too large for its codec
    badQuantize,      // a seed outside 1..10000, a level that is not finite, quantizing under NOCOMPRESS
    badHeader,        // the image cards do not start with SIMPLE, BITPIX, NAXIS, NAXISn (once each), end with END, or disagree with the geometry
    tooLarge,         // a size past 64 bits, or a tile past what a span holds
    noMemory,         // the allocator gave nothing (zlib's working memory included)
    writeFailed,      // the sink failed: the file is left without its headers
    encodeFailed,     // an encoder refused a tile it was sized for (a fault of ours)
    tooManyBytes,     // more data-unit bytes than the image holds
    incomplete,       // finish before the whole data unit arrived
    sequence,         // a call out of order (add before begin, anything after finish)
};

constexpr const char* saveErrorName(SaveError e) {
    switch (e) {
        case SaveError::none: return "none";
        case SaveError::badGeometry: return "bad geometry";
        case SaveError::badBitpix: return "bad BITPIX";
        case SaveError::algorithmRefused: return "algorithm refused for these samples";
        case SaveError::badTile: return "bad tile size";
        case SaveError::badQuantize: return "bad quantization";
        case SaveError::badHeader: return "image header does not match";
        case SaveError::tooLarge: return "too large";
        case SaveError::noMemory: return "no memory";
        case SaveError::writeFailed: return "write failed";
        case SaveError::encodeFailed: return "encoder failed";
        case SaveError::tooManyBytes: return "more bytes than the image holds";
        case SaveError::incomplete: return "image incomplete";
        case SaveError::sequence: return "call out of order";
    }
    return "?";
}

}  // namespace nebulite::tiledsave
