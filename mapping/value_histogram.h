// A histogram of one pass over the data, in bounded memory, whose order
// statistics carry a stated error.
//
// The bins are 65536 per plane, all of one width w on one grid, and the
// grid widens as the data does: w is always the smallest power of two
// (times the lattice step, for integer samples) for which every value seen
// so far fits in the bins, so w < 2 R / 65534 where R is the range of the
// data. Widening merges pairs of bins, so counts are never redistributed
// and nothing is lost. Within a bin the values are taken to be spread
// evenly; an order statistic read from the histogram therefore lies in the
// bin of the true one, within w of it: within 0.0031 % of the data's range.
//
// Integer images take their values from a lattice (BZERO + BSCALE n). Given
// that lattice, a bin holds one lattice point while the data spans at most
// 65536 of them (every 8- and 16-bit image): the order statistics are then
// exact.
//
// Memory: 65536 64-bit counts for each of up to 3 planes, 1.5 MiB in all,
// whatever the size of the image. The object is meant to live in memory the
// caller allocates; it holds no pointer and allocates nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace nebulite::mapping {

// The values an integer image can take: origin + step * n, n an integer
// (BZERO and |BSCALE|).
struct Lattice {
    double step = 1.0;
    double origin = 0.0;
};

inline constexpr std::size_t kHistogramBins = 65536;
inline constexpr std::size_t kMaxPlanes = 3;

// One plane, or (nullopt) all planes together.
using PlaneSet = std::optional<std::size_t>;

class ValueHistogram {
public:
    // Empties the histogram. A lattice whose step is not a positive finite
    // number is ignored.
    void reset(std::size_t planes, std::optional<Lattice> lattice);

    // Counts the values of one plane, all finite, of which `low` is the
    // smallest and `high` the largest.
    void add(std::size_t plane, std::span<const double> values, double low, double high);

    uint64_t count(PlaneSet planes) const;
    // The smallest and largest value counted: exact.
    double lowest(PlaneSet planes) const;
    double highest(PlaneSet planes) const;

    // The value of rank `rank` (0 the smallest; rank < count) as the
    // histogram models it: within binWidth() of the true one.
    double valueAt(PlaneSet planes, uint64_t rank) const;
    // How many modelled values are at most / below `v`.
    uint64_t countAtMost(PlaneSet planes, double v) const;
    uint64_t countBelow(PlaneSet planes, double v) const;

    // The width of a bin: a bound on the error of valueAt. 0 while every
    // bin holds a single lattice point.
    double binWidth() const;

private:
    struct Bin {
        double low;     // the smallest value the bin can hold
        double spread;  // the width over which its values are modelled
    };

    double latticeIndex(double v) const;
    int64_t indexAt(double v, int shift) const;
    bool fits(double low, double high, int shift) const;
    void start(double low, double high);
    void cover(double low, double high);
    void merge(int by);
    void recentre(int64_t first);
    Bin bin(std::size_t i) const;
    uint64_t binCount(PlaneSet planes, std::size_t i) const;

    std::array<std::array<uint64_t, kHistogramBins>, kMaxPlanes> counts_{};
    std::array<uint64_t, kMaxPlanes> totals_{};
    std::array<double, kMaxPlanes> lowest_{};
    std::array<double, kMaxPlanes> highest_{};
    std::size_t planes_ = 1;
    bool onLattice_ = false;
    Lattice lattice_{};
    bool started_ = false;
    double unit_ = 1.0;   // the bin width at shift 0
    int shift_ = 0;       // bins are unit_ * 2^shift_ wide
    int64_t first_ = 0;   // the grid index of counts_[p][0]
};

}  // namespace nebulite::mapping
