#include "mapping/value_histogram.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace nebulite::mapping {

namespace {

constexpr int64_t kBins = static_cast<int64_t>(kHistogramBins);
// Lattice indices are kept within +-2^61, so that differences of two fit
// an int64 and no shift of one overflows.
constexpr double kLatticeLimit = 2305843009213693952.0;  // 2^61
// Shifts past 63 move every index to 0 or -1, as 63 does.
constexpr int kLargestShift = 63;
// From the smallest subnormal to the largest double is 2098 doublings:
// the grid never needs more.
constexpr int kMostDoublings = 2200;

int64_t shiftDown(int64_t k, int by) { return k >> std::min(by, kLargestShift); }

}  // namespace

void ValueHistogram::reset(std::size_t planes, std::optional<Lattice> lattice) {
    for (auto& plane : counts_) plane.fill(0);
    totals_.fill(0);
    lowest_.fill(std::numeric_limits<double>::infinity());
    highest_.fill(-std::numeric_limits<double>::infinity());
    planes_ = std::clamp<std::size_t>(planes, 1, kMaxPlanes);
    onLattice_ = lattice && lattice->step > 0.0 && std::isfinite(lattice->step) && std::isfinite(lattice->origin);
    lattice_ = onLattice_ ? *lattice : Lattice{};
    started_ = false;
    unit_ = onLattice_ ? lattice_.step : 1.0;
    shift_ = 0;
    first_ = 0;
}

double ValueHistogram::latticeIndex(double v) const {
    double n = std::nearbyint((v - lattice_.origin) / lattice_.step);
    return std::clamp(n, -kLatticeLimit, kLatticeLimit);
}

int64_t ValueHistogram::indexAt(double v, int shift) const {
    if (onLattice_) return shiftDown(static_cast<int64_t>(latticeIndex(v)), shift);
    return static_cast<int64_t>(std::floor(v / std::ldexp(unit_, shift)));
}

bool ValueHistogram::fits(double low, double high, int shift) const {
    if (onLattice_) return indexAt(high, shift) - indexAt(low, shift) < kBins;
    // In doubles: at a fine grid the indices of far values overflow an int64.
    double width = std::ldexp(unit_, shift);
    double span = std::floor(high / width) - std::floor(low / width);
    return span < static_cast<double>(kBins);  // false for inf and NaN
}

void ValueHistogram::start(double low, double high) {
    if (!onLattice_) {
        // The finest grid that keeps every index within 2^53 of 0 for data
        // near these values: a bin of one unit in the last place of the
        // largest. (Indices stay that small from then on: the grid widens
        // with the range.)
        double largest = std::max(std::fabs(low), std::fabs(high));
        unit_ = largest > 0.0 ? std::ldexp(1.0, std::max(std::ilogb(largest) - 52, -1074))
                              : std::numeric_limits<double>::denorm_min();
    }
    shift_ = 0;
    while (!fits(low, high, shift_) && shift_ < kMostDoublings) ++shift_;
    int64_t a = indexAt(low, shift_);
    int64_t b = indexAt(high, shift_);
    first_ = a - (kBins - (b - a + 1)) / 2;
    started_ = true;
}

void ValueHistogram::cover(double low, double high) {
    if (!started_) {
        start(low, high);
        return;
    }
    low = std::min(low, lowest(std::nullopt));
    high = std::max(high, highest(std::nullopt));
    int shift = shift_;
    while (!fits(low, high, shift) && shift < kMostDoublings) ++shift;
    if (shift > shift_) merge(shift - shift_);
    int64_t a = indexAt(low, shift_);
    int64_t b = indexAt(high, shift_);
    // Centred, the data has room to grow either way before the next move.
    if (a < first_ || b >= first_ + kBins) recentre(a - (kBins - (b - a + 1)) / 2);
}

void ValueHistogram::merge(int by) {
    // Bin i goes to bin r <= i of the coarser grid, whose first index is
    // first_ shifted down: read before written, in one forward pass.
    const int64_t coarseFirst = shiftDown(first_, by);
    for (std::size_t p = 0; p < planes_; ++p) {
        auto& c = counts_[p];
        for (std::size_t i = 0; i < kHistogramBins; ++i) {
            uint64_t n = c[i];
            if (n == 0) continue;
            c[i] = 0;
            auto r = static_cast<std::size_t>(shiftDown(first_ + static_cast<int64_t>(i), by) - coarseFirst);
            c[r] += n;
        }
    }
    first_ = coarseFirst;
    shift_ += by;
}

void ValueHistogram::recentre(int64_t first) {
    int64_t move = first_ - first;  // positive: the data moves to higher bins
    for (std::size_t p = 0; p < planes_; ++p) {
        auto& c = counts_[p];
        if (move >= kBins || move <= -kBins) {
            c.fill(0);  // nothing counted yet lies in the bins given up
        } else if (move > 0) {
            std::move_backward(c.begin(), c.end() - move, c.end());
            std::fill(c.begin(), c.begin() + move, 0);
        } else if (move < 0) {
            std::move(c.begin() - move, c.end(), c.begin());
            std::fill(c.end() + move, c.end(), 0);
        }
    }
    first_ = first;
}

