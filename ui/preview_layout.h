// Where the preview and the histogram land in their boxes: pure arithmetic,
// kept apart from the drawing calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ui/preview.h"

namespace nebulite::ui {

struct PixelRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// A preview a provider may hand over: within kPreviewSide each way, grey or
// RGB, rows long enough for their pixels.
bool usablePreview(const PreviewImage& image);

// The largest rectangle of the image's aspect that fits the box, centred.
PixelRect fitInside(uint32_t width, uint32_t height, int32_t boxWidth, int32_t boxHeight);

// `counts` summed in equal runs into at most out.size() bins; answers how
// many bins were filled.
std::size_t mergeBins(std::span<const uint32_t> counts, std::span<uint32_t> out);

// A bar's height for `count` when the tallest bin is `largest`: on a log
// scale, as a sky's histogram is one peak with a long faint tail.
int32_t barHeight(uint32_t count, uint32_t largest, int32_t height);

// The pixel column of a value on an axis from `low` (column 0) to `high`
// (column width - 1), held within the box.
int32_t valueColumn(double value, double low, double high, int32_t width);

}  // namespace nebulite::ui
