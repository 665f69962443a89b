// Bilinear demosaicing against OpenCV's (cv::demosaicing, the COLOR_Bayer*2RGB
// codes), an independent implementation of the same method.
#include <gtest/gtest.h>

#include "tests/debayer/debayer_support.h"

#ifdef NEBULITE_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace debayer_test;

TEST(DebayerBilinear, MatchesOpenCvAwayFromTheBorder) {
#ifndef NEBULITE_HAVE_OPENCV
    GTEST_SKIP() << "OpenCV (libopencv-imgproc-dev) not found";
#else
    // OpenCV names a layout by the second and third pixels of its second row:
    // RGGB's second row reads G B G B..., so RGGB is OpenCV's "BG".
    const struct {
        CfaPattern pattern;
        int code;
    } codes[] = {{CfaPattern::rggb, cv::COLOR_BayerBG2RGB},
                 {CfaPattern::bggr, cv::COLOR_BayerRG2RGB},
                 {CfaPattern::grbg, cv::COLOR_BayerGB2RGB},
                 {CfaPattern::gbrg, cv::COLOR_BayerGR2RGB}};
    for (const char* name : {"astronaut.png", "hubble_deep_field.jpg", "rose:"}) {
        const Picture picture = loadPicture(name);
        if (picture.width == 0) GTEST_SKIP() << "cannot read " << name << " (python3-skimage, imagemagick)";
        for (const auto& [pattern, code] : codes) {
            // 16-bit samples, the depth of the frames capture programs write.
            std::vector<float> mosaic = mosaicOf(picture, pattern);
            cv::Mat raw(static_cast<int>(picture.height), static_cast<int>(picture.width), CV_16UC1);
            for (uint64_t i = 0; i < mosaic.size(); ++i) {
                mosaic[i] *= 257;
                raw.at<uint16_t>(static_cast<int>(i / picture.width), static_cast<int>(i % picture.width)) =
                    static_cast<uint16_t>(mosaic[i]);
            }
            cv::Mat theirs;
            cv::demosaicing(raw, theirs, code);
            const Picture ours = demosaic(mosaic, {picture.width, picture.height, pattern, DemosaicMethod::bilinear});
            ASSERT_EQ(ours.width, picture.width);
            // OpenCV fills its outermost pixels its own way; two are left out.
            // It rounds each mean to an integer, ours are exact: within half
            // a level everywhere else.
            double worst = 0;
            for (uint64_t y = 2; y + 2 < picture.height; ++y)
                for (uint64_t x = 2; x + 2 < picture.width; ++x) {
                    const auto& px = theirs.at<cv::Vec<uint16_t, 3>>(static_cast<int>(y), static_cast<int>(x));
                    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::fabs(double{ours.at(c, y, x)} - px[c]));
                }
            EXPECT_LE(worst, 0.5) << name << " " << patternName(pattern);
        }
    }
#endif
}

}  // namespace
