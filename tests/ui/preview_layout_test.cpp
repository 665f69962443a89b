// The preview's arithmetic: an image fitted to its box keeps its aspect and
// stays inside; merged histogram bins keep every count.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "ui/preview_layout.h"

using namespace nebulite::ui;

TEST(PreviewLayout, FitKeepsTheAspectInsideTheBox) {
    for (uint32_t w : {1u, 3u, 100u, 256u})
        for (uint32_t h : {1u, 7u, 100u, 256u})
            for (auto [bw, bh] : {std::pair{252, 237}, std::pair{237, 252}, std::pair{1, 1}, std::pair{640, 30}}) {
                SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " in " + std::to_string(bw) + "x" +
                             std::to_string(bh));
                PixelRect r = fitInside(w, h, bw, bh);
                EXPECT_GE(r.x, 0);
                EXPECT_GE(r.y, 0);
                EXPECT_LE(r.x + r.width, bw);
                EXPECT_LE(r.y + r.height, bh);
                // It fills the box one way, and the other way is within a
                // pixel of the image's aspect.
                EXPECT_TRUE(r.width == bw || r.height == bh);
                double aspect = double(w) / h;
                EXPECT_LE(std::abs(r.width - aspect * r.height), std::max(1.0, aspect));
            }
}

TEST(PreviewLayout, MergedBinsKeepEveryCount) {
    for (std::size_t n : {1, 255, 256, 257, 1000, 4096, 65536}) {
        SCOPED_TRACE(n);
        std::vector<uint32_t> counts(n);
        for (std::size_t i = 0; i < n; ++i) counts[i] = static_cast<uint32_t>((i * 2654435761u) % 1000);
        std::vector<uint32_t> out(kHistogramBins);
        std::size_t used = mergeBins(counts, out);
        EXPECT_GE(used, 1u);
        EXPECT_LE(used, kHistogramBins);
        uint64_t in = std::accumulate(counts.begin(), counts.end(), uint64_t{0});
        uint64_t merged = std::accumulate(out.begin(), out.begin() + used, uint64_t{0});
        EXPECT_EQ(merged, in);
        if (n <= kHistogramBins) {
            EXPECT_EQ(used, n);
        }
    }
}
