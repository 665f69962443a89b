// GZIP_1 and GZIP_2 tiles, and the GZIP_COMPRESSED_DATA fallback column
// (which is GZIP_1 of the tile's raw pixels): one gzip member inflated with
// zlib, then for GZIP_2 the bytes regrouped from significance planes back
// into big-endian elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

// zlib's working memory, so that the module can hand it its own allocator.
// Null members mean zlib's own malloc and free.
struct InflateMemory {
    void* (*allocate)(void* opaque, unsigned items, unsigned size) = nullptr;
    void (*release)(void* opaque, void* block) = nullptr;
    void* opaque = nullptr;
};

struct Inflated {
    CodecResult result;
    size_t bytes;  // bytes written to `out`
};

// Inflates one gzip (or zlib-wrapped) member into `out`. The member must end
// within `out`: a stream that would produce more is `corrupt`, one that
// stops before its end is `truncated`. The tile's element size is
// bytes / pixels, which the caller checks.
Inflated inflateTile(std::span<const uint8_t> in, std::span<uint8_t> out, const InflateMemory& memory = {});

// GZIP_2: `in` holds byte 0 (most significant) of every element, then byte 1
// of every element, ...; `out` gets the elements whole, still big-endian.
// Sizes must match and be a whole number of elements of 1, 2, 4 or 8 bytes.
CodecResult unshuffleBytes(std::span<const uint8_t> in, size_t elementBytes, std::span<uint8_t> out);

// The element size of an inflated tile of `pixels` pixels: 1, 2, 4 or 8, or
// 0 when the length is not a whole number of such elements.
constexpr size_t elementBytesOf(size_t inflatedBytes, size_t pixels) {
    if (pixels == 0 || inflatedBytes % pixels != 0) return 0;
    const size_t e = inflatedBytes / pixels;
    return e == 1 || e == 2 || e == 4 || e == 8 ? e : 0;
}

}  // namespace nebulite::codecs
