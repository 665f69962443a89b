#include "ui/preview_layout.h"

#include <cmath>

namespace nebulite::ui {

bool usablePreview(const PreviewImage& image) {
    if (image.pixels == nullptr || image.width == 0 || image.height == 0) return false;
    if (image.width > kPreviewSide || image.height > kPreviewSide) return false;
    if (image.channels != 1 && image.channels != 3) return false;
    return image.rowBytes >= std::size_t{image.width} * image.channels;
}

PixelRect fitInside(uint32_t width, uint32_t height, int32_t boxWidth, int32_t boxHeight) {
    if (width == 0 || height == 0 || boxWidth <= 0 || boxHeight <= 0) return {};
    // Compare width/height with boxWidth/boxHeight without division.
    int64_t wide = int64_t{width} * boxHeight;
    int64_t tall = int64_t{height} * boxWidth;
    PixelRect r;
    if (wide >= tall) {
        r.width = boxWidth;
        r.height = static_cast<int32_t>(int64_t{height} * boxWidth / width);
    } else {
        r.height = boxHeight;
        r.width = static_cast<int32_t>(int64_t{width} * boxHeight / height);
    }
    if (r.width < 1) r.width = 1;
    if (r.height < 1) r.height = 1;
    r.x = (boxWidth - r.width) / 2;
    r.y = (boxHeight - r.height) / 2;
    return r;
}

std::size_t mergeBins(std::span<const uint32_t> counts, std::span<uint32_t> out) {
    if (counts.empty() || out.empty()) return 0;
    std::size_t run = (counts.size() + out.size() - 1) / out.size();
    std::size_t used = (counts.size() + run - 1) / run;
    for (std::size_t i = 0; i < used; ++i) {
        uint64_t sum = 0;
        for (std::size_t j = i * run; j < counts.size() && j < (i + 1) * run; ++j) sum += counts[j];
        out[i] = sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
    }
    return used;
}

int32_t barHeight(uint32_t count, uint32_t largest, int32_t height) {
    if (count == 0 || largest == 0 || height <= 0) return 0;
    double share = std::log1p(static_cast<double>(count)) / std::log1p(static_cast<double>(largest));
    auto h = static_cast<int32_t>(std::lround(share * height));
    return h < 1 ? 1 : h > height ? height : h;
}

int32_t valueColumn(double value, double low, double high, int32_t width) {
    if (width <= 1 || !(high > low) || !std::isfinite(value)) return 0;
    double x = (value - low) / (high - low) * (width - 1);
    if (!(x > 0.0)) return 0;
    if (x > width - 1) return width - 1;
    return static_cast<int32_t>(std::lround(x));
}

}  // namespace nebulite::ui
