// The one-pass estimators against astropy.visualization on varied data
// (sky and stars, gradients, a constant, three pixels, blank borders,
// integers of 8, 16 and 32 bits, RGB, heavy tails, negative values, two
// modes, mostly blank, a pedestal most pixels sit on): minmax exactly,
// zscale and percentiles within the stated bound and always within 1 % of
// the data's range, and mtf's automatic parameters and levels against
// PixInsight's published method.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include "mapping/interval_estimator.h"
#include "mapping/transfer.h"
#include "reference_data.h"

using namespace nebulite::mapping;

namespace {

struct Expected {
    std::string name;
    std::size_t planes = 1, rows = 0, columns = 0;
    double step = 0, origin = 0;
    uint64_t blanks = 0;
    bool none = false;
    Window minmax, zscale, p995, p90;
    double c0 = 0, c1 = 1, m = 0.5, median = 0;
    bool hasMtf = false;
};

std::vector<Expected> readTable() {
    std::vector<Expected> out;
    std::ifstream in(mapping_reference::directory() / "intervals.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        Expected e;
        f >> e.name >> e.planes >> e.rows >> e.columns >> e.step >> e.origin >> e.blanks;
        std::string next;
        if (line.ends_with(" none")) {
            e.none = true;
        } else {
            f >> e.minmax.black >> e.minmax.white >> e.zscale.black >> e.zscale.white >> e.p995.black >> e.p995.white >>
                e.p90.black >> e.p90.white;
            e.hasMtf = static_cast<bool>(f >> e.c0 >> e.c1 >> e.m >> e.median);
        }
        out.push_back(e);
    }
    return out;
}

// Fed as the module would: row by row, plane after plane, in file order.
std::unique_ptr<IntervalEstimator> measure(const Expected& e, const std::vector<double>& data) {
    auto est = std::make_unique<IntervalEstimator>();
    EstimatorSetup setup;
    setup.expectedValues = data.size();
    setup.planes = e.planes;
    if (e.step > 0) setup.lattice = Lattice{e.step, e.origin};
    est->begin(setup);
    for (std::size_t p = 0; p < e.planes; ++p)
        for (std::size_t r = 0; r < e.rows; ++r)
            est->addRow(p, std::span<const double>(data).subspan((p * e.rows + r) * e.columns, e.columns));
    return est;
}

void expectWithin(const Window& ours, const Window& theirs, double tolerance, const std::string& what) {
    EXPECT_LE(std::fabs(ours.black - theirs.black), tolerance) << what << " black";
    EXPECT_LE(std::fabs(ours.white - theirs.white), tolerance) << what << " white";
}

}  // namespace

TEST(Intervals, OnePassAgreesWithAstropy) {
    REQUIRE_REFERENCE("intervals.txt");
    std::vector<Expected> table = readTable();
    ASSERT_GE(table.size(), 15u);
    for (const Expected& e : table) {
        std::vector<double> data = mapping_reference::readRaw<double>(e.name + ".f64");
        ASSERT_EQ(data.size(), e.planes * e.rows * e.columns) << e.name;
        auto est = measure(e, data);
        if (e.none) {
            EXPECT_FALSE(est->minmax()) << e.name;
            EXPECT_FALSE(est->zscale()) << e.name;
            EXPECT_FALSE(est->centralPercent(99.5)) << e.name;
            continue;
        }
        const double range = e.minmax.white - e.minmax.black;
        const double slack = 1e-9 * std::max(range, std::fabs(e.minmax.white));
        const double w = est->orderStatisticError();
        EXPECT_EQ(est->minmax()->black, e.minmax.black) << e.name;
        EXPECT_EQ(est->minmax()->white, e.minmax.white) << e.name;

        // Without blanks, or with fewer than 4096 values left, the samples are
        // astropy's: the same numbers. Otherwise the nearest kept ones:
        // within 1 % of the range.
        expectWithin(*est->zscale(), e.zscale, e.blanks == 0 || data.size() - e.blanks < 4096 ? slack : 0.01 * range, e.name + " zscale");

        // Within the stated bin width, and that within 1 % of the range.
        if (range > 0) {
            EXPECT_LE(w, 0.01 * range) << e.name;
        }
        expectWithin(*est->centralPercent(99.5), e.p995, w + slack, e.name + " 99.5 %");
        expectWithin(*est->centralPercent(90.0), e.p90, w + slack, e.name + " 90 %");
        if (e.step > 0 && range / e.step < 65536) {
            EXPECT_EQ(w, 0.0) << e.name << ": integer data are exact";
        }
    }
}

TEST(Intervals, AutomaticMtfAsPixInsightFindsIt) {
    REQUIRE_REFERENCE("intervals.txt");
    int exactSets = 0;
    for (const Expected& e : readTable()) {
        if (!e.hasMtf) continue;
        std::vector<double> data = mapping_reference::readRaw<double>(e.name + ".f64");
        auto est = measure(e, data);
        const double range = e.minmax.white - e.minmax.black;
        std::optional<MtfSettings> mtf = est->autoMtf(*est->minmax());
        ASSERT_TRUE(mtf) << e.name;
        double c0 = (mtf->window.black - e.minmax.black) / range;
        double c1 = (mtf->window.white - e.minmax.black) / range;
        // The median is within w of numpy's, the MAD within 2w: c0 within
        // (1 + 2.8 x 1.4826 x 2) w, normalised, and the midtone within what
        // that moves MTF(0.25, median - c0) (or MTF(c1 - median, 0.25)).
        const double w = est->orderStatisticError() / range;
        const double shadowsBound = 9.31 * w + 1e-12;
        EXPECT_LE(std::fabs(c0 - e.c0), shadowsBound) << e.name;
        EXPECT_LE(std::fabs(c1 - e.c1), shadowsBound) << e.name;
        const double d = 10.31 * w + 1e-12;
        bool inverted = e.c1 < 1.0 || e.median > 0.5;
        double lo = inverted ? midtonesTransfer(e.c1 - e.median - d, 0.25) : midtonesTransfer(0.25, e.median - e.c0 - d);
        double hi = inverted ? midtonesTransfer(e.c1 - e.median + d, 0.25) : midtonesTransfer(0.25, e.median - e.c0 + d);
        EXPECT_GE(mtf->midtone, std::min(lo, hi) - 1e-12) << e.name;
        EXPECT_LE(mtf->midtone, std::max(lo, hi) + 1e-12) << e.name;

        if (w != 0.0) continue;
        // Exact statistics: every sample's level within one of the formula's.
        ++exactSets;
        std::vector<uint16_t> levels = mapping_reference::readRaw<uint16_t>(e.name + ".mtf.u16");
        ASSERT_EQ(levels.size(), data.size());
        Transfer t{Curve::mtf, mtf->window.black, mtf->window.white, mtf->midtone, kTop16};
        int off = 0;
        for (std::size_t i = 0; i < data.size(); ++i) off += std::abs(mapSample(t, data[i]) - levels[i]) > 1;
        EXPECT_EQ(off, 0) << e.name;
    }
    EXPECT_GE(exactSets, 5);
}
