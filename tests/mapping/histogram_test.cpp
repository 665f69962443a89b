// The one-pass histogram against the sorted data itself, on streams made to
// stress its growing grid: values that widen by orders of magnitude row
// after row, both signs, subnormals, the ends of the double range, a
// gradient that walks off one end. Every order statistic must lie within
// the bin width it reports of the true one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mapping/robust_statistics.h"
#include "mapping/value_histogram.h"

using namespace nebulite::mapping;

namespace {

struct Stream {
    std::string name;
    std::vector<std::vector<double>> rows;
};

std::vector<Stream> streams() {
    std::mt19937_64 random(7);
    std::normal_distribution<double> normal;
    std::vector<Stream> out;
    Stream widening{"widening by decades"};
    for (int r = 0; r < 40; ++r) {
        std::vector<double> row;
        for (int i = 0; i < 50; ++i) row.push_back(std::pow(10.0, r / 2 - 8) * normal(random));
        widening.rows.push_back(row);
    }
    out.push_back(widening);
    Stream walk{"gradient walking down"};
    for (int r = 0; r < 300; ++r) {
        std::vector<double> row;
        for (int i = 0; i < 30; ++i) row.push_back(-0.37 * (r * 30 + i) + 0.01 * normal(random));
        walk.rows.push_back(row);
    }
    out.push_back(walk);
    const double tiny = std::numeric_limits<double>::denorm_min(), big = std::numeric_limits<double>::max();
    out.push_back({"ends of the double range", {{0.0, tiny, 3 * tiny}, {1.0, -1.0}, {big, -big, 0.5 * big}, {0.0}}});
    out.push_back({"zeros, then one", {{0.0, 0.0, 0.0}, {0.0}, {1.0}}});
    Stream clustered{"a narrow cluster far from zero"};
    for (int r = 0; r < 20; ++r) {
        std::vector<double> row;
        for (int i = 0; i < 100; ++i) row.push_back(1e12 + 1e-3 * normal(random));
        clustered.rows.push_back(row);
    }
    clustered.rows.push_back({1e12 + 5.0});
    out.push_back(clustered);
    return out;
}

}  // namespace

TEST(ValueHistogram, OrderStatisticsWithinTheBinWidthOfTheSortedData) {
    auto h = std::make_unique<ValueHistogram>();
    for (const Stream& s : streams()) {
        h->reset(1, std::nullopt);
        std::vector<double> all;
        for (const std::vector<double>& row : s.rows) {
            auto [lo, hi] = std::minmax_element(row.begin(), row.end());
            h->add(0, row, *lo, *hi);
            all.insert(all.end(), row.begin(), row.end());
        }
        std::sort(all.begin(), all.end());
        ASSERT_EQ(h->count(0), all.size()) << s.name;
        const double w = h->binWidth();
        const double range = all.back() - all.front();
        // The bound the grid promises: under 2 R / 65534 (or the first grid's unit).
        if (std::isfinite(range) && range > 0) {
            EXPECT_LE(w, std::max(2.0 * range / 65534.0, std::ldexp(std::fabs(all.back()), -52))) << s.name;
        }
        for (std::size_t r = 0; r < all.size(); ++r) {
            double v = h->valueAt(0, r);
            EXPECT_LE(std::fabs(v - all[r]), w) << s.name << " rank " << r;
        }
    }
}

TEST(ValueHistogram, IntegerLatticesAreExact) {
    // A 16-bit image through BSCALE 0.25 and BZERO -100: 65536 levels, all exact.
    auto h = std::make_unique<ValueHistogram>();
    h->reset(1, Lattice{0.25, -100.0});
    std::mt19937_64 random(3);
    std::vector<double> all;
    for (int r = 0; r < 64; ++r) {
        std::vector<double> row;
        for (int i = 0; i < 256; ++i) row.push_back(-100.0 + 0.25 * static_cast<double>(random() % 65536) - 8192.0);
        auto [lo, hi] = std::minmax_element(row.begin(), row.end());
        h->add(0, row, *lo, *hi);
        all.insert(all.end(), row.begin(), row.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(h->binWidth(), 0.0);
    for (std::size_t r = 0; r < all.size(); r += 7) EXPECT_EQ(h->valueAt(0, r), all[r]) << r;
    // MAD computed from the sorted data, the long way.
    std::size_t n = all.size();
    double median = (all[n / 2 - 1] + all[n / 2]) / 2.0;
    std::vector<double> deviations;
    for (double v : all) deviations.push_back(std::fabs(v - median));
    std::sort(deviations.begin(), deviations.end());
    double mad = (deviations[n / 2 - 1] + deviations[n / 2]) / 2.0;
    RobustStatistics s = robustStatistics(*h, 0);
    EXPECT_EQ(s.median, median);
    EXPECT_DOUBLE_EQ(s.madn, 1.4826 * mad);
}
