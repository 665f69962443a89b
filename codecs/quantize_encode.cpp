#include "codecs/quantize_encode.h"

#include <cmath>
#include <limits>

#include "codecs/dither_walk.h"
#include "codecs/noise_estimate.h"

namespace nebulite::codecs {

namespace {

// The integers the convention keeps for itself, from the null value up: no
// quantized pixel may land on them.
constexpr double kReservedValues = 10.0;
// Where a tile with nulls (and every SUBTRACTIVE_DITHER_2 tile) puts its
// lowest value: just above the reserved integers.
constexpr double kLowestLevel = static_cast<double>(kQuantizeNullValue) + kReservedValues;
constexpr double kIntMax = 2147483647.0;

// cfitsio's rounding to the nearest integer, half away from zero, or false
// where its conversion would be undefined (out of range, NaN).
bool nearest(double x, int32_t& out) {
    if (x >= 0.) {
        const double y = x + 0.5;
        if (!(y < 2147483648.0)) return false;
        out = static_cast<int32_t>(y);
    } else {
        const double y = x - 0.5;
        if (!(y > -2147483649.0)) return false;
        out = static_cast<int32_t>(y);
    }
    return true;
}

Quantized declined(bool anyNull) {
    Quantized q;
    q.anyNull = anyNull;
    return q;
}

template <typename T>
Quantized quantizeTile(std::span<const T> in, size_t columns, size_t rows, const QuantizeParams& p,
                       std::span<int32_t> out, std::span<uint8_t> scratch) {
    Quantized result;
    if (columns != 0 && rows > SIZE_MAX / columns) return {CodecResult::unsupported};
    const size_t n = columns * rows;
    if (in.size() != n || out.size() != n) return {CodecResult::unsupported};
    const bool dither = p.dither != Dither::none;
    if (dither && (p.ditherSeed < 1 || p.ditherSeed > static_cast<int64_t>(kDitherTableSize) || p.tileRow == 0))
        return {CodecResult::unsupported};
    if (scratch.size() < quantizeScratchBytes(columns, rows, sizeof(T))) return {CodecResult::unsupported};
    if (n <= 1) return result;

    // The range and the non-null count, in cfitsio's order (the first of
    // equal values wins, which tells 0.0 from -0.0).
    T minimum = std::numeric_limits<T>::max();
    T maximum = -std::numeric_limits<T>::max();
    size_t good = 0;
    for (const T x : in) {
        if (std::isnan(x)) continue;
        if (std::isinf(x)) return declined(good != n);
        if (x < minimum) minimum = x;
        if (x > maximum) maximum = x;
        ++good;
    }
    const bool anyNull = good != n;
    result.anyNull = anyNull;

    double delta;
    if (p.level >= 0.f) {
        double sigma;
        if (anyNull && good == 0) {
            // All nulls: placeholders, as cfitsio sets them.
            minimum = 0;
            maximum = 1;
            sigma = 1;
        } else {
            const NoiseEstimate e = estimateNoise(in, columns, rows, scratch);
            if (!e.usable) return declined(anyNull);
            // The smallest estimate that is not zero, the 3rd order's failing that.
            sigma = e.noise3;
            if (e.noise2 != 0. && e.noise2 < sigma) sigma = e.noise2;
            if (e.noise5 != 0. && e.noise5 < sigma) sigma = e.noise5;
        }
        delta = p.level == 0.f ? sigma / 4. : sigma / static_cast<double>(p.level);
        if (delta == 0.) return declined(anyNull);
    } else {
        delta = -static_cast<double>(p.level);
    }
    if (!std::isfinite(delta)) return declined(anyNull);

    // The span of levels must fit the integers. The difference is taken in
    // the pixels' own precision, as cfitsio takes it.
    const T width = maximum - minimum;
    if (static_cast<double>(width) / delta > 2. * kIntMax - kReservedValues) return declined(anyNull);

    const bool keepZeros = dither && p.dither == Dither::subtractive2;
    double zero;
    if (anyNull || keepZeros) {
        zero = static_cast<double>(minimum) - delta * kLowestLevel;
    } else if (static_cast<double>(width) / delta < kIntMax - kReservedValues) {
        // From the minimum, moved to a whole number of steps so that a file
        // packed, unpacked and packed again is scaled the same.
        const double steps = static_cast<double>(minimum) / delta + 0.5;
        if (!(std::fabs(steps) < 9.2e18)) return declined(anyNull);
        zero = static_cast<double>(static_cast<int64_t>(steps)) * delta;
    } else {
        // Centred on zero.
        zero = static_cast<double>(static_cast<T>(minimum + maximum)) / 2.;
    }
    if (!std::isfinite(zero)) return declined(anyNull);

    if (dither) {
        DitherWalk walk(p.ditherSeed, p.tileRow);
        for (size_t i = 0; i < n; ++i) {
            const T x = in[i];
            if (anyNull && std::isnan(x))
                out[i] = kQuantizeNullValue;
            else if (keepZeros && x == T(0))
                out[i] = kDitherZeroValue;
            else if (!nearest((static_cast<double>(x) - zero) / delta + walk.current() - 0.5, out[i]))
                return declined(anyNull);
            walk.advance();
        }
    } else {
        for (size_t i = 0; i < n; ++i) {
            const T x = in[i];
            if (anyNull && std::isnan(x))
                out[i] = kQuantizeNullValue;
            else if (!nearest((static_cast<double>(x) - zero) / delta, out[i]))
                return declined(anyNull);
        }
    }
    result.quantized = true;
    result.scale = delta;
    result.zero = zero;
    return result;
}

}  // namespace

size_t quantizeScratchBytes(size_t columns, size_t rows, size_t valueBytes) {
    return noiseScratchBytes(columns, rows, valueBytes);
}

Quantized quantize(std::span<const float> in, size_t columns, size_t rows, const QuantizeParams& p,
                   std::span<int32_t> out, std::span<uint8_t> scratch) {
    return quantizeTile(in, columns, rows, p, out, scratch);
}
Quantized quantize(std::span<const double> in, size_t columns, size_t rows, const QuantizeParams& p,
                   std::span<int32_t> out, std::span<uint8_t> scratch) {
    return quantizeTile(in, columns, rows, p, out, scratch);
}

}  // namespace nebulite::codecs
