// The band demosaicer. Input: byte 0 the method (bit 0), the layout (bits
// 1-2) and whether finished rows are taken at once or only when a push is
// refused for them (bit 3); bytes 1 and 2 the width and height (0..66, so
// that refused sizes come too); the rest the samples as raw 32-bit floats,
// NaNs, infinities and huge values included, repeated as needed. Besides
// memory safety (the working memory is exactly what was asked for): every
// row comes out once, each pixel's own sample comes out unchanged where it
// is finite, and a mosaic of moderate finite samples gives finite output.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "import/debayer/demosaic.h"

using namespace nebulite::debayer;

namespace {

[[noreturn]] void fail(const char* rule) {
    std::fprintf(stderr, "\nnebulite debayer fuzz check failed: %s\n", rule);
    std::fflush(stderr);
    std::abort();
}
#define DEBAYER_CHECK(condition) \
    do {                         \
        if (!(condition)) fail(#condition); \
    } while (0)

constexpr uint64_t kMaxSide = 66;
// Far enough from the float range that no sum or difference the methods
// make overflows.
constexpr float kModerate = 1e30f;

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const auto method = (data[0] & 1) ? DemosaicMethod::quality : DemosaicMethod::bilinear;
    const auto pattern = static_cast<CfaPattern>((data[0] >> 1) & 3);
    const bool takeAtOnce = (data[0] & 8) != 0;
    const uint64_t width = data[1] % (kMaxSide + 1), height = data[2] % (kMaxSide + 1);
    const MosaicGeometry geometry{width, height, pattern, method};

    const std::optional<uint64_t> floats = demosaicWorkFloats(geometry);
    if (!floats) {
        DEBAYER_CHECK(width < 2 || height < 2);
        return 0;
    }
    DEBAYER_CHECK(width >= 2 && height >= 2);

    std::vector<float> mosaic(width * height);
    const size_t sampleBytes = size - 3;
    bool moderate = true;
    for (size_t i = 0; i < mosaic.size(); ++i) {
        uint8_t bytes[4] = {};
        for (size_t k = 0; k < 4 && sampleBytes > 0; ++k) bytes[k] = data[3 + (i * 4 + k) % sampleBytes];
        std::memcpy(&mosaic[i], bytes, sizeof(float));
        moderate = moderate && std::isfinite(mosaic[i]) && std::fabs(mosaic[i]) <= kModerate;
    }

    std::vector<float> work(*floats);
    std::vector<float> planes[3] = {std::vector<float>(width), std::vector<float>(width), std::vector<float>(width)};
    Demosaicer d;
    DEBAYER_CHECK(d.start(geometry, work) == DemosaicResult::ok);

    uint64_t rowsChecked = 0;
    auto takeRow = [&]() {
        if (d.nextRow(planes[0], planes[1], planes[2]) != DemosaicResult::ok) return false;
        const uint64_t y = rowsChecked++;
        DEBAYER_CHECK(d.rowsOut() == rowsChecked);
        for (uint64_t x = 0; x < width; ++x) {
            const float own = mosaic[y * width + x];
            const float out = planes[static_cast<int>(colourAt(pattern, y, x))][x];
            if (std::isfinite(own)) DEBAYER_CHECK(sameBits(out, own));
            if (moderate)
                for (const auto& plane : planes) DEBAYER_CHECK(std::isfinite(plane[x]));
        }
        return true;
    };
    for (uint64_t y = 0; y < height; ++y) {
        const std::span<const float> row(mosaic.data() + y * width, width);
        DemosaicResult pushed = d.pushRow(row);
        if (pushed == DemosaicResult::rowsWaiting) {
            DEBAYER_CHECK(!takeAtOnce);
            DEBAYER_CHECK(takeRow());
            pushed = d.pushRow(row);
        }
        DEBAYER_CHECK(pushed == DemosaicResult::ok);
        if (takeAtOnce)
            while (takeRow()) {
            }
    }
    DEBAYER_CHECK(d.pushRow(std::span<const float>(mosaic.data(), width)) == DemosaicResult::tooManyRows);
    while (takeRow()) {
    }
    DEBAYER_CHECK(d.done() && rowsChecked == height);
    return 0;
}
