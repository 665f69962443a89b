// The band demosaicer's contract: working memory of a few rows whatever the
// height, every pixel defined up to the smallest mosaics, and misuse refused.
#include <gtest/gtest.h>

#include <random>

#include "import/debayer/mirror.h"
#include "tests/debayer/debayer_support.h"

namespace {

using namespace debayer_test;
constexpr DemosaicMethod kMethods[] = {DemosaicMethod::bilinear, DemosaicMethod::quality};

TEST(Demosaicer, WorkingMemoryIsAFewRowsWhateverTheHeight) {
    // At most eight rows (plus two mirrored columns each side) of floats.
    constexpr uint64_t kContextRows = 8, kPad = 2;
    for (DemosaicMethod method : kMethods)
        for (uint64_t width : {2u, 3u, 1000u, 8192u, 300000u}) {
            const auto floats = demosaicWorkFloats({width, 2, CfaPattern::rggb, method});
            ASSERT_TRUE(floats.has_value());
            EXPECT_LE(*floats, (width + 2 * kPad) * kContextRows);
            for (uint64_t height : {3u, 8192u, 300000u, 1u << 31})
                EXPECT_EQ(demosaicWorkFloats({width, height, CfaPattern::rggb, method}), floats);
            // One float short is refused before anything is written.
            std::vector<float> work(*floats - 1);
            Demosaicer d;
            EXPECT_EQ(d.start({width, 100, CfaPattern::rggb, method}, work), DemosaicResult::workTooSmall);
        }
}

// Bilinear's definition, written out with the mirrored coordinates: each
// missing colour is the mean of the pixels of that colour in the 3x3 window.
// At the smallest sizes the window reflects off both edges at once.
TEST(Demosaicer, BilinearIsTheMirroredWindowMeanAtEverySize) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(0, 1000);
    for (uint64_t w = 2; w <= 6; ++w)
        for (uint64_t h = 2; h <= 6; ++h)
            for (CfaPattern p : {CfaPattern::rggb, CfaPattern::grbg, CfaPattern::gbrg, CfaPattern::bggr}) {
                std::vector<float> mosaic(w * h);
                for (float& v : mosaic) v = value(random);
                const Picture out = demosaic(mosaic, {w, h, p, DemosaicMethod::bilinear});
                ASSERT_EQ(out.width, w);
                for (uint64_t y = 0; y < h; ++y)
                    for (uint64_t x = 0; x < w; ++x)
                        for (int c = 0; c < 3; ++c) {
                            double sum = 0;
                            int count = 0;
                            for (int dy = -1; dy <= 1; ++dy)
                                for (int dx = -1; dx <= 1; ++dx) {
                                    const uint64_t yy = mirrorIndex(static_cast<int64_t>(y) + dy, h);
                                    const uint64_t xx = mirrorIndex(static_cast<int64_t>(x) + dx, w);
                                    if (static_cast<int>(colourAt(p, yy, xx)) != c) continue;
                                    if ((dy != 0 || dx != 0) && static_cast<int>(colourAt(p, y, x)) == c) continue;
                                    sum += mosaic[yy * w + xx], ++count;
                                }
                            EXPECT_NEAR(out.at(c, y, x), sum / count, 1e-3)
                                << w << "x" << h << " " << patternName(p) << " at " << y << "," << x << " c" << c;
                        }
            }
}

TEST(Demosaicer, QualityDefinesEveryPixelAtTheSmallestSizes) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(0, 65535);
    for (uint64_t w = 2; w <= 7; ++w)
        for (uint64_t h = 2; h <= 7; ++h)
            for (CfaPattern p : {CfaPattern::rggb, CfaPattern::grbg, CfaPattern::gbrg, CfaPattern::bggr}) {
                std::vector<float> mosaic(w * h);
                for (float& v : mosaic) v = value(random);
                const Picture out = demosaic(mosaic, {w, h, p, DemosaicMethod::quality});
                ASSERT_EQ(out.width, w);
                for (uint64_t y = 0; y < h; ++y)
                    for (uint64_t x = 0; x < w; ++x) {
                        EXPECT_EQ(out.at(static_cast<int>(colourAt(p, y, x)), y, x), mosaic[y * w + x]);
                        for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isfinite(out.at(c, y, x)));
                    }
            }
}

TEST(Demosaicer, RefusesMisuse) {
    for (DemosaicMethod method : kMethods) {
        for (const MosaicGeometry bad : {MosaicGeometry{1, 10, CfaPattern::rggb, method},
                                         MosaicGeometry{10, 1, CfaPattern::rggb, method},
                                         MosaicGeometry{kMaxMosaicSide + 1, 10, CfaPattern::rggb, method},
                                         MosaicGeometry{10, 10, CfaPattern::rggb, static_cast<DemosaicMethod>(9)}})
            EXPECT_FALSE(demosaicWorkFloats(bad).has_value());

        const MosaicGeometry g{4, 3, CfaPattern::rggb, method};
        std::vector<float> work(demosaicWorkFloats(g).value()), row(4, 1.0f), r(4), gr(4), b(4);
        Demosaicer d;
        EXPECT_EQ(d.pushRow(row), DemosaicResult::notStarted);
        EXPECT_EQ(d.nextRow(r, gr, b), DemosaicResult::notStarted);
        ASSERT_EQ(d.start(g, work), DemosaicResult::ok);
        EXPECT_EQ(d.pushRow(std::span<const float>(row).first(3)), DemosaicResult::wrongWidth);
        EXPECT_EQ(d.nextRow(r, gr, b), DemosaicResult::noRowReady);
        EXPECT_EQ(d.pushRow(row), DemosaicResult::ok);
        EXPECT_EQ(d.pushRow(row), DemosaicResult::ok);
        if (method == DemosaicMethod::bilinear) {
            // Row 0 is ready: the next row would take the slot it reads.
            EXPECT_EQ(d.pushRow(row), DemosaicResult::rowsWaiting);
            EXPECT_EQ(d.nextRow(std::span<float>(r).first(3), gr, b), DemosaicResult::wrongWidth);
            EXPECT_EQ(d.nextRow(r, gr, b), DemosaicResult::ok);
        }
        EXPECT_EQ(d.pushRow(row), DemosaicResult::ok);
        EXPECT_EQ(d.pushRow(row), DemosaicResult::tooManyRows);
        while (d.nextRow(r, gr, b) == DemosaicResult::ok) {
        }
        EXPECT_TRUE(d.done());
        EXPECT_EQ(d.nextRow(r, gr, b), DemosaicResult::noRowReady);
    }
}

}  // namespace
