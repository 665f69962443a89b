#include "options/cfa_pattern.h"

#include <array>

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

CfaPattern patternAtFirstStoredPixel(CfaPattern named, int64_t xOffset, int64_t yOffset, bool storedBottomUp,
                                     uint64_t rows) {
    CfaPattern p = named;
    // The parity of a negative offset is that of its magnitude.
    if (xOffset % 2 != 0) p = swapColumns(p);
    if (yOffset % 2 != 0) p = swapRows(p);
    if (storedBottomUp && rows % 2 == 0) p = swapRows(p);
    return p;
}

}  // namespace nebulite::options
