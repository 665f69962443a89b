#include "import/debayer/pattern.h"

#include <array>

namespace nebulite::debayer {

namespace {

constexpr std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

constexpr char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// ASCII only: header text is ASCII, and the C library's toupper depends on
// the locale.
constexpr bool equalsIgnoringCase(std::string_view text, std::string_view name) {
    if (text.size() != name.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (upper(text[i]) != name[i]) return false;
    return true;
}

constexpr std::array<CfaPattern, 4> kPatterns = {CfaPattern::rggb, CfaPattern::grbg, CfaPattern::gbrg,
                                                 CfaPattern::bggr};

// Whether an offset keyword's value moves the layout by one, and whether it
// is one the capture programs write at all. They write 0 or 1 (the phase of a
// region of interest); a larger or negative value is most likely the
// region's full offset, whose parity is what counts.
struct OffsetParity {
    bool odd = false;
    bool outOfRange = false;
};
constexpr OffsetParity offsetParity(std::optional<int64_t> value) {
    if (!value) return {};
    return {(static_cast<uint64_t>(*value) & 1u) != 0, *value != 0 && *value != 1};
}

}  // namespace

std::optional<CfaPattern> patternNamed(std::string_view text) {
    const std::string_view name = trimBlanks(text);
    for (CfaPattern p : kPatterns)
        if (equalsIgnoringCase(name, patternName(p))) return p;
    return std::nullopt;
}

MosaicPhase mosaicPhase(const MosaicKeywords& keywords, std::optional<CfaPattern> override) {
    MosaicPhase phase;
    std::optional<CfaPattern> named = override;
    if (!named && keywords.bayerPattern) {
        named = patternNamed(*keywords.bayerPattern);
        if (!named) phase.warnings |= kPatternUnknown;
    }

    // BAYERPAT names the first two rows as the sensor reads them out. A file
    // stored bottom-up holds the last row read out first; it has the first
    // row's phase when the height is odd, the second's when it is even.
    // Without ROWORDER the rows are taken as top-down, as Siril takes them:
    // the capture programs that write BAYERPAT store top-down.
    bool bottomUp = false;
    if (keywords.rowOrder) {
        const std::string_view order = trimBlanks(*keywords.rowOrder);
        if (equalsIgnoringCase(order, "BOTTOM-UP")) {
            bottomUp = true;
        } else if (!equalsIgnoringCase(order, "TOP-DOWN")) {
            phase.warnings |= kRowOrderUnknown;
        }
    }

    const OffsetParity x = offsetParity(keywords.xOffset);
    const OffsetParity y = offsetParity(keywords.yOffset);
    if (x.outOfRange) phase.warnings |= kXOffsetOutOfRange;
    if (y.outOfRange) phase.warnings |= kYOffsetOutOfRange;
    if (!named) return phase;

    // Each rule swaps rows or columns, and swaps commute: the order in which
    // they are applied does not matter.
    CfaPattern p = *named;
    if (x.odd) p = withColumnsSwapped(p);
    if (y.odd) p = withRowsSwapped(p);
    if (bottomUp) p = patternWithRowsReversed(p, keywords.height);
    phase.pattern = p;
    return phase;
}

}  // namespace nebulite::debayer
