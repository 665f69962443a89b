// The preview stretch: where its black and white points fall, and curves
// that run from black to white without turning back.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/stretch.h"

namespace {

using namespace nebulite::cli;
using nebulite::host::Image;

Image greyOf(const std::vector<uint16_t>& samples, int planes = 1) {
    Image image;
    image.rows = 1;
    image.planes = static_cast<int16_t>(planes);
    image.columns = static_cast<int32_t>(samples.size()) / planes;
    image.depth = 16;
    image.allocate();
    image.wide = samples;
    return image;
}

std::vector<uint16_t> ramp(uint16_t from, uint16_t to) {
    std::vector<uint16_t> v;
    for (uint32_t x = from; x <= to; ++x) v.push_back(static_cast<uint16_t>(x));
    return v;
}

std::vector<uint16_t> join(std::vector<uint16_t> a, const std::vector<uint16_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct RangeCase {
    const char* name;
    std::vector<uint16_t> samples;
    int planes;
    uint32_t black;
    uint32_t white;
};

class StretchRangeOf : public ::testing::TestWithParam<RangeCase> {};

TEST_P(StretchRangeOf, LeavesAQuarterPercentEachSide) {
    const RangeCase& c = GetParam();
    StretchRange range = stretchRange(greyOf(c.samples, c.planes));
    EXPECT_EQ(range.black, c.black);
    EXPECT_EQ(range.white, c.white);
}

INSTANTIATE_TEST_SUITE_P(
    Images, StretchRangeOf,
    ::testing::Values(
        // 25 of 10000 samples at or below the black point, 25 at or above the white.
        RangeCase{"Ramp", ramp(1, 10000), 1, 25, 9976},
        // Blank pixels (0) and clipped ones (32768) are not the sky.
        RangeCase{"BlankBorderAndSaturatedStars",
                  join(join(std::vector<uint16_t>(3000, 0), ramp(1001, 2000)), std::vector<uint16_t>(500, 32768)), 1,
                  1003, 1998},
        // Percentiles that meet: the white point is the brightest sample.
        RangeCase{"FlatSkyAndOneStar", join(std::vector<uint16_t>(1000, 500), {600}), 1, 500, 600},
        // Nothing but the ends of the range: they count after all.
        RangeCase{"Mask", join(std::vector<uint16_t>(600, 0), std::vector<uint16_t>(400, 32768)), 1, 0, 32768},
        // One range for all three planes, so colours keep their balance.
        RangeCase{"RgbShared", join(join(ramp(1, 400), ramp(401, 800)), ramp(801, 1200)), 3, 3, 1198}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(StretchCurve, EveryCurveRunsFromBlackToWhiteAndOnlyUp) {
    for (std::string_view name : kStretchNames) {
        Stretch stretch = *stretchNamed(name);
        EXPECT_DOUBLE_EQ(stretchCurve(stretch, 0.0), 0.0) << name;
        EXPECT_NEAR(stretchCurve(stretch, 1.0), 1.0, 1e-12) << name;
        EXPECT_EQ(stretchCurve(stretch, -1.0), 0.0) << name;
        EXPECT_NEAR(stretchCurve(stretch, 2.0), 1.0, 1e-12) << name;
        for (int i = 1; i <= 1000; ++i)
            ASSERT_LT(stretchCurve(stretch, (i - 1) / 1000.0), stretchCurve(stretch, i / 1000.0)) << name << " " << i;
        // All but linear lift the faint end, which is what they are for.
        if (stretch != Stretch::linear) {
            EXPECT_GT(stretchCurve(stretch, 0.1), 0.2) << name;
        }
    }
    EXPECT_FALSE(stretchNamed("gamma"));
}

TEST(StretchPreview, MapsTheRangeOntoAllOfEightBits) {
    Image image = greyOf(join(std::vector<uint16_t>(10, 0), join(ramp(100, 1099), {32768})));
    Image preview = stretchPreview(image, Stretch::linear);
    ASSERT_EQ(preview.depth, 8);
    ASSERT_EQ(preview.narrow.size(), image.wide.size());
    StretchRange range = stretchRange(image);
    for (size_t i = 0; i < image.wide.size(); ++i) {
        uint32_t v = image.wide[i];
        if (v <= range.black) {
            ASSERT_EQ(preview.narrow[i], 0) << v;
        }
        if (v >= range.white) {
            ASSERT_EQ(preview.narrow[i], 255) << v;
        }
        if (i > 0 && image.wide[i - 1] <= v) {
            ASSERT_LE(preview.narrow[i - 1], preview.narrow[i]) << v;
        }
    }
    // A flat image has no range to spread: black, not a division by zero.
    Image flat = stretchPreview(greyOf(std::vector<uint16_t>(16, 7)), Stretch::asinh);
    EXPECT_EQ(flat.narrow, std::vector<uint8_t>(16, 0));
}

}  // namespace
