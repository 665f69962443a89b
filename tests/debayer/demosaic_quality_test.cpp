// The quality method against bilinear, both measured against the original
// picture: colour PSNR over real photographs, and the colour of stars.
#include <gtest/gtest.h>

#include <random>

#include "tests/debayer/debayer_support.h"

namespace {

using namespace debayer_test;

TEST(DebayerQuality, BeatsBilinearOnRealPictures) {
    double gainSum = 0;
    int measured = 0;
    std::printf("%-24s %9s %9s %7s\n", "picture", "bilinear", "quality", "gain");
    for (const std::string& name : kPictures) {
        const Picture picture = loadPicture(name);
        if (picture.width == 0) GTEST_SKIP() << "cannot read " << name << " (python3-skimage, imagemagick)";
        // Each picture through another layout, so that all four are measured.
        const auto pattern = static_cast<CfaPattern>(measured % 4);
        const std::vector<float> mosaic = mosaicOf(picture, pattern);
        const double bilinear =
            colourPsnr(picture, demosaic(mosaic, {picture.width, picture.height, pattern, DemosaicMethod::bilinear}));
        const double quality =
            colourPsnr(picture, demosaic(mosaic, {picture.width, picture.height, pattern, DemosaicMethod::quality}));
        std::printf("%-24s %6.2f dB %6.2f dB %+6.2f\n", name.c_str(), bilinear, quality, quality - bilinear);
        EXPECT_GT(quality, bilinear) << name;
        gainSum += quality - bilinear;
        ++measured;
    }
    std::printf("mean gain %+.2f dB over %d pictures\n", gainSum / measured, measured);
    EXPECT_GE(gainSum / measured, 1.5);
}

// A star field: Gaussian stars of several colours and widths, the brightest
// saturated, on a noisy sky. Near the stars, where bilinear paints coloured
// fringes, the quality method must be far closer in colour.
TEST(DebayerQuality, StarsKeepTheirColour) {
    Picture sky;
    sky.width = 400, sky.height = 300;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> uniform(0, 1);
    std::normal_distribution<double> noise(0, 2);
    std::vector<double> field[3];
    for (auto& plane : field) plane.assign(sky.width * sky.height, 20);
    for (int s = 0; s < 300; ++s) {
        const double cx = uniform(random) * 400, cy = uniform(random) * 300;
        const double sigma = (1.2 + 1.8 * uniform(random)) / 2.355, peak = std::pow(10, 1 + 2.5 * uniform(random));
        const double tint = uniform(random), colour[3] = {0.7 + 0.5 * tint, 1.0, 1.2 - 0.5 * tint};
        for (int y = static_cast<int>(cy) - 10; y <= cy + 10; ++y)
            for (int x = static_cast<int>(cx) - 10; x <= cx + 10; ++x) {
                if (x < 0 || y < 0 || x >= 400 || y >= 300) continue;
                const double v = peak * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * sigma * sigma));
                for (int c = 0; c < 3; ++c) field[c][static_cast<size_t>(y) * 400 + x] += v * colour[c];
            }
    }
    for (int c = 0; c < 3; ++c)
        for (double v : field[c]) sky.plane[c].push_back(static_cast<float>(std::clamp(v + noise(random), 0.0, 255.0)));

    const std::vector<float> mosaic = mosaicOf(sky, CfaPattern::rggb);
    double error[2] = {}, chroma[2] = {};
    size_t near = 0;
    for (int m = 0; m < 2; ++m) {
        const auto method = m == 0 ? DemosaicMethod::bilinear : DemosaicMethod::quality;
        const Picture out = demosaic(mosaic, {sky.width, sky.height, CfaPattern::rggb, method});
        near = 0;
        for (size_t i = 0; i < sky.plane[0].size(); ++i) {
            const auto at = [&](const Picture& p, int c) { return static_cast<double>(p.plane[c][i]); };
            if (at(sky, 0) + at(sky, 1) + at(sky, 2) < 3 * 40) continue;  // the sky itself
            ++near;
            for (int c = 0; c < 3; ++c) error[m] += std::pow(at(out, c) - at(sky, c), 2);
            chroma[m] += std::pow((at(out, 0) - at(out, 1)) - (at(sky, 0) - at(sky, 1)), 2) +
                         std::pow((at(out, 2) - at(out, 1)) - (at(sky, 2) - at(sky, 1)), 2);
        }
    }
    ASSERT_GT(near, 1000u);
    const double gain = 10 * std::log10(error[0] / error[1]);
    std::printf("near %zu star pixels: quality %+.2f dB over bilinear, colour error %.2f of bilinear's\n", near, gain,
                std::sqrt(chroma[1] / chroma[0]));
    EXPECT_GE(gain, 3.0);
    EXPECT_LE(std::sqrt(chroma[1] / chroma[0]), 0.6);
}

}  // namespace
