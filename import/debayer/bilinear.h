// Bilinear demosaicing: every missing colour is the mean of the nearest
// pixels of that colour, two or four of them. The reference the quality
// method is measured against, and the cheapest choice.
#pragma once

#include <cstdint>

#include "import/debayer/row_kernels.h"

namespace nebulite::debayer {

// Output row from mosaic rows above, at and below it (padded by one column,
// pointers at column 0).
void bilinearRow(const float* above, const float* row, const float* below, uint64_t width, RowSites sites);

}  // namespace nebulite::debayer
