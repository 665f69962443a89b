#include "mapping/robust_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace nebulite::mapping {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double medianOf(const ValueHistogram& h, PlaneSet planes, uint64_t n) {
    if (n % 2 == 1) return h.valueAt(planes, n / 2);
    return (h.valueAt(planes, n / 2 - 1) + h.valueAt(planes, n / 2)) / 2.0;
}

// How many values lie within d of `centre`.
uint64_t countWithin(const ValueHistogram& h, PlaneSet planes, double centre, double d) {
    return h.countAtMost(planes, centre + d) - h.countBelow(planes, centre - d);
}

// The deviation of rank k from `centre`: the smallest d with more than k
// values within d. Non-negative doubles order as their bit patterns do, so
// a search over those ends in at most 64 steps, whatever the scale.
double deviationAt(const ValueHistogram& h, PlaneSet planes, double centre, uint64_t k) {
    // Values are modelled within a bin of where they are; the widest
    // deviation allows for that.
    double widest = std::max(h.highest(planes) - centre, centre - h.lowest(planes)) + 2.0 * h.binWidth();
    auto lo = uint64_t{0};
    auto hi = std::bit_cast<uint64_t>(std::max(widest, 0.0));
    if (countWithin(h, planes, centre, 0.0) > k) return 0.0;
    while (hi - lo > 1) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (countWithin(h, planes, centre, std::bit_cast<double>(mid)) > k)
            hi = mid;
        else
            lo = mid;
    }
    return std::bit_cast<double>(hi);
}

}  // namespace

double percentile(const ValueHistogram& h, PlaneSet planes, double q) {
    uint64_t n = h.count(planes);
    if (n == 0) return kNaN;
    double rank = static_cast<double>(n - 1) * std::clamp(q, 0.0, 100.0) / 100.0;
    double below = std::floor(rank);
    auto r = static_cast<uint64_t>(below);
    double v = h.valueAt(planes, r);
    if (r + 1 >= n) return v;
    return v + (rank - below) * (h.valueAt(planes, r + 1) - v);
}

RobustStatistics robustStatistics(const ValueHistogram& h, PlaneSet planes) {
    uint64_t n = h.count(planes);
    if (n == 0) return {kNaN, kNaN};
    double med = medianOf(h, planes, n);
    double mad = n % 2 == 1 ? deviationAt(h, planes, med, n / 2)
                            : (deviationAt(h, planes, med, n / 2 - 1) + deviationAt(h, planes, med, n / 2)) / 2.0;
    return {med, kMadToSigma * mad};
}

}  // namespace nebulite::mapping
