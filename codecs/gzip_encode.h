// GZIP_1 and GZIP_2 tiles, and the GZIP_COMPRESSED_DATA fallback of a float
// tile that was not quantized (GZIP_1 of its raw values): the tile's
// elements big-endian, for GZIP_2 regrouped into significance planes (byte 0
// of every element, then byte 1, ...), deflated into one gzip member the way
// cfitsio's compress2mem_from_mem does it (zlib level 1, Z_BEST_SPEED; a
// 32 KiB window; memLevel 8; the default strategy; zlib's plain gzip header:
// no name, no time stamp, the OS byte of the zlib build). With the same zlib
// the bytes are fpack's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/algorithm.h"
#include "codecs/codec_result.h"

namespace nebulite::codecs {

// zlib's working memory, so that the module can hand it its own allocator
// (deflate's sibling of InflateMemory). Null members mean zlib's own malloc
// and free. These settings ask for about 262 KiB in five blocks (zlib's
// (1 << (windowBits + 2)) + (1 << (memLevel + 9)) plus its state): a 64 KiB
// window, 64 KiB each of hash heads and chains, a 64 KiB symbol buffer.
struct DeflateMemory {
    void* (*allocate)(void* opaque, unsigned items, unsigned size) = nullptr;
    void (*release)(void* opaque, void* block) = nullptr;
    void* opaque = nullptr;
};

// cfitsio's deflate level for tiles.
constexpr int kGzipTileLevel = 1;

// Deflates one tile's elements. `algorithm` is Algorithm::gzip1 or gzip2
// (anything else is `unsupported`); GZIP_2 of 1-byte elements is GZIP_1, as
// cfitsio writes it. Floats are their IEEE bit patterns, integers two's
// complement. `truncated` when `out` is too small, `noMemory` when zlib got
// none. The elements are streamed through a small buffer on the stack: no
// copy of the tile is made.
Encoded gzipEncode(std::span<const uint8_t> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory = {});
Encoded gzipEncode(std::span<const int16_t> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory = {});
Encoded gzipEncode(std::span<const int32_t> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory = {});
Encoded gzipEncode(std::span<const int64_t> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory = {});
Encoded gzipEncode(std::span<const float> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory = {});
Encoded gzipEncode(std::span<const double> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory = {});

// The most bytes gzipEncode writes for `pixels` elements of `elementBytes`
// bytes (n = pixels * elementBytes input bytes): n + n/8 + n/256 + 32.
//
// Why it holds: zlib ends every deflate block with whichever of three codings
// is smallest, so no block is longer than its fixed-Huffman coding, and that
// spends at most 9 bits per input byte (literals take 8 or 9 bits; a match
// of L bytes takes a 7- or 8-bit length code with up to 5 extra bits, none
// below L = 11, and a 5-bit distance code with up to 13: at most 25 bits for
// 3 <= L <= 10 and 31 beyond, under 9 L either way) plus a 3-bit header and
// a 7-bit end code. A stored block instead costs its
// bytes plus 5 (and is chosen only when that is smaller still). Level 1 with
// memLevel 8 closes a block every 16383 symbols (each at least one byte),
// and stored blocks hold at most 65535 bytes, so there are at most
// n/16383 + 1 coded and n/65535 + 1 stored pieces: under n/2000 + 11 bytes
// of block overhead, within n/256 + 11. The bits round up to one more byte,
// and the gzip wrapper adds 18 (a 10-byte header, CRC-32 and length): 9n/8
// + n/256 + 30 <= n + n/8 + n/256 + 32. The test checks it against zlib's
// own deflateBound and against incompressible tiles.
uint64_t gzipMaxEncodedBytes(uint64_t pixels, size_t elementBytes);

}  // namespace nebulite::codecs
