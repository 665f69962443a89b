#include "codecs/raw_encode.h"

#include <bit>
#include <type_traits>

#include "codecs/big_endian.h"

namespace nebulite::codecs {

namespace {

template <typename T>
Encoded store(std::span<const T> pixels, std::span<uint8_t> out) {
    if (out.size() / sizeof(T) < pixels.size()) return {CodecResult::truncated, 0};
    uint8_t* p = out.data();
    for (const T v : pixels) {
        if constexpr (std::is_same_v<T, float>)
            storeBE32(p, std::bit_cast<uint32_t>(v));
        else if constexpr (std::is_same_v<T, double>)
            storeBE64(p, std::bit_cast<uint64_t>(v));
        else if constexpr (sizeof(T) == 1)
            *p = static_cast<uint8_t>(v);
        else if constexpr (sizeof(T) == 2)
            storeBE16(p, static_cast<uint16_t>(v));
        else if constexpr (sizeof(T) == 4)
            storeBE32(p, static_cast<uint32_t>(v));
        else
            storeBE64(p, static_cast<uint64_t>(v));
        p += sizeof(T);
    }
    return {CodecResult::ok, pixels.size() * sizeof(T)};
}

}  // namespace

Encoded rawEncode(std::span<const uint8_t> pixels, std::span<uint8_t> out) { return store(pixels, out); }
Encoded rawEncode(std::span<const int16_t> pixels, std::span<uint8_t> out) { return store(pixels, out); }
Encoded rawEncode(std::span<const int32_t> pixels, std::span<uint8_t> out) { return store(pixels, out); }
Encoded rawEncode(std::span<const int64_t> pixels, std::span<uint8_t> out) { return store(pixels, out); }
Encoded rawEncode(std::span<const float> pixels, std::span<uint8_t> out) { return store(pixels, out); }
Encoded rawEncode(std::span<const double> pixels, std::span<uint8_t> out) { return store(pixels, out); }

}  // namespace nebulite::codecs
