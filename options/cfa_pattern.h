// Colour-filter mosaics: which colour sits on the first two pixels of the
// first two rows. Capture programs write it as BAYERPAT, for the rows as the
// sensor reads them out; offsets and a bottom-up row order move the cell the
// file's first stored pixel falls on.
#pragma once

#include <cstdint>
#include <string_view>

#include "options/fixed_text.h"

namespace nebulite::options {

enum class CfaPattern : uint8_t { none, rggb, bggr, grbg, gbrg };

// The pattern one row further on: its two rows trade places.
constexpr CfaPattern swapRows(CfaPattern p) {
    switch (p) {
        case CfaPattern::rggb: return CfaPattern::gbrg;
        case CfaPattern::gbrg: return CfaPattern::rggb;
        case CfaPattern::bggr: return CfaPattern::grbg;
        case CfaPattern::grbg: return CfaPattern::bggr;
        case CfaPattern::none: break;
    }
    return CfaPattern::none;
}

// The pattern one column further on.
constexpr CfaPattern swapColumns(CfaPattern p) {
    switch (p) {
        case CfaPattern::rggb: return CfaPattern::grbg;
        case CfaPattern::grbg: return CfaPattern::rggb;
        case CfaPattern::bggr: return CfaPattern::gbrg;
        case CfaPattern::gbrg: return CfaPattern::bggr;
        case CfaPattern::none: break;
    }
    return CfaPattern::none;
}

constexpr std::string_view cfaPatternName(CfaPattern p) {
    switch (p) {
        case CfaPattern::rggb: return "RGGB";
        case CfaPattern::bggr: return "BGGR";
        case CfaPattern::grbg: return "GRBG";
        case CfaPattern::gbrg: return "GBRG";
        case CfaPattern::none: break;
    }
    return "none";
}

// BAYERPAT's value (quotes and trailing blanks already removed), in any case;
// none for anything else.
CfaPattern cfaPatternNamed(std::string_view name);

// What the header's colour-filter keywords leave in doubt. None stops an
// open: an offset's parity is what moves the pattern, an unknown row order
// is taken as top-down, and a BAYERPAT that names no Bayer layout
// ('TRUE', 'CMYG', an X-Trans name) leaves the image grey unless the user
// names a pattern.
enum MosaicDoubt : uint8_t {
    kXOffsetNotABit = 1 << 0,    // XBAYROFF neither 0 nor 1: its parity is used
    kYOffsetNotABit = 1 << 1,    // YBAYROFF likewise
    kRowOrderNotKnown = 1 << 2,  // ROWORDER neither TOP-DOWN nor BOTTOM-UP
    kPatternNotBayer = 1 << 3,   // BAYERPAT there but naming none of the four
};

// The doubts of a header's BAYERPAT (its text, and whether the card is
// there at all), XBAYROFF, YBAYROFF (0 when absent) and ROWORDER.
uint8_t mosaicDoubts(std::string_view bayerPattern, bool bayerPatternSeen, int64_t xOffset, int64_t yOffset,
                     bool rowOrderUnknown);

// The doubts in few words, for the open dialog's one-line note and
// `nebulite info`: "XBAYROFF 3 taken as 1, ROWORDER taken as TOP-DOWN".
// Empty without doubts.
Message mosaicDoubtText(uint8_t doubts, int64_t xOffset, int64_t yOffset);

// Where the pattern the header names lands on the file's first stored row
// and column: XBAYROFF / YBAYROFF shift it (an odd offset swaps columns or
// rows), and a file stored bottom-up starts at the sensor's last row, which
// is the first row's opposite when the image has an even number of rows.
CfaPattern patternAtFirstStoredPixel(CfaPattern named, int64_t xOffset, int64_t yOffset, bool storedBottomUp,
                                     uint64_t rows);

}  // namespace nebulite::options