void ValueHistogram::add(std::size_t plane, std::span<const double> values, double low, double high) {
    if (plane >= planes_ || values.empty() || !(low <= high)) return;
    cover(low, high);
    auto& c = counts_[plane];
    for (double v : values) ++c[static_cast<std::size_t>(indexAt(v, shift_) - first_)];
    totals_[plane] += values.size();
    lowest_[plane] = std::min(lowest_[plane], low);
    highest_[plane] = std::max(highest_[plane], high);
}

uint64_t ValueHistogram::count(PlaneSet planes) const {
    if (planes) return *planes < planes_ ? totals_[*planes] : 0;
    uint64_t n = 0;
    for (std::size_t p = 0; p < planes_; ++p) n += totals_[p];
    return n;
}

double ValueHistogram::lowest(PlaneSet planes) const {
    if (planes) return *planes < planes_ ? lowest_[*planes] : std::numeric_limits<double>::infinity();
    return *std::min_element(lowest_.begin(), lowest_.begin() + static_cast<std::ptrdiff_t>(planes_));
}

double ValueHistogram::highest(PlaneSet planes) const {
    if (planes) return *planes < planes_ ? highest_[*planes] : -std::numeric_limits<double>::infinity();
    return *std::max_element(highest_.begin(), highest_.begin() + static_cast<std::ptrdiff_t>(planes_));
}

double ValueHistogram::binWidth() const {
    if (onLattice_) return shift_ == 0 ? 0.0 : std::ldexp(lattice_.step, shift_);
    return std::ldexp(unit_, shift_);
}

ValueHistogram::Bin ValueHistogram::bin(std::size_t i) const {
    auto k = static_cast<double>(first_ + static_cast<int64_t>(i));
    if (onLattice_) {
        // The lattice points n of bin k: k 2^s <= n < (k + 1) 2^s.
        double points = std::ldexp(1.0, std::min(shift_, kLargestShift));
        return {lattice_.origin + lattice_.step * k * points, lattice_.step * (points - 1.0)};
    }
    double width = std::ldexp(unit_, shift_);
    return {k * width, width};
}

uint64_t ValueHistogram::binCount(PlaneSet planes, std::size_t i) const {
    if (planes) return *planes < planes_ ? counts_[*planes][i] : 0;
    uint64_t n = 0;
    for (std::size_t p = 0; p < planes_; ++p) n += counts_[p][i];
    return n;
}

double ValueHistogram::valueAt(PlaneSet planes, uint64_t rank) const {
    uint64_t total = count(planes);
    if (total == 0) return std::numeric_limits<double>::quiet_NaN();
    // The ends are known exactly.
    if (rank == 0) return lowest(planes);
    if (rank >= total - 1) return highest(planes);
    uint64_t below = 0;
    for (std::size_t i = 0; i < kHistogramBins; ++i) {
        uint64_t n = binCount(planes, i);
        if (rank < below + n) {
            Bin b = bin(i);
            double t = static_cast<double>(rank - below);
            double v = b.low + b.spread * (t + 0.5) / static_cast<double>(n);
            return std::clamp(v, lowest(planes), highest(planes));
        }
        below += n;
    }
    return highest(planes);
}

// In a bin of n values modelled at low + spread (t + 0.5) / n, t = 0..n-1:
// how many are at most (or, strictly, below) v.
uint64_t ValueHistogram::countAtMost(PlaneSet planes, double v) const {
    uint64_t total = 0;
    for (std::size_t i = 0; i < kHistogramBins; ++i) {
        uint64_t n = binCount(planes, i);
        if (n == 0) continue;
        Bin b = bin(i);
        if (b.low > v) break;
        if (b.spread == 0.0 || b.low + b.spread <= v) {
            total += n;
            continue;
        }
        double u = (v - b.low) * static_cast<double>(n) / b.spread;
        double k = std::floor(u - 0.5) + 1.0;
        total += static_cast<uint64_t>(std::clamp(k, 0.0, static_cast<double>(n)));
    }
    return total;
}

uint64_t ValueHistogram::countBelow(PlaneSet planes, double v) const {
    uint64_t total = 0;
    for (std::size_t i = 0; i < kHistogramBins; ++i) {
        uint64_t n = binCount(planes, i);
        if (n == 0) continue;
        Bin b = bin(i);
        if (b.low >= v) break;
        if (b.spread == 0.0 || b.low + b.spread < v) {
            total += n;
            continue;
        }
        double u = (v - b.low) * static_cast<double>(n) / b.spread;
        double k = std::ceil(u - 0.5);
        total += static_cast<uint64_t>(std::clamp(k, 0.0, static_cast<double>(n)));
    }
    return total;
}

}  // namespace nebulite::mapping
