#include "codecs/quantize.h"

#include <bit>
#include <cstring>

#include "codecs/big_endian.h"
#include "codecs/unquantize_kernel.h"

namespace nebulite::codecs {

namespace {

using namespace unquantizing;

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

// Every offset lies in [0, 1): a pixel's value then stays within half a step
// of its integer's, so that the extremes of a tile's values lie among the
// pixels at its extreme integers (codecs/unquantize_range.cpp).
constexpr bool offsetsBelowOne() {
    for (float v : kDitherTable)
        if (!(v >= 0.0f && v < 1.0f)) return false;
    return true;
}
static_assert(offsetsBelowOne());

// Where unquantized values go: the caller's floats, or big-endian into the
// image's samples.
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

template <typename Float>
CodecResult unquantizeTo(std::span<const int32_t> in, const Unquantize& p, std::span<Float> out) {
    if (in.size() != out.size()) return CodecResult::unsupported;
    return unquantizeInto<Float>(in, p, 0, in.size(), ToFloats<Float>{out.data()});
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
    if (floatBytes == 4) return unquantizeInto<float>(in, p, 0, in.size(), ToBigEndian<float>{out.data()});
    return unquantizeInto<double>(in, p, 0, in.size(), ToBigEndian<double>{out.data()});
}

}  // namespace nebulite::codecs
