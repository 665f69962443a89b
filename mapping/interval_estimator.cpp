#include "mapping/interval_estimator.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace nebulite::mapping {

void IntervalEstimator::begin(const EstimatorSetup& setup) {
    planes_ = std::clamp<std::size_t>(setup.planes, 1, kMaxPlanes);
    histogram_.reset(planes_, setup.lattice);
    sampler_.reset(setup.expectedValues);
}

void IntervalEstimator::addRow(std::size_t plane, std::span<const double> values) {
    if (plane >= planes_) return;
    sampler_.add(values);
    // The histogram takes finite values with their extremes: gather them a
    // slice at a time in a fixed buffer.
    std::array<double, kSlice> finite{};
    for (std::size_t start = 0; start < values.size(); start += kSlice) {
        std::size_t end = std::min(values.size(), start + kSlice);
        std::size_t n = 0;
        double low = 0.0, high = 0.0;
        for (std::size_t i = start; i < end; ++i) {
            double v = values[i];
            if (!std::isfinite(v)) continue;
            if (n == 0 || v < low) low = n == 0 ? v : std::min(low, v);
            if (n == 0 || v > high) high = n == 0 ? v : std::max(high, v);
            finite[n++] = v;
        }
        if (n > 0) histogram_.add(plane, std::span<const double>(finite.data(), n), low, high);
    }
}

std::optional<Window> IntervalEstimator::minmax() const {
    if (definedCount() == 0) return std::nullopt;
    return Window{histogram_.lowest(std::nullopt), histogram_.highest(std::nullopt)};
}

std::optional<Window> IntervalEstimator::centralPercent(double percent) const {
    if (definedCount() == 0) return std::nullopt;
    double cut = (100.0 - percent) / 2.0;
    return Window{mapping::percentile(histogram_, std::nullopt, cut),
                  mapping::percentile(histogram_, std::nullopt, 100.0 - cut)};
}

std::optional<Window> IntervalEstimator::zscale() const {
    std::array<double, kZscaleSamples> samples{};
    std::size_t n = sampler_.samples(samples);
    ZscaleLimits limits = zscaleLimits(std::span<const double>(samples.data(), n));
    if (!limits.found) return std::nullopt;
    return Window{limits.low, limits.high};
}

RobustStatistics IntervalEstimator::statistics(std::size_t plane) const {
    return robustStatistics(histogram_, plane);
}

std::optional<MtfSettings> IntervalEstimator::autoMtf(const Window& window) const {
    if (definedCount() == 0 || !(window.white > window.black)) return std::nullopt;
    const double range = window.white - window.black;
    std::array<RobustStatistics, kMaxPlanes> normalised{};
    std::size_t channels = 0;
    for (std::size_t p = 0; p < planes_; ++p) {
        RobustStatistics s = statistics(p);
        if (std::isnan(s.median)) continue;  // a plane without a defined value
        normalised[channels++] = {std::clamp((s.median - window.black) / range, 0.0, 1.0), s.madn / range};
    }
    MtfParameters m = mapping::autoMtf(std::span<const RobustStatistics>(normalised.data(), channels));
    MtfSettings out;
    out.window = {window.black + m.shadows * range, window.black + m.highlights * range};
    out.midtone = m.midtone;
    return out;
}

}  // namespace nebulite::mapping
