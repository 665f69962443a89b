// The colour-filter layout of a one-shot-colour frame, and which of the four
// applies at the first stored pixel of a file, from the keywords capture
// programs write (BAYERPAT, XBAYROFF, YBAYROFF, ROWORDER) and the height.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace nebulite::debayer {

// The four 2x2 layouts, named as BAYERPAT names them: the colours of the
// first two pixels of the first row, then of the second row. The value's two
// bits say how a layout differs from RGGB: bit 0 swaps its columns, bit 1 its
// rows. An odd shift or a reversal along one axis is then one exclusive-or,
// and the rules below compose without a table.
enum class CfaPattern : uint8_t { rggb = 0, grbg = 1, gbrg = 2, bggr = 3 };

// Also the index of the output plane each colour goes to.
enum class CfaColour : uint8_t { red = 0, green = 1, blue = 2 };

constexpr CfaPattern withColumnsSwapped(CfaPattern p) {
    return static_cast<CfaPattern>(static_cast<uint8_t>(p) ^ 1u);
}
constexpr CfaPattern withRowsSwapped(CfaPattern p) {
    return static_cast<CfaPattern>(static_cast<uint8_t>(p) ^ 2u);
}

// The layout seen from row `row`, column `column` on (counted from 0), of a
// mosaic whose pixel (0, 0) starts `p`.
constexpr CfaPattern patternFrom(CfaPattern p, uint64_t row, uint64_t column) {
    const auto bits = static_cast<uint8_t>(static_cast<uint8_t>(p) ^ ((row & 1u) << 1) ^ (column & 1u));
    return static_cast<CfaPattern>(bits);
}

// The colour of pixel (row, column) of a mosaic whose pixel (0, 0) starts `p`.
constexpr CfaColour colourAt(CfaPattern p, uint64_t row, uint64_t column) {
    switch (patternFrom(p, row, column)) {
        case CfaPattern::rggb: return CfaColour::red;
        case CfaPattern::bggr: return CfaColour::blue;
        case CfaPattern::grbg:
        case CfaPattern::gbrg: return CfaColour::green;
    }
    return CfaColour::green;
}

// The layout at the first row delivered when the `height` rows of a mosaic
// starting `p` come last row first: the last row has the first one's phase
// when the height is odd, the second's when it is even.
constexpr CfaPattern patternWithRowsReversed(CfaPattern p, uint64_t height) {
    return height % 2 == 0 ? withRowsSwapped(p) : p;
}
// The same for a row's `width` columns delivered last column first.
constexpr CfaPattern patternWithColumnsReversed(CfaPattern p, uint64_t width) {
    return width % 2 == 0 ? withColumnsSwapped(p) : p;
}

// "RGGB", "BGGR", "GRBG", "GBRG".
constexpr std::string_view patternName(CfaPattern p) {
    switch (p) {
        case CfaPattern::rggb: return "RGGB";
        case CfaPattern::grbg: return "GRBG";
        case CfaPattern::gbrg: return "GBRG";
        case CfaPattern::bggr: return "BGGR";
    }
    return "?";
}

// A pattern's name in any case, blanks around it ignored (FITS strings keep
// trailing blanks insignificant; some writers pad both ends); nothing for
// anything else, X-Trans and CMYG layouts included.
std::optional<CfaPattern> patternNamed(std::string_view text);

// ---- The phase at stored row 1, column 1 -----------------------------------

// The header's values as the caller found them: strings without their quotes,
// integers as written; an absent keyword is an empty optional.
struct MosaicKeywords {
    std::optional<std::string_view> bayerPattern;  // BAYERPAT
    std::optional<int64_t> xOffset;                // XBAYROFF
    std::optional<int64_t> yOffset;                // YBAYROFF
    std::optional<std::string_view> rowOrder;      // ROWORDER
    uint64_t height = 0;                           // NAXIS2
};

// What the caller may want to tell the user; the phase is usable regardless.
enum PhaseWarning : uint8_t {
    kXOffsetOutOfRange = 1 << 0,   // XBAYROFF neither 0 nor 1: its parity was used
    kYOffsetOutOfRange = 1 << 1,   // YBAYROFF likewise
    kRowOrderUnknown = 1 << 2,     // ROWORDER neither TOP-DOWN nor BOTTOM-UP: taken as TOP-DOWN
    kPatternUnknown = 1 << 3,      // BAYERPAT names no Bayer layout (no override): no pattern
};

struct MosaicPhase {
    std::optional<CfaPattern> pattern;  // at stored row 1, column 1; none: open grey
    uint8_t warnings = 0;               // PhaseWarning bits
};

// The layout at the first stored pixel. `override`, when given, stands in for
// BAYERPAT (the offsets and the row order still apply: they describe the
// file, not the camera).
MosaicPhase mosaicPhase(const MosaicKeywords& keywords, std::optional<CfaPattern> override = std::nullopt);

static_assert(withRowsSwapped(CfaPattern::rggb) == CfaPattern::gbrg);
static_assert(withColumnsSwapped(CfaPattern::rggb) == CfaPattern::grbg);
static_assert(withRowsSwapped(withColumnsSwapped(CfaPattern::rggb)) == CfaPattern::bggr);
static_assert(colourAt(CfaPattern::bggr, 1, 1) == CfaColour::red);
static_assert(colourAt(CfaPattern::gbrg, 0, 1) == CfaColour::blue);

}  // namespace nebulite::debayer
