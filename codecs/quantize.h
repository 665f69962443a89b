// Floating-point images stored as quantized integers: back from the tile's
// integers to floats with ZSCALE and ZZERO, undoing the subtractive dither.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

enum class Dither : uint8_t {
    none,          // NO_DITHER (and files from before dithering)
    subtractive1,  // SUBTRACTIVE_DITHER_1
    subtractive2,  // SUBTRACTIVE_DITHER_2: exact zeros kept apart
};

// The dither's table of uniform random numbers, its length and where it wraps.
constexpr size_t kDitherTableSize = 10000;
// The integer that stands for an exact 0.0 under SUBTRACTIVE_DITHER_2. The
// published text names -2147483647; every writer uses this one.
constexpr int32_t kDitherZeroValue = -2147483646;

struct Unquantize {
    double scale = 1.0;  // ZSCALE of the tile (BSCALE folded in by the caller)
    double zero = 0.0;   // ZZERO of the tile (BZERO folded in by the caller)
    Dither dither = Dither::none;
    bool hasNull = false;
    int32_t nullValue = 0;   // ZBLANK: this integer becomes NaN
    int64_t ditherSeed = 1;  // ZDITHER0, 1..10000; CFITSIO's 1 when absent
    uint64_t tileRow = 1;    // the tile's table row, from 1
};

// The 10000 values of the Park-Miller generator the convention fixes.
const std::array<float, kDitherTableSize>& ditherTable();

// Writes out[i] for in[i]. Unsupported for a seed outside 1..10000 or a row
// of 0 when dithering; sizes must match.
CodecResult unquantize(std::span<const int32_t> in, const Unquantize& p, std::span<float> out);
CodecResult unquantize(std::span<const int32_t> in, const Unquantize& p, std::span<double> out);
// The same values as floats of `floatBytes` bytes (4: float, 8: double),
// stored big-endian into out (floatBytes per pixel): a quantized image's
// samples as its data unit holds them, with no float buffer between.
CodecResult unquantizeBigEndian(std::span<const int32_t> in, const Unquantize& p, size_t floatBytes,
                                std::span<uint8_t> out);

}  // namespace nebulite::codecs
