#include "import/debayer/hamilton_adams.h"

#include <cmath>
#include <cstdint>

namespace nebulite::debayer {

namespace {

// Of two estimates, the one along the quieter line; both averaged when the
// lines are equally quiet (a flat patch, or a NaN, for which neither
// comparison holds: the NaN then spreads no further than it must).
inline float alongQuieter(float a, float quietA, float b, float quietB) {
    // Selects rather than branches: on a noisy sky the choice is a coin toss
    // that a branch predictor would lose half the time.
    const float either = 0.5f * (a + b);
    const float firstOr = quietA < quietB ? a : either;
    return quietB < quietA ? b : firstOr;
}

// No estimate is darker than the darkest sample of its colour it was made
// from. The second-difference corrections overshoot where the image bends
// faster than the mosaic samples it, as at the edge of a saturated star's
// flat core; the overshoot below would ring every bright star with a dark,
// coloured halo, and a dip between samples that none of them shows is not
// in the data. Overshoot above is left alone: a star's peak between samples
// is real, and the corrections are what find it. (Our addition to the
// method.) Plain comparisons: they compile to one instruction each, where
// std::fmax and std::fmin are library calls; a NaN estimate stays NaN.
inline float notBelow(float estimate, float darkest) { return estimate < darkest ? darkest : estimate; }
inline float min2(float a, float b) { return b < a ? b : a; }

// The loops below live in functions of their own so that every row they
// read and write is a __restrict parameter: the rows are distinct ring slots
// and output planes, and telling the compiler so (with the selects above
// free of branches, and the library built without trapping math, see
// CMakeLists.txt) lets it run four pixels at once. The arithmetic is the
// same, operation for operation, as one pixel at a time.

// Green at the red or blue pixels x = first, first + 2, ... below `width`.
void greenAtColourSites(const float* __restrict up2, const float* __restrict up1, const float* __restrict row,
                        const float* __restrict down1, const float* __restrict down2, int64_t first, int64_t width,
                        float* __restrict green) {
    for (int64_t x = first; x < width; x += 2) {
        const float c = row[x];
        // The pixel's own colour two pixels away on either side: its second
        // difference says how green curves here, since colours rise and fall
        // together, and corrects the plain mean of the two greens.
        const float curveH = 2.0f * c - row[x - 2] - row[x + 2];
        const float curveV = 2.0f * c - up2[x] - down2[x];
        // A line is quiet when its two greens agree and the colour does not
        // bend along it; across an edge neither holds.
        const float quietH = std::fabs(row[x - 1] - row[x + 1]) + std::fabs(curveH);
        const float quietV = std::fabs(up1[x] - down1[x]) + std::fabs(curveV);
        const float alongH = 0.5f * (row[x - 1] + row[x + 1]) + 0.25f * curveH;
        const float alongV = 0.5f * (up1[x] + down1[x]) + 0.25f * curveV;
        const float darkest = min2(min2(row[x - 1], row[x + 1]), min2(up1[x], down1[x]));
        green[x] = notBelow(alongQuieter(alongH, quietH, alongV, quietV), darkest);
    }
}

// Green pixels: the row's own colour lies left and right, the other colour
// above and below; each is green plus the mean of its two neighbours'
// differences from green.
void coloursAtGreenSites(const float* __restrict up, const float* __restrict row, const float* __restrict down,
                         const float* __restrict gUp, const float* __restrict gRow, const float* __restrict gDown,
                         int64_t first, int64_t width, float* __restrict own, float* __restrict across,
                         float* __restrict outGreen) {
    for (int64_t x = first; x < width; x += 2) {
        const float g = row[x];
        outGreen[x] = g;
        own[x] = notBelow(g + 0.5f * ((row[x - 1] - gRow[x - 1]) + (row[x + 1] - gRow[x + 1])),
                          min2(row[x - 1], row[x + 1]));
        across[x] = notBelow(g + 0.5f * ((up[x] - gUp[x]) + (down[x] - gDown[x])), min2(up[x], down[x]));
    }
}

// Red or blue pixels: the other of the two sits on the four diagonals. Each
// diagonal gives green plus its two pixels' mean difference from green; the
// one along which the colour and green change less is taken.
void coloursAtColourSites(const float* __restrict up, const float* __restrict row, const float* __restrict down,
                          const float* __restrict gUp, const float* __restrict gRow, const float* __restrict gDown,
                          int64_t first, int64_t width, float* __restrict own, float* __restrict across,
                          float* __restrict outGreen) {
    for (int64_t x = first; x < width; x += 2) {
        const float g = gRow[x];
        own[x] = row[x];
        outGreen[x] = g;
        const float curveA = 2.0f * g - gUp[x - 1] - gDown[x + 1];
        const float curveB = 2.0f * g - gUp[x + 1] - gDown[x - 1];
        const float quietA = std::fabs(up[x - 1] - down[x + 1]) + std::fabs(curveA);
        const float quietB = std::fabs(up[x + 1] - down[x - 1]) + std::fabs(curveB);
        const float alongA = 0.5f * (up[x - 1] + down[x + 1]) + 0.5f * curveA;
        const float alongB = 0.5f * (up[x + 1] + down[x - 1]) + 0.5f * curveB;
        const float darkest = min2(min2(up[x - 1], up[x + 1]), min2(down[x - 1], down[x + 1]));
        across[x] = notBelow(alongQuieter(alongA, quietA, alongB, quietB), darkest);
    }
}

}  // namespace

void hamiltonAdamsGreenRow(const float* const mosaic[5], uint64_t width, uint64_t firstNonGreen, float* green) {
    const float* row = mosaic[2];
    const auto w = static_cast<int64_t>(width);
    const auto s = static_cast<int64_t>(firstNonGreen);
    for (int64_t x = 1 - s; x < w; x += 2) green[x] = row[x];
    greenAtColourSites(mosaic[0], mosaic[1], row, mosaic[3], mosaic[4], s, w, green);
}

void hamiltonAdamsColourRow(const float* const mosaic[3], const float* const green[3], uint64_t width,
                            RowSites sites) {
    const auto w = static_cast<int64_t>(width);
    const auto s = static_cast<int64_t>(sites.firstNonGreen);
    const SitePlanes& out = sites.planes;
    coloursAtGreenSites(mosaic[0], mosaic[1], mosaic[2], green[0], green[1], green[2], 1 - s, w, out.own, out.across,
                        out.green);
    coloursAtColourSites(mosaic[0], mosaic[1], mosaic[2], green[0], green[1], green[2], s, w, out.own, out.across,
                         out.green);
}

}  // namespace nebulite::debayer
