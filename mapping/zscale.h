// IRAF's zscale, as astropy.visualization.ZScaleInterval computes it with its
// defaults (astropy 5.2, interval.py), on samples gathered in one pass.
//
// Sampling: astropy takes about 1000 values evenly spaced over the finite
// values in the order fed, every s-th from the first, s = max(1, floor(F /
// 1000)) for F finite values, and the first 1000 of those:
// `finite[::s][:1000]`. Two samplers run as the rows go by:
//  - over the positions, with the stride from the count known before the
//    data passes: astropy's samples exactly when no value is blank;
//  - over the finite values, keeping every t-th, t a power of two doubled
//    whenever 4096 are kept: exactly astropy's samples while F < 4096, and
//    otherwise, F being known at the end, the kept value nearest each of
//    astropy's positions (at most t / 2 <= s / 4 values away).
// The first answers when the data had no blank, the second otherwise.
//
// The interval, from the n sorted samples: fit a line to (i, sample_i) by
// least squares, reject the points more than 2.5 standard deviations
// (population) from it, grow every rejection to its neighbours (a window of
// max(1, floor(n / 100)) points), and fit again, at most 5 times, stopping
// when no more points are rejected or fewer than max(5, floor(n / 2)) are
// left. With enough left, the slope divided by the contrast 0.25 spans the
// interval around the median (c = floor((n - 1) / 2)):
//   low  = max(min, median - (c - 1) slope)
//   high = min(max, median + (n - c) slope)
// else the samples' minimum and maximum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace nebulite::mapping {

inline constexpr std::size_t kZscaleSamples = 1000;
inline constexpr double kZscaleContrast = 0.25;
inline constexpr double kZscaleRejection = 2.5;  // krej
inline constexpr double kZscaleMaxReject = 0.5;
inline constexpr std::size_t kZscaleMinPixels = 5;
inline constexpr int kZscaleIterations = 5;

inline constexpr std::size_t kFiniteKept = 4096;

class ZscaleSampler {
public:
    // `expected`: how many values (blanks included) will be fed in all.
    void reset(uint64_t expected);
    // The next values in the data's order; blanks (NaN, infinities) included.
    void add(std::span<const double> values);
    // The samples zscale runs on, into `out`; how many there are.
    std::size_t samples(std::span<double, kZscaleSamples> out) const;

private:
    // Over the positions.
    std::array<double, kZscaleSamples> positional_{};
    std::size_t positionalTaken_ = 0;
    uint64_t expected_ = 0;
    uint64_t stride_ = 1;
    uint64_t seen_ = 0;     // values fed so far
    uint64_t next_ = 0;     // the position of the next sample
    uint64_t visited_ = 0;  // sample positions passed
    // Over the finite values.
    std::array<double, kFiniteKept> finite_{};
    std::size_t finiteKept_ = 0;
    uint64_t finiteStride_ = 1;
    uint64_t finiteSeen_ = 0;
};

struct ZscaleLimits {
    double low = 0.0;
    double high = 0.0;
    bool found = false;  // false without samples
};

// The interval of these samples (at most 1000 are read).
ZscaleLimits zscaleLimits(std::span<const double> samples);

}  // namespace nebulite::mapping
