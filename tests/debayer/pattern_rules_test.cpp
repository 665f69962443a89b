// The colour-filter layout at a file's first pixel, against a table written
// by hand from the capture programs' rules, against what Siril's
// documentation states, and the reversal rules against reversed mosaics.
#include <gtest/gtest.h>

#include "import/debayer/pattern.h"

namespace {

using namespace nebulite::debayer;
using P = CfaPattern;
using std::nullopt;

// A pattern's colours read from its name, the way BAYERPAT spells them.
char colourLetter(CfaColour c) { return "RGB"[static_cast<int>(c)]; }

TEST(DebayerPattern, ColoursFollowTheNameOverTheWholeMosaic) {
    for (P p : {P::rggb, P::grbg, P::gbrg, P::bggr})
        for (uint64_t row = 0; row < 5; ++row)
            for (uint64_t column = 0; column < 5; ++column)
                EXPECT_EQ(colourLetter(colourAt(p, row, column)), patternName(p)[2 * (row % 2) + column % 2])
                    << patternName(p) << " at " << row << "," << column;
}

struct Rule {
    std::optional<std::string_view> bayerPattern;
    std::optional<int64_t> x, y;
    std::optional<std::string_view> rowOrder;
    uint64_t height;
    std::optional<P> override;
    std::optional<P> expected;
    uint8_t warnings;
};

TEST(DebayerPattern, PhaseAtTheFirstStoredPixelFollowsTheRules) {
    const Rule rules[] = {
        // Top-down files, and files without ROWORDER: BAYERPAT as written,
        // an odd offset swapping columns (X) or rows (Y).
        {"RGGB", nullopt, nullopt, nullopt, 100, nullopt, P::rggb, 0},
        {"RGGB", 0, 0, "TOP-DOWN", 100, nullopt, P::rggb, 0},
        {"RGGB", 1, 0, "TOP-DOWN", 100, nullopt, P::grbg, 0},
        {"RGGB", 0, 1, "TOP-DOWN", 100, nullopt, P::gbrg, 0},
        {"RGGB", 1, 1, nullopt, 101, nullopt, P::bggr, 0},
        {"GBRG", nullopt, nullopt, "TOP-DOWN", 7, nullopt, P::gbrg, 0},
        // Bottom-up: rows swap when the height is even, not when it is odd.
        {"RGGB", nullopt, nullopt, "BOTTOM-UP", 100, nullopt, P::gbrg, 0},
        {"RGGB", nullopt, nullopt, "BOTTOM-UP", 101, nullopt, P::rggb, 0},
        {"RGGB", 0, 1, "BOTTOM-UP", 100, nullopt, P::rggb, 0},
        {"RGGB", 0, 1, "BOTTOM-UP", 101, nullopt, P::gbrg, 0},
        {"BGGR", 1, 0, "BOTTOM-UP", 2, nullopt, P::rggb, 0},
        {"GRBG", 1, 1, "BOTTOM-UP", 3, nullopt, P::gbrg, 0},
        // Case and surrounding blanks do not matter.
        {" rggb ", nullopt, nullopt, "bottom-up ", 10, nullopt, P::gbrg, 0},
        // Offsets beyond 0 and 1: their parity, with a warning.
        {"RGGB", 3, 0, "TOP-DOWN", 10, nullopt, P::grbg, kXOffsetOutOfRange},
        {"RGGB", 0, -1, "TOP-DOWN", 10, nullopt, P::gbrg, kYOffsetOutOfRange},
        {"RGGB", 2, 2, nullopt, 10, nullopt, P::rggb, kXOffsetOutOfRange | kYOffsetOutOfRange},
        // An unknown row order is taken as top-down, with a warning.
        {"RGGB", nullopt, nullopt, "UPSIDE", 10, nullopt, P::rggb, kRowOrderUnknown},
        // No usable BAYERPAT: no pattern (the caller opens grey).
        {"CYGM", nullopt, nullopt, nullopt, 10, nullopt, nullopt, kPatternUnknown},
        {"XTRANS", 1, 1, "BOTTOM-UP", 10, nullopt, nullopt, kPatternUnknown},
        {nullopt, 1, 0, "BOTTOM-UP", 10, nullopt, nullopt, 0},
        // An override stands in for BAYERPAT; offsets and row order still apply.
        {nullopt, nullopt, nullopt, "BOTTOM-UP", 4, P::bggr, P::grbg, 0},
        {"CYGM", 1, nullopt, nullopt, 4, P::rggb, P::grbg, 0},
        {"GBRG", nullopt, nullopt, "TOP-DOWN", 4, P::rggb, P::rggb, 0},
    };
    for (const Rule& r : rules) {
        const MosaicPhase phase = mosaicPhase({r.bayerPattern, r.x, r.y, r.rowOrder, r.height}, r.override);
        const std::string what = std::string(r.bayerPattern.value_or("(none)")) + " x=" +
                                 std::to_string(r.x.value_or(-99)) + " y=" + std::to_string(r.y.value_or(-99)) +
                                 " " + std::string(r.rowOrder.value_or("(none)")) + " h=" + std::to_string(r.height);
        EXPECT_EQ(phase.pattern, r.expected) << what;
        EXPECT_EQ(phase.warnings, r.warnings) << what;
    }
}

// Siril's documentation ("Orientation of FITS images", siril.readthedocs.io
// file-formats/FITS): "the usual RGGB Bayer pattern becomes GBRG if the image
// is upside-down"; XBAYROFF and YBAYROFF "specify an offset to the Bayer
// matrix, to start reading it on first column or first row"; and its
// preference "Debayer FITS files in top-down if no explicit keywords found",
// which Siril applies by default: a file without ROWORDER is read top-down.
TEST(DebayerPattern, AgreesWithSirilsDocumentation) {
    EXPECT_EQ(patternWithRowsReversed(P::rggb, 4000), P::gbrg);
    EXPECT_EQ(mosaicPhase({"RGGB", nullopt, nullopt, "BOTTOM-UP", 4000}).pattern, P::gbrg);
    // Reading the matrix from its second column or its second row.
    EXPECT_EQ(mosaicPhase({"RGGB", 1, 0, "TOP-DOWN", 4000}).pattern, P::grbg);
    EXPECT_EQ(mosaicPhase({"RGGB", 0, 1, "TOP-DOWN", 4000}).pattern, P::gbrg);
    for (P p : {P::rggb, P::grbg, P::gbrg, P::bggr})
        for (uint64_t h : {3u, 4u}) {
            const std::string_view name = patternName(p);
            EXPECT_EQ(mosaicPhase({name, 1, 0, nullopt, h}).pattern, mosaicPhase({name, 1, 0, "TOP-DOWN", h}).pattern);
        }
}

// The layout of a mosaic delivered last row (or column) first, read off the
// reversed mosaic itself.
TEST(DebayerPattern, ReversalsMatchReversedMosaics) {
    for (P p : {P::rggb, P::grbg, P::gbrg, P::bggr})
        for (uint64_t n = 2; n <= 7; ++n) {
            std::string rows, columns;  // the first 2x2 of each reversed mosaic
            for (uint64_t r = 0; r < 2; ++r)
                for (uint64_t c = 0; c < 2; ++c) {
                    rows += colourLetter(colourAt(p, n - 1 - r, c));
                    columns += colourLetter(colourAt(p, r, n - 1 - c));
                }
            EXPECT_EQ(patternName(patternWithRowsReversed(p, n)), rows) << patternName(p) << " height " << n;
            EXPECT_EQ(patternName(patternWithColumnsReversed(p, n)), columns) << patternName(p) << " width " << n;
        }
}

}  // namespace
