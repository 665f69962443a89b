// What the codec fuzz targets share: parameters taken from the input's last
// bytes (so one input picks its road and its stream together) and a check
// that aborts with a message, for libFuzzer and the replayer alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace codec_fuzz {

[[noreturn]] inline void fail(const char* rule) {
    std::fprintf(stderr, "\nnebulite codec fuzz check failed: %s\n", rule);
    std::fflush(stderr);
    std::abort();
}

#define CODEC_CHECK(condition)                        \
    do {                                              \
        if (!(condition)) ::codec_fuzz::fail(#condition); \
    } while (0)

// Splits `size` bytes into a stream and a tail of `tailBytes` parameters;
// false when the input is too short to have the tail.
struct Split {
    std::span<const uint8_t> stream;
    const uint8_t* tail = nullptr;
};
inline bool splitTail(const uint8_t* data, size_t size, size_t tailBytes, Split& out) {
    if (size < tailBytes) return false;
    out.stream = std::span<const uint8_t>(data, size - tailBytes);
    out.tail = data + size - tailBytes;
    return true;
}

inline uint32_t tailU16(const uint8_t* p) { return static_cast<uint32_t>(p[0] << 8 | p[1]); }

// Decoded tiles are capped so that a run spends its time in the decoders,
// not in filling memory: 2^16 pixels, more than a default row tile of most
// images and enough for 2-D tiles of every shape the codecs special-case.
constexpr size_t kMaxFuzzPixels = size_t{1} << 16;

}  // namespace codec_fuzz
