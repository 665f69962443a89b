#include "codecs/quantize.h"

#include <limits>

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

constexpr std::array<float, kDitherTableSize> kDitherTable = makeDitherTable(nullptr);

// Where in the table a pixel's random number comes from: the tile picks a
// starting entry from its row and the seed, the pixels walk on from there.
class DitherWalk {
public:
    DitherWalk(int64_t seed, uint64_t row) {
        first_ = static_cast<size_t>((row - 1 + static_cast<uint64_t>(seed) - 1) % kDitherTableSize);
        restart();
    }
    double current() const { return static_cast<double>(kDitherTable[index_]); }
    // After every pixel, nulls and dithered zeros included.
    void advance() {
        if (++index_ == kDitherTableSize) {
            if (++first_ == kDitherTableSize) first_ = 0;
            restart();
        }
    }

private:
    void restart() { index_ = static_cast<size_t>(500.0 * static_cast<double>(kDitherTable[first_])); }
    size_t first_ = 0;
    size_t index_ = 0;
};

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
