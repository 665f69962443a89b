// Quantizing a float tile for lossy compression: the integers a tile's
// codec then compresses, with the tile's ZSCALE and ZZERO, exactly as
// cfitsio's fits_quantize_float / fits_quantize_double make them for fpack
// (NO_DITHER, SUBTRACTIVE_DITHER_1 and _2), and cfitsio's decision not to
// quantize a tile at all, after which fpack stores the tile losslessly in
// the GZIP_COMPRESSED_DATA column (gzipEncode of the floats, GZIP_1).
// unquantize (quantize.h) is the way back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"
#include "codecs/quantize.h"

namespace nebulite::codecs {

// The integer a null (NaN) pixel becomes, written as the ZBLANK keyword.
constexpr int32_t kQuantizeNullValue = -2147483647;

struct QuantizeParams {
    // ZQUANTIZ's level q, a float as cfitsio keeps it: > 0 makes the step
    // the tile's noise / q (fpack's -q, default 4); 0 is noise / 4; < 0
    // makes the step |q| itself.
    float level = 4.0f;
    Dither dither = Dither::subtractive1;
    int64_t ditherSeed = 1;  // ZDITHER0, 1..10000 (unused for Dither::none)
    uint64_t tileRow = 1;    // the tile's table row, from 1
};

struct Quantized {
    CodecResult result = CodecResult::ok;
    // False: the tile is not quantized (a one-pixel tile, a noise-free
    // tile such as a constant or a straight ramp, a range of values the
    // integers cannot span, an infinity); store it losslessly. `out` is
    // then unspecified.
    bool quantized = false;
    bool anyNull = false;  // some pixel was NaN and is now kQuantizeNullValue
    double scale = 1.0;    // ZSCALE of the tile
    double zero = 0.0;     // ZZERO of the tile
};

// Scratch bytes quantize needs for a tile of `columns` x `rows` values of
// `valueBytes` (4 or 8) bytes: room for the noise estimate.
size_t quantizeScratchBytes(size_t columns, size_t rows, size_t valueBytes);

// Quantizes a tile of `rows` rows of `columns` values (for a tile of more
// than two axes, its first axis by the product of the others, as fpack
// passes it) into out (the same count). NaN pixels are nulls. `unsupported`
// for mismatched sizes, too little scratch, or a seed outside 1..10000 or
// row 0 when dithering.
//
// Where cfitsio's arithmetic would be undefined (an integer conversion out
// of range, which only tiles of extreme values or an infinite step reach)
// the tile is declined instead, and so is a tile with an infinity, which
// fpack would have read as a null: the lossless road keeps it exactly.
Quantized quantize(std::span<const float> in, size_t columns, size_t rows, const QuantizeParams& p,
                   std::span<int32_t> out, std::span<uint8_t> scratch);
Quantized quantize(std::span<const double> in, size_t columns, size_t rows, const QuantizeParams& p,
                   std::span<int32_t> out, std::span<uint8_t> scratch);

}  // namespace nebulite::codecs
