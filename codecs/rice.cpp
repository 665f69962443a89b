#include "codecs/rice.h"

#include "codecs/bit_reader.h"
#include "codecs/rice_shape.h"

namespace nebulite::codecs {

namespace {

// The mapped difference back to a signed difference (even -> m/2, odd -> -(m+1)/2),
// kept in 32 bits: wider streams wrap the same way when narrowed.
constexpr uint32_t unzigzag(uint32_t m) { return (m >> 1) ^ (0u - (m & 1u)); }

// The P-byte integer a running value stands for.
template <typename T>
inline T narrow(uint32_t v, int bytePix) {
    switch (bytePix) {
        case 1: return static_cast<T>(v & 0xffu);
        case 2: return static_cast<T>(static_cast<int16_t>(static_cast<uint16_t>(v)));
        default: return static_cast<T>(static_cast<int32_t>(v));
    }
}

template <typename T>
CodecResult decode(std::span<const uint8_t> in, int bytePix, int blockSize, std::span<T> out);

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

namespace {

template <typename T>
CodecResult decode(std::span<const uint8_t> in, int bytePix, int blockSize, std::span<T> out) {
    if (bytePix != 1 && bytePix != 2 && bytePix != 4) return CodecResult::unsupported;
    if (blockSize <= 0 || blockSize > 4096) return CodecResult::unsupported;
    if (out.empty()) return CodecResult::ok;
    if (in.size() < static_cast<size_t>(bytePix)) return CodecResult::truncated;

    const RiceShape shape = riceShapeFor(bytePix);
    uint32_t last = 0;
    for (int i = 0; i < bytePix; ++i) last = (last << 8) | in[static_cast<size_t>(i)];

    BitReader bits(in.subspan(static_cast<size_t>(bytePix)));
    const size_t total = out.size();
    size_t done = 0;
    while (done < total) {
        const size_t count = total - done < static_cast<size_t>(blockSize) ? total - done
                                                                            : static_cast<size_t>(blockSize);
        T* dst = out.data() + done;
        const uint32_t code = bits.read(shape.fsBits);
        if (code == 0) {
            // Every difference is zero.
            const T v = narrow<T>(last, bytePix);
            for (size_t k = 0; k < count; ++k) dst[k] = v;
        } else if (static_cast<int>(code) == shape.fsMax + 1) {
            for (size_t k = 0; k < count; ++k) {
                last += unzigzag(bits.read(shape.rawBits));
                dst[k] = narrow<T>(last, bytePix);
            }
        } else if (static_cast<int>(code) > shape.fsMax + 1) {
            return CodecResult::corrupt;
        } else {
            const int fs = static_cast<int>(code) - 1;
            for (size_t k = 0; k < count; ++k) {
                bits.refill();
                uint32_t top = 0;
                int zeros = bits.leadingZeros();
                while (zeros == bits.valid()) {
                    // A run of zeros longer than the buffer; rare in real
                    // data, and the zero feed past the end must not spin.
                    top += static_cast<uint32_t>(zeros);
                    bits.skip(zeros);
                    if (bits.overrun()) return CodecResult::truncated;
                    bits.refill();
                    zeros = bits.leadingZeros();
                }
                top += static_cast<uint32_t>(zeros);
                bits.skip(zeros + 1);
                if (bits.valid() < fs) bits.refill();
                const uint32_t low = bits.peek(fs);
                bits.skip(fs);
                last += unzigzag((top << fs) | low);
                dst[k] = narrow<T>(last, bytePix);
            }
        }
        if (bits.overrun()) return CodecResult::truncated;
        done += count;
    }
    return CodecResult::ok;
}

}  // namespace

}  // namespace nebulite::codecs
