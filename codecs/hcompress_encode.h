// HCOMPRESS_1 encoding, lossless (SCALE 0): the H-transform of the tile (a
// 2-D Haar transform in integers, R. White 1992), its coefficients' bit
// planes coded with quadtrees and a fixed Huffman code per quadrant, then
// the signs. Byte for byte what cfitsio's fits_hcompress (8- and 16-bit
// images) and fits_hcompress64 (32-bit images, quantized floats) write with
// scale 0. Lossy scales are not offered: their noise-based scale is the
// table writer's business, and nothing asks for them yet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

// The largest side the encoder takes. Each level of the transform doubles
// the coefficients' range: with 24 levels a 32-bit image's coefficients stay
// below 2^58, well inside the 64-bit working values (the widest host image
// is 300000 pixels, 19 levels).
constexpr uint32_t kHcompressMaxSide = uint32_t{1} << 24;

// Scratch bytes hcompressEncode needs for a tile of `rows` x `columns`: the
// tile as 64-bit working values, a line for regrouping, the quadtree's grid
// and its code buffer. 0 for a size it refuses.
size_t hcompressEncodeScratchBytes(uint32_t rows, uint32_t columns);

// Encodes a tile of `rows` (ZTILE2, the slow axis) by `columns` pixels, row
// after row, any size from 1 x 1 up (fpack makes none under 4 x 4, cfitsio
// codes and decodes any). 8-bit images are unsigned bytes, 16- and 32-bit
// signed. `scratch` holds at least hcompressEncodeScratchBytes(rows,
// columns) bytes. `unsupported` for a size of 0, a side beyond
// kHcompressMaxSide, pixels.size() != rows * columns or too little scratch;
// `truncated` when `out` is too small.
Encoded hcompressEncode(std::span<const uint8_t> pixels, uint32_t rows, uint32_t columns, std::span<uint8_t> out,
                        std::span<uint8_t> scratch);
Encoded hcompressEncode(std::span<const int16_t> pixels, uint32_t rows, uint32_t columns, std::span<uint8_t> out,
                        std::span<uint8_t> scratch);
Encoded hcompressEncode(std::span<const int32_t> pixels, uint32_t rows, uint32_t columns, std::span<uint8_t> out,
                        std::span<uint8_t> scratch);

// The most bytes hcompressEncode writes for a tile of `rows` x `columns` of
// `bytePix`-byte pixels (1, 2 or 4); 0 for what it refuses.
//
// Why it holds. Let |pixel| <= 2^B (B = 8, 15, 31) and L = ceil(log2(max
// side)) levels. Level 0 sums or differences four pixels: |h| <= 2^(B+2),
// and rounding to the kept bits moves a value by under 4. Level k halves
// the sum of four earlier averages: |h| <= 2 M(k-1) + 1, moved by rounding
// by under 2^(k+2). So M(k) < 2^(B+2+k) + (k+2) 2^(k+2) < 2^(B+3+k) for
// k < 64 (B >= 8), and every coefficient needs at most P = B + L + 2 bit
// planes (at most 64 counted). The stream is a 25-byte header; then, for
// each quadrant of Q = ceil(qx/2) * ceil(qy/2) 2x2 cells and each bit
// plane, a 4-bit format code and either the plane's Q nybbles (4Q bits) or
// its quadtree codes, which the encoder abandons for the nybbles as soon as
// they fill floor((Q + 1) / 2) bytes, so at most 8 floor((Q + 1) / 2) - 1 <=
// 4Q + 3 bits of them remain (7 when they fill no byte): at most 4Q + 11
// bits a plane. A final 4-bit code, the
// padding to a byte, and one sign bit per nonzero coefficient (at most one
// per pixel, byte-padded) close it. The test drives full-range tiles, whose
// planes are all written directly, against it.
uint64_t hcompressMaxEncodedBytes(uint32_t rows, uint32_t columns, int bytePix);

}  // namespace nebulite::codecs
