// A physical sample to a document level: normalised over the black and
// white points, stretched by a curve, and rounded into the document's range.
//
//   x     = (v - black) / (white - black), clamped to [0, 1]
//   y     = curve(x)                                   (curves.h)
//   level = floor(y * top + 0.5)                        top = 255 (8 bits) or 32768 (16 bits)
//
// Rounding is half up, so level k covers y in [(k - 0.5) / top, (k + 0.5) / top).
// Undefined samples (NaN: blanks, infinities) and a window that is empty
// (white not above black: an image of one value) give level 0, as a
// constant image and blank pixels always opened.
#pragma once

#include <cstdint>
#include <span>

#include "mapping/curves.h"

namespace nebulite::mapping {

// The editor's 8-bit and 16-bit ranges: 0..255 and 0..32768.
inline constexpr uint16_t kTop8 = 255;
inline constexpr uint16_t kTop16 = 32768;

struct Transfer {
    Curve curve = Curve::linear;
    double black = 0.0;
    double white = 1.0;
    double midtone = 0.5;  // mtf only
    uint16_t top = kTop16;
};

// y in [0, 1] to a level of 0..top, half up; NaN to 0.
uint16_t toLevel(double y, uint16_t top);

uint16_t mapSample(const Transfer& transfer, double value);

// One row, as far as the shorter span goes; the 8-bit form maps onto
// 0..255 whatever `top` says.
void mapRow(const Transfer& transfer, std::span<const double> in, std::span<uint16_t> out);
void mapRow(const Transfer& transfer, std::span<const double> in, std::span<uint8_t> out);

}  // namespace nebulite::mapping
