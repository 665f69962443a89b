// RICE_1 encoding: the pixel differences of a tile, coded block by block
// exactly as cfitsio's fits_rcomp (BYTEPIX 4), fits_rcomp_short (2) and
// fits_rcomp_byte (1) code them, so fpack and we write the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

// BYTEPIX fpack writes for each BITPIX: the pixel's own width for integer
// images, 4 for quantized floats; 0 where Rice does not apply (64-bit
// integers, which fpack refuses). Unsigned 16-bit images (BZERO 32768) are
// BITPIX 16 and take 2 after the caller's offset to signed.
constexpr int riceBytePixFor(int bitpix) {
    switch (bitpix) {
        case 8: return 1;
        case 16: return 2;
        case 32:
        case -32:
        case -64: return 4;
        default: return 0;
    }
}

// Encodes one tile in blocks of `blockSize` pixels (32 as every writer
// uses, 16 allowed; 1 to 4096 accepted, as the decoder accepts). The BYTEPIX
// is the element's width: 8-bit images are unsigned bytes (cfitsio takes
// them as signed char, which codes the same bytes: differences wrap mod 256
// and the first value is its bit pattern), 16- and 32-bit images signed.
// The first pixel is written raw in BYTEPIX bytes and then coded again as
// the first difference of the first block, which is always zero.
// An empty tile writes nothing.
Encoded riceEncode(std::span<const uint8_t> pixels, int blockSize, std::span<uint8_t> out);
Encoded riceEncode(std::span<const int16_t> pixels, int blockSize, std::span<uint8_t> out);
Encoded riceEncode(std::span<const int32_t> pixels, int blockSize, std::span<uint8_t> out);

// The most bytes riceEncode writes for `pixels` pixels; 0 for a BYTEPIX or
// block size it refuses.
//
// Why it holds: the first value takes BYTEPIX bytes. Each block of n pixels
// takes its FS field (fsBits) and then one of three bodies:
//  - all differences zero: nothing more;
//  - raw: n * rawBits bits (rawBits = 8 * BYTEPIX);
//  - coded with split fs (0 <= fs <= fsMax - 1): each mapped difference m
//    costs (m >> fs) + 1 + fs bits. The encoder picks fs as the bit length
//    of floor(d) >> 1, d = (sum(m) - floor(n/2) - 1) / n, so floor(d) <
//    2^(fs+1) and sum(m) < n * 2^(fs+1) + n/2 + 1; hence sum(m >> fs) <=
//    sum(m) / 2^fs < 2n + n/2 + 1 and the body is below
//    n * fsMax + 2.5n + 1 bits: 8.5n + 1, 16.5n + 1 and 27.5n + 1 for
//    BYTEPIX 1, 2 and 4, each at most (rawBits + 1) * n + 1.
// So every block fits in fsBits + 1 + (rawBits + 1) * n bits, and the tile in
// BYTEPIX + ceil((blocks * (fsBits + 1) + pixels * (rawBits + 1)) / 8) bytes.
// tests/oracle/tile_encoders_oracle_test.cpp drives blocks to each body's
// worst case and checks the bound.
uint64_t riceMaxEncodedBytes(uint64_t pixels, int bytePix, int blockSize);

}  // namespace nebulite::codecs
