#include "import/debayer/bilinear.h"

#include <cstdint>

namespace nebulite::debayer {

namespace {

// The loops take their rows as __restrict parameters (distinct ring slots
// and output planes), which lets the compiler run several pixels at once;
// the arithmetic is the same, operation for operation.

// The row's red or blue pixels: green from the four beside them, the
// colour across from the four diagonal ones.
void atColourSites(const float* __restrict above, const float* __restrict row, const float* __restrict below,
                   int64_t first, int64_t width, float* __restrict own, float* __restrict across,
                   float* __restrict green) {
    for (int64_t x = first; x < width; x += 2) {
        own[x] = row[x];
        green[x] = 0.25f * ((row[x - 1] + row[x + 1]) + (above[x] + below[x]));
        across[x] = 0.25f * ((above[x - 1] + above[x + 1]) + (below[x - 1] + below[x + 1]));
    }
}

// Its green pixels: the row's own colour from left and right, the other
// from above and below.
void atGreenSites(const float* __restrict above, const float* __restrict row, const float* __restrict below,
                  int64_t first, int64_t width, float* __restrict own, float* __restrict across,
                  float* __restrict green) {
    for (int64_t x = first; x < width; x += 2) {
        green[x] = row[x];
        own[x] = 0.5f * (row[x - 1] + row[x + 1]);
        across[x] = 0.5f * (above[x] + below[x]);
    }
}

}  // namespace

void bilinearRow(const float* above, const float* row, const float* below, uint64_t width, RowSites sites) {
    const auto w = static_cast<int64_t>(width);
    const auto s = static_cast<int64_t>(sites.firstNonGreen);
    const SitePlanes& out = sites.planes;
    atColourSites(above, row, below, s, w, out.own, out.across, out.green);
    atGreenSites(above, row, below, 1 - s, w, out.own, out.across, out.green);
}

}  // namespace nebulite::debayer
