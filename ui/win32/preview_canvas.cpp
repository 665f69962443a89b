#include "ui/win32/preview_canvas.h"

#include "ui/preview_layout.h"

namespace nebulite::ui::win32 {

namespace {

BITMAPINFO topDownInfo(uint32_t width, uint32_t height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

uint32_t packed(uint8_t red, uint8_t green, uint8_t blue) {
    return uint32_t{red} << 16 | uint32_t{green} << 8 | blue;
}

void fill(HDC dc, const RECT& rect, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void verticalLine(HDC dc, int32_t x, int32_t top, int32_t bottom, HBRUSH brush) {
    RECT line{x, top, x + 1, bottom};
    FillRect(dc, &line, brush);
}

void verticalLine(HDC dc, int32_t x, int32_t top, int32_t bottom, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    verticalLine(dc, x, top, bottom, brush);
    DeleteObject(brush);
}

void centredText(HDC dc, RECT rect, const char* text) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(160, 160, 160));
    DrawTextA(dc, text, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace

bool createCanvas(PreviewCanvas& canvas) {
    BITMAPINFO info = topDownInfo(kPreviewSide, kPreviewSide);
    void* bits = nullptr;
    canvas.bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    canvas.bits = canvas.bitmap != nullptr ? static_cast<uint32_t*>(bits) : nullptr;
    clearPreview(canvas);
    return canvas.bits != nullptr;
}

void destroyCanvas(PreviewCanvas& canvas) {
    if (canvas.bitmap != nullptr) DeleteObject(canvas.bitmap);
    canvas.bitmap = nullptr;
    canvas.bits = nullptr;
    clearPreview(canvas);
}

void clearPreview(PreviewCanvas& canvas) {
    canvas.width = 0;
    canvas.height = 0;
    canvas.bins = 0;
}

void takePreview(PreviewCanvas& canvas, const Preview& preview) {
    clearPreview(canvas);
    const PreviewImage& image = preview.image;
    if (canvas.bits != nullptr && usablePreview(image)) {
        uint32_t* out = canvas.bits;
        for (uint32_t y = 0; y < image.height; ++y) {
            const uint8_t* row = image.pixels + std::size_t{y} * image.rowBytes;
            for (uint32_t x = 0; x < image.width; ++x) {
                const uint8_t* p = row + std::size_t{x} * image.channels;
                *out++ = image.channels == 1 ? packed(p[0], p[0], p[0]) : packed(p[0], p[1], p[2]);
            }
        }
        canvas.width = image.width;
        canvas.height = image.height;
    }
    const PreviewHistogram& h = preview.histogram;
    canvas.bins = mergeBins(h.counts, canvas.counts);
    canvas.low = h.low;
    canvas.high = h.high;
    canvas.black = h.black;
    canvas.white = h.white;
}

void drawPreview(const PreviewCanvas& canvas, const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    fill(dc, box, RGB(0, 0, 0));
    if (canvas.width == 0) {
        centredText(dc, box, "no preview");
        return;
    }
    PixelRect r = fitInside(canvas.width, canvas.height, box.right - box.left, box.bottom - box.top);
    BITMAPINFO info = topDownInfo(canvas.width, canvas.height);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, box.left + r.x, box.top + r.y, r.width, r.height, 0, 0, static_cast<int>(canvas.width),
                  static_cast<int>(canvas.height), canvas.bits, &info, DIB_RGB_COLORS, SRCCOPY);
}

void drawHistogram(const PreviewCanvas& canvas, const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    int32_t width = box.right - box.left;
    int32_t height = box.bottom - box.top;
    fill(dc, box, RGB(255, 255, 255));
    if (canvas.bins == 0 || width <= 1 || height <= 1) {
        centredText(dc, box, "no histogram");
        return;
    }
    // Values outside the points (clipped to black or white) on grey.
    int32_t blackX = valueColumn(canvas.black, canvas.low, canvas.high, width);
    int32_t whiteX = valueColumn(canvas.white, canvas.low, canvas.high, width);
    RECT left{box.left, box.top, box.left + blackX, box.bottom};
    RECT right{box.left + whiteX + 1, box.top, box.right, box.bottom};
    fill(dc, left, RGB(225, 225, 225));
    fill(dc, right, RGB(225, 225, 225));

    uint32_t largest = 0;
    for (std::size_t i = 0; i < canvas.bins; ++i) largest = canvas.counts[i] > largest ? canvas.counts[i] : largest;
    auto bins = static_cast<int64_t>(canvas.bins);
    HBRUSH bars = CreateSolidBrush(RGB(80, 80, 80));
    for (int32_t x = 0; x < width; ++x) {
        auto bin = static_cast<std::size_t>(int64_t{x} * bins / width);
        int32_t bar = barHeight(canvas.counts[bin], largest, height - 2);
        if (bar > 0) verticalLine(dc, box.left + x, box.bottom - 1 - bar, box.bottom - 1, bars);
    }
    DeleteObject(bars);
    verticalLine(dc, box.left + blackX, box.top, box.bottom, RGB(0, 70, 220));
    verticalLine(dc, box.left + whiteX, box.top, box.bottom, RGB(230, 110, 0));
}

}  // namespace nebulite::ui::win32
