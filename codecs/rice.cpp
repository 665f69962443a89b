#include "codecs/rice.h"

#include <bit>

#include "codecs/bit_reader.h"
#include "codecs/rice_shape.h"

namespace nebulite::codecs {

namespace {

// The mapped difference back to a signed difference (even -> m/2, odd -> -(m+1)/2),
// kept in 32 bits: wider streams wrap the same way when narrowed.
constexpr uint32_t unzigzag(uint32_t m) { return (m >> 1) ^ (0u - (m & 1u)); }

// The P-byte integer a running value stands for; P fixed per instantiation,
// so that the pixel loops do not ask it again.
template <typename T, int kBytePix>
inline T narrow(uint32_t v) {
    if constexpr (kBytePix == 1) return static_cast<T>(v & 0xffu);
    else if constexpr (kBytePix == 2) return static_cast<T>(static_cast<int16_t>(static_cast<uint16_t>(v)));
    else return static_cast<T>(static_cast<int32_t>(v));
}

// One Rice code the slow way: a run of zeros longer than the buffer (rare in
// real data; the zero feed past the end must not spin), or one that meets
// the end of the valid bits. False when the run goes past the input.
inline bool riceCodeSlow(BitReader& bits, int fs, uint32_t& value) {
    bits.refill();
    uint32_t top = 0;
    int zeros = bits.leadingZeros();
    while (zeros == bits.valid()) {
        top += static_cast<uint32_t>(zeros);
        bits.skip(zeros);
        if (bits.overrun()) return false;
        bits.refill();
        zeros = bits.leadingZeros();
    }
    top += static_cast<uint32_t>(zeros);
    bits.skip(zeros + 1);
    if (bits.valid() < fs) bits.refill();
    const uint32_t low = bits.peek(fs);
    bits.skip(fs);
    value = (top << fs) | low;
    return true;
}

// One Rice code of `fs` low bits (0..24, `step` = 2^fs): the zeros before
// the next 1 bit are the high part. The usual code fits the buffer after a
// refill at half empty, and is then taken in one count and one shift: the
// count, the sum and the shift are all that one pixel waits on the previous
// one for.
inline bool riceCode(BitReader& bits, int fs, uint32_t step, uint32_t& value) {
    if (bits.valid() < 32) bits.refill();
    const uint64_t window = bits.window();
    // With the lowest bit set the count needs no test for an empty window:
    // a window without a 1 in its valid bits counts at least valid() zeros
    // either way, and goes the slow way.
    const int zeros = std::countl_zero(window | 1u);
    const int used = zeros + 1 + fs;
    if (used > bits.valid()) [[unlikely]]
        return riceCodeSlow(bits, fs, value);
    // The code's `used` bits (1 to 63, so the shift is defined) read as a
    // number are the stop bit's 2^fs plus the low bits; the zeros count
    // 2^fs each. One shift and a multiply by the block's step, in place of
    // shifts by zeros and by fs. Wraps in 32 bits as the shifts would.
    const auto top = static_cast<uint32_t>(window >> (64 - used));
    value = top + (static_cast<uint32_t>(zeros) - 1u) * step;
    bits.drop(used);
    return true;
}

template <typename T, int kBytePix>
CodecResult decodeAs(std::span<const uint8_t> in, size_t blockSize, std::span<T> out) {
    constexpr RiceShape shape = riceShapeFor(kBytePix);
    uint32_t last = 0;
    for (int i = 0; i < kBytePix; ++i) last = (last << 8) | in[static_cast<size_t>(i)];

    BitReader bits(in.subspan(static_cast<size_t>(kBytePix)));
    const size_t total = out.size();
    size_t done = 0;
    while (done < total) {
        const size_t count = total - done < blockSize ? total - done : blockSize;
        T* dst = out.data() + done;
        const uint32_t code = bits.read(shape.fsBits);
        if (code == 0) {
            // Every difference is zero.
            const T v = narrow<T, kBytePix>(last);
            for (size_t k = 0; k < count; ++k) dst[k] = v;
        } else if (static_cast<int>(code) == shape.fsMax + 1) {
            for (size_t k = 0; k < count; ++k) {
                last += unzigzag(bits.read(shape.rawBits));
                dst[k] = narrow<T, kBytePix>(last);
            }
        } else if (static_cast<int>(code) > shape.fsMax + 1) {
            return CodecResult::corrupt;
        } else {
            const int fs = static_cast<int>(code) - 1;
            const uint32_t step = 1u << fs;
            for (size_t k = 0; k < count; ++k) {
                uint32_t mapped = 0;
                if (!riceCode(bits, fs, step, mapped)) return CodecResult::truncated;
                last += unzigzag(mapped);
                dst[k] = narrow<T, kBytePix>(last);
            }
        }
        if (bits.overrun()) return CodecResult::truncated;
        done += count;
    }
    return CodecResult::ok;
}

template <typename T>
CodecResult decode(std::span<const uint8_t> in, int bytePix, int blockSize, std::span<T> out) {
    if (bytePix != 1 && bytePix != 2 && bytePix != 4) return CodecResult::unsupported;
    if (blockSize <= 0 || blockSize > 4096) return CodecResult::unsupported;
    if (out.empty()) return CodecResult::ok;
    if (in.size() < static_cast<size_t>(bytePix)) return CodecResult::truncated;
    const auto block = static_cast<size_t>(blockSize);
    switch (bytePix) {
        case 1: return decodeAs<T, 1>(in, block, out);
        case 2: return decodeAs<T, 2>(in, block, out);
        default: return decodeAs<T, 4>(in, block, out);
    }
}

}  // namespace

uint64_t riceMaxPixels(uint64_t inBytes, int bytePix, int blockSize) {
    if (bytePix != 1 && bytePix != 2 && bytePix != 4) return 0;
    if (blockSize <= 0 || inBytes < static_cast<uint64_t>(bytePix)) return 0;
    const uint64_t bits = (inBytes - static_cast<uint64_t>(bytePix)) * 8;
    const uint64_t blocks = bits / static_cast<uint64_t>(riceShapeFor(bytePix).fsBits);
    return blocks * static_cast<uint64_t>(blockSize);
}

CodecResult riceDecode(std::span<const uint8_t> in, int bytePix, int blockSize, std::span<int32_t> out) {
    return decode(in, bytePix, blockSize, out);
}

CodecResult riceDecode(std::span<const uint8_t> in, int bytePix, int blockSize, std::span<int16_t> out) {
    // Four-byte values do not fit; 8-bit values (0..255) do.
    if (bytePix == 4) return CodecResult::unsupported;
    return decode(in, bytePix, blockSize, out);
}

}  // namespace nebulite::codecs
