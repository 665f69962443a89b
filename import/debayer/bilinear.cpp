#include "import/debayer/bilinear.h"

#include <cstdint>

namespace nebulite::debayer {

void bilinearRow(const float* above, const float* row, const float* below, uint64_t width, RowSites sites) {
    const auto w = static_cast<int64_t>(width);
    const auto s = static_cast<int64_t>(sites.firstNonGreen);
    float* own = sites.planes.own;
    float* across = sites.planes.across;
    float* green = sites.planes.green;

    // The row's red or blue pixels: green from the four beside them, the
    // colour across from the four diagonal ones.
    for (int64_t x = s; x < w; x += 2) {
        own[x] = row[x];
        green[x] = 0.25f * ((row[x - 1] + row[x + 1]) + (above[x] + below[x]));
        across[x] = 0.25f * ((above[x - 1] + above[x + 1]) + (below[x - 1] + below[x + 1]));
    }
    // Its green pixels: the row's own colour from left and right, the other
    // from above and below.
    for (int64_t x = 1 - s; x < w; x += 2) {
        green[x] = row[x];
        own[x] = 0.5f * (row[x - 1] + row[x + 1]);
        across[x] = 0.5f * (above[x] + below[x]);
    }
}

}  // namespace nebulite::debayer
