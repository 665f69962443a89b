#include "codecs/plio.h"

#include <algorithm>
#include <cstddef>

#include "codecs/big_endian.h"

namespace nebulite::codecs {

namespace {

// The word the new list header puts in its third place.
constexpr int16_t kNewHeaderMark = -100;
// Instruction words: three bits of opcode above twelve bits of data.
constexpr int kDataBits = 12;
constexpr uint32_t kDataMask = (1u << kDataBits) - 1;

enum Opcode : uint32_t {
    kZeros = 0,       // D zeros
    kSetHigh = 1,     // high value = next word x 4096 + D
    kIncHigh = 2,     // high value += D
    kDecHigh = 3,     // high value -= D
    kHighRun = 4,     // D copies of the high value
    kZerosHigh = 5,   // D - 1 zeros, then the high value
    kIncOutput = 6,   // high value += D, then one high value
    kDecOutput = 7,   // high value -= D, then one high value
};

int16_t word(std::span<const uint8_t> in, size_t i) {
    return static_cast<int16_t>(loadBE16(in.data() + 2 * i));
}

}  // namespace

CodecResult plioDecode(std::span<const uint8_t> in, std::span<int32_t> out) {
    std::fill(out.begin(), out.end(), 0);
    if (in.size() % 2 != 0) return CodecResult::corrupt;
    const size_t words = in.size() / 2;
    if (words < 3) return CodecResult::truncated;

    size_t first = 0;
    size_t length = 0;
    if (word(in, 2) > 0) {
        // The first lists had a three-word header holding the length.
        length = static_cast<size_t>(word(in, 2));
        first = 3;
    } else {
        if (word(in, 2) != kNewHeaderMark) return CodecResult::corrupt;
        if (words < 5) return CodecResult::truncated;
        const auto low = static_cast<uint16_t>(word(in, 3));
        const auto high = static_cast<uint16_t>(word(in, 4));
        if (word(in, 1) < 5) return CodecResult::corrupt;
        first = static_cast<size_t>(word(in, 1));
        length = size_t{high} * 32768u + low;
    }
    if (length < first) return CodecResult::corrupt;
    if (length > words) return CodecResult::truncated;

    const size_t n = out.size();
    size_t x = 0;
    // Kept in 32 bits with wrap-around: valid lists stay below 2^24, and a
    // damaged one must not overflow a signed type.
    uint32_t high = 1;
    for (size_t ip = first; ip < length && x < n; ++ip) {
        const auto w = static_cast<uint16_t>(word(in, ip));
        const uint32_t data = w & kDataMask;
        switch ((w >> kDataBits) & 7u) {
            case kZeros: x += std::min<size_t>(data, n - x); break;
            case kSetHigh:
                if (ip + 1 >= length) return CodecResult::truncated;
                high = static_cast<uint32_t>(static_cast<int32_t>(word(in, ip + 1))) * 4096u + data;
                ++ip;
                break;
            case kIncHigh: high += data; break;
            case kDecHigh: high -= data; break;
            case kHighRun: {
                const size_t run = std::min<size_t>(data, n - x);
                std::fill_n(out.begin() + static_cast<ptrdiff_t>(x), run, static_cast<int32_t>(high));
                x += run;
                break;
            }
            case kZerosHigh:
                if (data == 0) break;
                x += std::min<size_t>(data - 1, n - x);
                if (x < n) out[x++] = static_cast<int32_t>(high);
                break;
            case kIncOutput:
                high += data;
                out[x++] = static_cast<int32_t>(high);
                break;
            case kDecOutput:
                high -= data;
                out[x++] = static_cast<int32_t>(high);
                break;
        }
    }
    return CodecResult::ok;
}

}  // namespace nebulite::codecs
