#include "codecs/rice_encode.h"

#include <bit>
#include <type_traits>

#include "codecs/bit_writer.h"
#include "codecs/rice_shape.h"

namespace nebulite::codecs {

namespace {

constexpr int kMaxBlockSize = 4096;

bool validBlockSize(int blockSize) { return blockSize >= 1 && blockSize <= kMaxBlockSize; }

// A pixel's bit pattern as a P-byte unsigned value held in 32 bits.
template <typename T>
constexpr uint32_t patternOf(T v) {
    return static_cast<uint32_t>(static_cast<std::make_unsigned_t<T>>(v));
}

// The difference of two P-byte values, wrapped to P bytes and mapped to a
// non-negative number: d >= 0 -> 2d, d < 0 -> -2d - 1 (0..2^(8P) - 1).
template <typename T>
constexpr uint32_t mappedDifference(uint32_t next, uint32_t last) {
    const uint32_t wrapped = next - last;
    // Sign-extend from P bytes: the difference as the P-byte signed type.
    const auto d = static_cast<int32_t>(static_cast<std::make_signed_t<T>>(static_cast<std::make_unsigned_t<T>>(wrapped)));
    return (static_cast<uint32_t>(d) << 1) ^ static_cast<uint32_t>(d >> 31);
}
static_assert(mappedDifference<int16_t>(0, 1) == 1 && mappedDifference<int16_t>(1, 0) == 2);
static_assert(mappedDifference<uint8_t>(0, 255) == 2 && mappedDifference<uint8_t>(255, 0) == 1);
static_assert(mappedDifference<int32_t>(0x80000000u, 0x7fffffffu) == 2);

template <typename T>
Encoded encode(std::span<const T> pixels, int blockSize, std::span<uint8_t> out) {
    constexpr int bytePix = static_cast<int>(sizeof(T));
    constexpr RiceShape shape = riceShapeFor(bytePix);
    if (!validBlockSize(blockSize)) return {CodecResult::unsupported, 0};
    if (pixels.empty()) return {CodecResult::ok, 0};

    BitWriter bits(out);
    uint32_t last = patternOf(pixels[0]);
    bits.put(last, shape.rawBits);

    const size_t total = pixels.size();
    for (size_t start = 0; start < total; start += static_cast<size_t>(blockSize)) {
        const size_t n = total - start < static_cast<size_t>(blockSize) ? total - start : static_cast<size_t>(blockSize);
        const T* block = pixels.data() + start;

        // First pass: the sum of the mapped differences, which picks the split.
        const uint32_t blockLast = last;
        uint64_t sum = 0;
        for (size_t k = 0; k < n; ++k) {
            const uint32_t next = patternOf(block[k]);
            sum += mappedDifference<T>(next, last);
            last = next;
        }
        // cfitsio's arithmetic, in double as it does it: the mean less about
        // a half, halved, and its bit length is the split.
        double mean = (static_cast<double>(sum) - static_cast<double>(n / 2) - 1.0) / static_cast<double>(n);
        if (mean < 0) mean = 0.0;
        const uint32_t half = static_cast<uint32_t>(mean) >> 1;
        const int fs = static_cast<int>(std::bit_width(half));

        // Second pass: the codes.
        uint32_t prev = blockLast;
        if (fs >= shape.fsMax) {
            // High entropy: the mapped differences as they are.
            bits.put(static_cast<uint32_t>(shape.fsMax + 1), shape.fsBits);
            for (size_t k = 0; k < n; ++k) {
                const uint32_t next = patternOf(block[k]);
                bits.put(mappedDifference<T>(next, prev), shape.rawBits);
                prev = next;
            }
        } else if (sum == 0) {
            // Every difference zero (fs is 0 then too).
            bits.put(0, shape.fsBits);
        } else {
            bits.put(static_cast<uint32_t>(fs + 1), shape.fsBits);
            const uint32_t lowMask = (uint32_t{1} << fs) - 1;
            for (size_t k = 0; k < n; ++k) {
                const uint32_t next = patternOf(block[k]);
                const uint32_t m = mappedDifference<T>(next, prev);
                prev = next;
                // The high part in unary (zeros, then a one), the low fs bits as they are.
                const uint32_t top = m >> fs;
                if (top < 32) {
                    bits.put(1, static_cast<int>(top) + 1);
                } else {
                    bits.putZeros(top);
                    bits.put(1, 1);
                }
                bits.put(m & lowMask, fs);
            }
        }
        if (bits.overflowed()) return {CodecResult::truncated, 0};
    }
    bits.flush();
    if (bits.overflowed()) return {CodecResult::truncated, 0};
    return {CodecResult::ok, bits.bytes()};
}

}  // namespace

Encoded riceEncode(std::span<const uint8_t> pixels, int blockSize, std::span<uint8_t> out) {
    return encode(pixels, blockSize, out);
}
Encoded riceEncode(std::span<const int16_t> pixels, int blockSize, std::span<uint8_t> out) {
    return encode(pixels, blockSize, out);
}
Encoded riceEncode(std::span<const int32_t> pixels, int blockSize, std::span<uint8_t> out) {
    return encode(pixels, blockSize, out);
}

uint64_t riceMaxEncodedBytes(uint64_t pixels, int bytePix, int blockSize) {
    if (bytePix != 1 && bytePix != 2 && bytePix != 4) return 0;
    if (!validBlockSize(blockSize)) return 0;
    if (pixels == 0) return 0;
    const RiceShape shape = riceShapeFor(bytePix);
    // No tile comes near 2^58 pixels; past that the products below could wrap.
    if (pixels > (uint64_t{1} << 58)) return UINT64_MAX;
    const uint64_t blocks = (pixels + static_cast<uint64_t>(blockSize) - 1) / static_cast<uint64_t>(blockSize);
    const uint64_t bits = blocks * static_cast<uint64_t>(shape.fsBits + 1) +
                          pixels * static_cast<uint64_t>(shape.rawBits + 1);
    return static_cast<uint64_t>(bytePix) + (bits + 7) / 8;
}

}  // namespace nebulite::codecs
