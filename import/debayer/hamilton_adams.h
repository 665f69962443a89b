// The quality method: Hamilton and Adams's adaptive colour plane
// interpolation (J. F. Hamilton Jr., J. E. Adams Jr., US patent 5,629,734,
// 1997; J. E. Adams, "Design of practical color filter array interpolation
// algorithms for digital cameras", Proc. SPIE 3028, 1997).
//
// Green is interpolated first, at each red or blue pixel along the row or
// the column, whichever the image changes less along, with a correction from
// the second difference of the pixel's own colour along the same line. Red
// and blue then follow green: their difference from green is what is
// interpolated, since it varies far more slowly than either colour, and at a
// red or blue pixel the diagonal along which it varies less is chosen.
//
// Why this method for astronomical frames: a star is a few pixels across, so
// any method that interpolates each colour on its own (bilinear) paints it
// with coloured fringes, the red and blue samples sitting a pixel apart.
// Interpolating colour differences instead keeps a star of one colour one
// colour; choosing a direction keeps edges free of zipper. It costs a few
// operations per pixel and holds eight rows, where VNG or AHD cost many
// times that.
#pragma once

#include <cstdint>

#include "import/debayer/row_kernels.h"

namespace nebulite::debayer {

// Green of mosaic row j into `green` (width floats, column 0 onwards), from
// mosaic rows j-2..j+2 (padded by two columns; pointers at column 0).
// `firstNonGreen` is the column parity of row j's red or blue pixels.
void hamiltonAdamsGreenRow(const float* const mosaic[5], uint64_t width, uint64_t firstNonGreen, float* green);

// Output row y from mosaic rows y-1..y+1 and their green (padded by at least
// one column; pointers at column 0).
void hamiltonAdamsColourRow(const float* const mosaic[3], const float* const green[3], uint64_t width,
                            RowSites sites);

}  // namespace nebulite::debayer
