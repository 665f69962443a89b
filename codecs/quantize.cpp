#include "codecs/quantize.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>

#include "codecs/big_endian.h"
#include "codecs/dither_walk.h"

namespace nebulite::codecs {

namespace {

// Park and Miller's minimal standard generator (a = 16807, m = 2^31 - 1) from
// seed 1, evaluated in double precision as the convention's appendix does,
// each value stored as a float.
constexpr std::array<float, kDitherTableSize> makeDitherTable(double* finalSeed) {
    constexpr double a = 16807.0;
    constexpr double m = 2147483647.0;
    std::array<float, kDitherTableSize> table{};
    double seed = 1.0;
    for (size_t i = 0; i < kDitherTableSize; ++i) {
        const double t = a * seed;
        seed = t - m * static_cast<double>(static_cast<int64_t>(t / m));
        table[i] = static_cast<float>(seed / m);
    }
    if (finalSeed != nullptr) *finalSeed = seed;
    return table;
}

constexpr double finalSeed() {
    double seed = 0;
    makeDitherTable(&seed);
    return seed;
}
// The check value the generator's authors give for the 10000th draw.
static_assert(finalSeed() == 1043618065.0);

// Computed by the compiler: constant data in the library, nothing written at
// run time (the module keeps no run-time-written statics).
constexpr std::array<float, kDitherTableSize> kDitherTable = makeDitherTable(nullptr);
static_assert(kDitherTable[0] == static_cast<float>(16807.0 / 2147483647.0));

// Unquantized values are computed a chunk at a time into their float bits
// (a loop that vectorises), then stored: into the caller's floats, or
// big-endian into the image's samples. Every value is computed in double and
// narrowed to the float type before it is stored, whichever store.
constexpr size_t kChunk = 256;

template <typename Float>
using FloatBits = std::conditional_t<sizeof(Float) == 4, uint32_t, uint64_t>;

template <typename Float>
struct ToFloats {
    Float* out;
    void operator()(size_t first, const FloatBits<Float>* bits, size_t count) const {
        std::memcpy(out + first, bits, count * sizeof(Float));
    }
};
template <typename Float>
struct ToBigEndian {
    uint8_t* out;
    void operator()(size_t first, const FloatBits<Float>* bits, size_t count) const {
        uint8_t* to = out + first * sizeof(Float);
        for (size_t k = 0; k < count; ++k) storeBigEndian<FloatBits<Float>>(to + k * sizeof(Float), bits[k]);
    }
};

// What one pixel becomes, the null test last so that it wins (a null value
// could equal the zero mark). The choices are masks on the value's bits,
// with the tests fixed per loop.
template <typename Float, bool kNull, bool kZeros>
inline FloatBits<Float> pixel(int32_t v, Float value, int32_t nullValue) {
    using Bits = FloatBits<Float>;
    constexpr Bits nan = std::bit_cast<Bits>(std::numeric_limits<Float>::quiet_NaN());
    Bits bits = std::bit_cast<Bits>(value);
    if constexpr (kZeros) bits &= static_cast<Bits>(v == kDitherZeroValue) - 1u;  // +0.0
    if constexpr (kNull) {
        const Bits null = Bits{0} - static_cast<Bits>(v == nullValue);
        bits = (bits & ~null) | (nan & null);
    }
    return bits;
}

// `count` dithered pixels from `first`, whose random numbers are the
// `dither` entries in order.
template <typename Float, bool kNull, bool kZeros, typename Store>
void ditheredRun(const int32_t* in, const float* dither, size_t first, size_t count, const Unquantize& p,
                 Store store) {
    const double scale = p.scale;
    const double zero = p.zero;
    const int32_t nullValue = p.nullValue;
    FloatBits<Float> bits[kChunk];
    for (size_t done = 0; done < count; done += kChunk) {
        const size_t m = std::min(kChunk, count - done);
        const int32_t* ints = in + first + done;
        const float* random = dither + done;
        for (size_t k = 0; k < m; ++k) {
            const auto value = static_cast<Float>(
                (static_cast<double>(ints[k]) - static_cast<double>(random[k]) + 0.5) * scale + zero);
            bits[k] = pixel<Float, kNull, kZeros>(ints[k], value, nullValue);
        }
        store(first + done, bits, m);
    }
}

template <typename Float, bool kNull, typename Store>
void undithered(std::span<const int32_t> in, const Unquantize& p, Store store) {
    const double scale = p.scale;
    const double zero = p.zero;
    const int32_t nullValue = p.nullValue;
    FloatBits<Float> bits[kChunk];
    for (size_t done = 0; done < in.size(); done += kChunk) {
        const size_t m = std::min(kChunk, in.size() - done);
        const int32_t* ints = in.data() + done;
        for (size_t k = 0; k < m; ++k) {
            const auto value = static_cast<Float>(static_cast<double>(ints[k]) * scale + zero);
            bits[k] = pixel<Float, kNull, false>(ints[k], value, nullValue);
        }
        store(done, bits, m);
    }
}

template <typename Float, bool kNull, bool kZeros, typename Store>
void dithered(std::span<const int32_t> in, const Unquantize& p, Store store) {
    DitherWalk walk(p.ditherSeed, p.tileRow);
    size_t done = 0;
    while (done < in.size()) {
        const size_t count = std::min(in.size() - done, walk.run());
        ditheredRun<Float, kNull, kZeros>(in.data(), walk.entries(), done, count, p, store);
        walk.skip(count);
        done += count;
    }
}

template <typename Float, typename Store>
CodecResult unquantizeInto(std::span<const int32_t> in, const Unquantize& p, Store store) {
    if (p.dither == Dither::none) {
        if (p.hasNull) undithered<Float, true>(in, p, store);
        else undithered<Float, false>(in, p, store);
        return CodecResult::ok;
    }
    if (p.ditherSeed < 1 || p.ditherSeed > static_cast<int64_t>(kDitherTableSize) || p.tileRow == 0)
        return CodecResult::unsupported;
    const bool keepZeros = p.dither == Dither::subtractive2;
    if (p.hasNull) {
        if (keepZeros) dithered<Float, true, true>(in, p, store);
        else dithered<Float, true, false>(in, p, store);
    } else {
        if (keepZeros) dithered<Float, false, true>(in, p, store);
        else dithered<Float, false, false>(in, p, store);
    }
    return CodecResult::ok;
}

template <typename Float>
CodecResult unquantizeTo(std::span<const int32_t> in, const Unquantize& p, std::span<Float> out) {
    if (in.size() != out.size()) return CodecResult::unsupported;
    return unquantizeInto<Float>(in, p, ToFloats<Float>{out.data()});
}

}  // namespace

const std::array<float, kDitherTableSize>& ditherTable() { return kDitherTable; }

CodecResult unquantize(std::span<const int32_t> in, const Unquantize& p, std::span<float> out) {
    return unquantizeTo(in, p, out);
}
CodecResult unquantize(std::span<const int32_t> in, const Unquantize& p, std::span<double> out) {
    return unquantizeTo(in, p, out);
}

CodecResult unquantizeBigEndian(std::span<const int32_t> in, const Unquantize& p, size_t floatBytes,
                                std::span<uint8_t> out) {
    if ((floatBytes != 4 && floatBytes != 8) || out.size() / floatBytes != in.size() ||
        out.size() % floatBytes != 0)
        return CodecResult::unsupported;
    if (floatBytes == 4) return unquantizeInto<float>(in, p, ToBigEndian<float>{out.data()});
    return unquantizeInto<double>(in, p, ToBigEndian<double>{out.data()});
}

}  // namespace nebulite::codecs
