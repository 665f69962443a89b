// The open dialog's copy of the last preview and histogram, and their
// drawing into the two owner-drawn boxes. The pixels live in a DIB section
// the canvas creates with the dialog and deletes with it, so the dialog's
// state (on the caller's stack) stays small.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "ui/preview.h"

namespace nebulite::ui::win32 {

struct PreviewCanvas {
    HBITMAP bitmap = nullptr;
    // kPreviewSide * kPreviewSide pixels, blue in the low byte; the current
    // preview's rows follow each other at `width` pixels.
    uint32_t* bits = nullptr;
    uint32_t width = 0;  // 0: nothing to show
    uint32_t height = 0;
    std::array<uint32_t, kHistogramBins> counts{};
    std::size_t bins = 0;
    double low = 0.0;
    double high = 0.0;
    double black = 0.0;
    double white = 0.0;
};

bool createCanvas(PreviewCanvas& canvas);
void destroyCanvas(PreviewCanvas& canvas);

// Copies what a render handed over; a preview the canvas cannot use shows
// as none.
void takePreview(PreviewCanvas& canvas, const Preview& preview);
void clearPreview(PreviewCanvas& canvas);

void drawPreview(const PreviewCanvas& canvas, const DRAWITEMSTRUCT& item);
void drawHistogram(const PreviewCanvas& canvas, const DRAWITEMSTRUCT& item);

}  // namespace nebulite::ui::win32
