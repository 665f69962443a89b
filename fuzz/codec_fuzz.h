// What the codec fuzz targets share: parameters taken from the input's last
// bytes (so one input picks its road and its stream together) and a check
// that aborts with a message, for libFuzzer and the replayer alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

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

// ---- For the encoder targets ---------------------------------------------------

// The stream as elements of T (integers or floats), each from its bytes
// big-endian, at most kMaxFuzzPixels of them.
template <typename T>
std::vector<T> elementsOf(std::span<const uint8_t> stream) {
    size_t n = stream.size() / sizeof(T);
    if (n > kMaxFuzzPixels) n = kMaxFuzzPixels;
    std::vector<T> v(n);
    for (size_t i = 0; i < n; ++i) {
        unsigned char bytes[sizeof(T)];
        for (size_t b = 0; b < sizeof(T); ++b) bytes[b] = stream[i * sizeof(T) + sizeof(T) - 1 - b];
        std::memcpy(&v[i], bytes, sizeof(T));
    }
    return v;
}

// An encoder's output of `room` bytes followed by guard bytes, which no
// encoder may touch.
class GuardedOutput {
public:
    explicit GuardedOutput(size_t room) : bytes_(room + kGuard, kFill), room_(room) {}
    std::span<uint8_t> span() { return {bytes_.data(), room_}; }
    std::span<const uint8_t> written(size_t n) const { return {bytes_.data(), n}; }
    bool guardIntact() const {
        for (size_t i = room_; i < bytes_.size(); ++i)
            if (bytes_[i] != kFill) return false;
        return true;
    }

private:
    static constexpr size_t kGuard = 32;
    static constexpr uint8_t kFill = 0xa5;
    std::vector<uint8_t> bytes_;
    size_t room_;
};

// Less room than the encoder needed (`needed` bytes): a fraction picked by
// one tail byte, so that short outputs of every length are tried.
inline size_t shortRoom(size_t needed, uint8_t selector) {
    return needed == 0 ? 0 : static_cast<size_t>(selector) * needed / 256;
}

}  // namespace codec_fuzz
