#include "codecs/quantize.h"

#include <limits>

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

template <typename Float>
CodecResult unquantizeTo(std::span<const int32_t> in, const Unquantize& p, std::span<Float> out) {
    if (in.size() != out.size()) return CodecResult::unsupported;
    constexpr Float nan = std::numeric_limits<Float>::quiet_NaN();
    const size_t n = in.size();
    if (p.dither == Dither::none) {
        for (size_t i = 0; i < n; ++i) {
            const int32_t v = in[i];
            out[i] = p.hasNull && v == p.nullValue
                         ? nan
                         : static_cast<Float>(static_cast<double>(v) * p.scale + p.zero);
        }
        return CodecResult::ok;
    }
    if (p.ditherSeed < 1 || p.ditherSeed > static_cast<int64_t>(kDitherTableSize) || p.tileRow == 0)
        return CodecResult::unsupported;
    const bool keepZeros = p.dither == Dither::subtractive2;
    DitherWalk walk(p.ditherSeed, p.tileRow);
    for (size_t i = 0; i < n; ++i) {
        const int32_t v = in[i];
        // The null test comes first: a null value could equal the zero mark.
        if (p.hasNull && v == p.nullValue)
            out[i] = nan;
        else if (keepZeros && v == kDitherZeroValue)
            out[i] = 0;
        else
            out[i] = static_cast<Float>((static_cast<double>(v) - walk.current() + 0.5) * p.scale + p.zero);
        walk.advance();
    }
    return CodecResult::ok;
}

}  // namespace

const std::array<float, kDitherTableSize>& ditherTable() { return kDitherTable; }

CodecResult unquantize(std::span<const int32_t> in, const Unquantize& p, std::span<float> out) {
    return unquantizeTo(in, p, out);
}
CodecResult unquantize(std::span<const int32_t> in, const Unquantize& p, std::span<double> out) {
    return unquantizeTo(in, p, out);
}

}  // namespace nebulite::codecs
