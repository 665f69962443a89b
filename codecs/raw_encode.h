// NOCOMPRESS tiles (the UNCOMPRESSED_DATA column): the tile's elements as
// plain big-endian values, integers two's complement, floats their IEEE bit
// patterns. The encoders' side of raw_tile.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

// Writes every element big-endian: pixels.size() * sizeof(element) bytes,
// or `truncated` (nothing written) when `out` is shorter.
Encoded rawEncode(std::span<const uint8_t> pixels, std::span<uint8_t> out);
Encoded rawEncode(std::span<const int16_t> pixels, std::span<uint8_t> out);
Encoded rawEncode(std::span<const int32_t> pixels, std::span<uint8_t> out);
Encoded rawEncode(std::span<const int64_t> pixels, std::span<uint8_t> out);
Encoded rawEncode(std::span<const float> pixels, std::span<uint8_t> out);
Encoded rawEncode(std::span<const double> pixels, std::span<uint8_t> out);

// Exactly the bytes rawEncode writes (saturating where the product
// would not fit).
constexpr uint64_t rawMaxEncodedBytes(uint64_t pixels, size_t elementBytes) {
    return elementBytes != 0 && pixels > UINT64_MAX / elementBytes ? UINT64_MAX : pixels * elementBytes;
}

}  // namespace nebulite::codecs
