#include "options/cfa_pattern.h"

#include <array>

#include "import/debayer/pattern.h"

namespace nebulite::options {

namespace {

constexpr char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool sameLetters(std::string_view text, std::string_view upperName) {
    if (text.size() != upperName.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (upper(text[i]) != upperName[i]) return false;
    return true;
}


}  // namespace

CfaPattern cfaPatternNamed(std::string_view name) {
    for (CfaPattern p : {CfaPattern::rggb, CfaPattern::bggr, CfaPattern::grbg, CfaPattern::gbrg})
        if (sameLetters(name, cfaPatternName(p))) return p;
    return CfaPattern::none;
}

namespace {

debayer::CfaPattern layoutOf(CfaPattern p) {
    switch (p) {
        case CfaPattern::grbg: return debayer::CfaPattern::grbg;
        case CfaPattern::gbrg: return debayer::CfaPattern::gbrg;
        case CfaPattern::bggr: return debayer::CfaPattern::bggr;
        case CfaPattern::rggb:
        case CfaPattern::none: break;
    }
    return debayer::CfaPattern::rggb;
}

CfaPattern patternOf(debayer::CfaPattern p) {
    switch (p) {
        case debayer::CfaPattern::rggb: return CfaPattern::rggb;
        case debayer::CfaPattern::grbg: return CfaPattern::grbg;
        case debayer::CfaPattern::gbrg: return CfaPattern::gbrg;
        case debayer::CfaPattern::bggr: return CfaPattern::bggr;
    }
    return CfaPattern::none;
}

}  // namespace

// The rules live in one place, the demosaicing library's (its tests prove
// them against a simulated sensor): a pattern named here is an override of
// BAYERPAT there, to which the file's offsets and row order still apply.
CfaPattern patternAtFirstStoredPixel(CfaPattern named, int64_t xOffset, int64_t yOffset, bool storedBottomUp,
                                     uint64_t rows) {
    if (named == CfaPattern::none) return CfaPattern::none;
    debayer::MosaicKeywords keywords;
    keywords.xOffset = xOffset;
    keywords.yOffset = yOffset;
    keywords.rowOrder = storedBottomUp ? "BOTTOM-UP" : "TOP-DOWN";
    keywords.height = rows;
    const debayer::MosaicPhase phase = debayer::mosaicPhase(keywords, layoutOf(named));
    return phase.pattern ? patternOf(*phase.pattern) : CfaPattern::none;
}

uint8_t mosaicDoubts(std::string_view bayerPattern, bool bayerPatternSeen, int64_t xOffset, int64_t yOffset,
                     bool rowOrderUnknown) {
    debayer::MosaicKeywords keywords;
    if (bayerPatternSeen) keywords.bayerPattern = bayerPattern;
    keywords.xOffset = xOffset;
    keywords.yOffset = yOffset;
    if (rowOrderUnknown) keywords.rowOrder = "?";
    const uint8_t warnings = debayer::mosaicPhase(keywords).warnings;
    uint8_t doubts = 0;
    if (warnings & debayer::kXOffsetOutOfRange) doubts |= kXOffsetNotABit;
    if (warnings & debayer::kYOffsetOutOfRange) doubts |= kYOffsetNotABit;
    if (warnings & debayer::kRowOrderUnknown) doubts |= kRowOrderNotKnown;
    if (warnings & debayer::kPatternUnknown) doubts |= kPatternNotBayer;
    return doubts;
}

Message mosaicDoubtText(uint8_t doubts, int64_t xOffset, int64_t yOffset) {
    Message text;
    auto next = [&text] { return text.empty() ? "" : ", "; };
    // An offset's parity is what moves the pattern: 3 moves it as 1 does.
    const auto bit = [](int64_t v) { return (static_cast<uint64_t>(v) & 1u) != 0 ? 1 : 0; };
    if (doubts & kPatternNotBayer) text.append("BAYERPAT names no Bayer pattern");
    if (doubts & kXOffsetNotABit) text = compose(text, next(), "XBAYROFF ", xOffset, " taken as ", bit(xOffset));
    if (doubts & kYOffsetNotABit) text = compose(text, next(), "YBAYROFF ", yOffset, " taken as ", bit(yOffset));
    if (doubts & kRowOrderNotKnown) text = compose(text, next(), "ROWORDER taken as TOP-DOWN");
    return text;
}

}  // namespace nebulite::options
