#include "header/header_keywords.h"

#include <array>
#include <cstring>

#include "header/card_text.h"
#include "header/fits_units.h"

namespace nebulite {

int16_t HeaderKeywords::fileBits() const {
    // Unsigned, since the smallest 64-bit value has no negation.
    const uint64_t magnitude = bitpix < 0 ? 0 - static_cast<uint64_t>(bitpix) : static_cast<uint64_t>(bitpix);
    return static_cast<int16_t>(magnitude > 512 ? 512 : magnitude);
}

namespace {

using KeywordEffect = void (*)(const char* card, std::string_view value, HeaderKeywords& k);

void onSimple(const char*, std::string_view, HeaderKeywords& k) { k.type = HduType::primary; }
void onXtension(const char* card, std::string_view, HeaderKeywords& k) {
    const std::string_view type = stringValue(card);
    k.type = type == "IMAGE"      ? HduType::image
             : type == "BINTABLE" ? HduType::binaryTable
             : type == "TABLE"    ? HduType::asciiTable
                                  : HduType::other;
}
void onBitpix(const char*, std::string_view value, HeaderKeywords& k) {
    ++k.sizeCardsSeen;
    k.bitpixSeen = true;
    k.bitpix = intValue(value);
}
void onNaxis(const char*, std::string_view value, HeaderKeywords& k) {
    ++k.sizeCardsSeen;
    k.naxisSeen = true;
    k.naxis = intValue(value);
}
void onPcount(const char*, std::string_view value, HeaderKeywords& k) { k.pcount = intValue(value); }
void onGcount(const char*, std::string_view value, HeaderKeywords& k) { k.gcount = intValue(value); }
void onZimage(const char* card, std::string_view, HeaderKeywords& k) { k.zimage = logicalTrue(card); }
// A string value into a fixed field, cut to the field.
template <size_t N>
void keepString(const char* card, char (&field)[N]) {
    const std::string_view text = stringValue(card);
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    // A value that is no string gives an empty view, whose data may be null.
    if (n > 0) std::memcpy(field, text.data(), n);
    field[n] = '\0';
}
void onExtname(const char* card, std::string_view, HeaderKeywords& k) { keepString(card, k.extname); }
// Capture programs write these four in more ways than FITS allows: a
// pattern or row order without its quotes or in lower case, an offset as a
// quoted number. What they mean is still plain.
constexpr char upperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool sameWord(std::string_view text, std::string_view upperName) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.size() != upperName.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (upperCase(text[i]) != upperName[i]) return false;
    return true;
}
void onRowOrder(const char* card, std::string_view, HeaderKeywords& k) {
    const std::string_view order = wordValue(card);
    k.rowOrder = sameWord(order, "TOP-DOWN")    ? RowOrderKeyword::topDown
                 : sameWord(order, "BOTTOM-UP") ? RowOrderKeyword::bottomUp
                                                : RowOrderKeyword::other;
}
void onBayerPattern(const char* card, std::string_view, HeaderKeywords& k) {
    const std::string_view text = wordValue(card);
    const size_t n = text.size() < sizeof k.bayerPattern - 1 ? text.size() : sizeof k.bayerPattern - 1;
    if (n > 0) std::memcpy(k.bayerPattern, text.data(), n);
    k.bayerPattern[n] = '\0';
    k.bayerPatternSeen = true;
}
int64_t offsetValue(const char* card, std::string_view value) {
    const std::string_view quoted = stringValue(card);
    return intValue(quoted.empty() ? value : quoted);
}
void onXBayerOffset(const char* card, std::string_view value, HeaderKeywords& k) {
    k.xBayerOffset = offsetValue(card, value);
}
void onYBayerOffset(const char* card, std::string_view value, HeaderKeywords& k) {
    k.yBayerOffset = offsetValue(card, value);
}
void onExtver(const char*, std::string_view value, HeaderKeywords& k) { k.extver = intValue(value); }
void onBzero(const char*, std::string_view value, HeaderKeywords& k) { k.bzero = realValue(value); }
void onBscale(const char*, std::string_view value, HeaderKeywords& k) { k.bscale = realValue(value); }
void onBlank(const char*, std::string_view value, HeaderKeywords& k) {
    k.blankSeen = true;
    k.blank = intValue(value);
}
void onRangeLow(const char*, std::string_view value, HeaderKeywords& k) {
    k.rangeLow = realValue(value);
    k.rangeSeen = true;
}
void onRangeHigh(const char*, std::string_view value, HeaderKeywords& k) {
    k.rangeHigh = realValue(value);
    k.rangeSeen = true;
}
void onOffsetLow(const char* card, std::string_view value, HeaderKeywords& k) {
    onRangeLow(card, value, k);
    k.rangeIsOffset = true;
}
void onOffsetHigh(const char* card, std::string_view value, HeaderKeywords& k) {
    onRangeHigh(card, value, k);
    k.rangeIsOffset = true;
}
void onEnd(const char*, std::string_view, HeaderKeywords& k) { k.endSeen = true; }
void onNebulite(const char*, std::string_view, HeaderKeywords& k) { k.identified = true; }
void noEffect(const char*, std::string_view, HeaderKeywords&) {}

struct KeywordRow {
    std::string_view keyword;
    KeywordEffect effect;
};

// NAXISn is not here: its number is read from the keyword (axisNumber).
constexpr std::array<KeywordRow, 27> kKeywords = {{
    {"SIMPLE", onSimple},
    {"XTENSION", onXtension},
    {"BITPIX", onBitpix},
    {"NAXIS", onNaxis},
    {"PCOUNT", onPcount},
    {"GCOUNT", onGcount},
    {"ZIMAGE", onZimage},
    {"EXTNAME", onExtname},
    {"EXTVER", onExtver},
    {"BZERO", onBzero},
    {"BUNIT", noEffect},
    {"BSCALE", onBscale},
    {"BLANK", onBlank},
    {"BACKGRND", onOffsetLow},
    {"RANGE", onOffsetHigh},
    {"AVISUMIN", onRangeLow},
    {"AVISUMAX", onRangeHigh},
    {"DATAMIN", onRangeLow},
    {"DATAMAX", onRangeHigh},
    {"CBLACK", onRangeLow},
    {"CWHITE", onRangeHigh},
    {"END", onEnd},
    {"NEBULITE", onNebulite},
    {"ROWORDER", onRowOrder},
    {"BAYERPAT", onBayerPattern},
    {"XBAYROFF", onXBayerOffset},
    {"YBAYROFF", onYBayerOffset},
}};

void onAxis(int n, std::string_view value, HeaderKeywords& k) {
    // The size cards the reader's estimate waits for.
    if (n <= 2) ++k.sizeCardsSeen;
    k.axes[n - 1] = intValue(value);
    k.axisSeen[n - 1] = true;
}

}  // namespace

void noteKeyword(const char* card, HeaderKeywords& keys) {
    const SplitCard split = splitCard(card);
    if (const int n = axisNumber(split.keyword); n > 0) {
        onAxis(n, split.value, keys);
        return;
    }
    for (const KeywordRow& row : kKeywords) {
        if (keywordIs(split.keyword, row.keyword)) {
            row.effect(card, split.value, keys);
            return;
        }
    }
}

std::optional<uint64_t> dataUnitBytes(int64_t bitpix, int64_t naxis, const int64_t* axes, int64_t pcount,
                                      int64_t gcount) {
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 && bitpix != -64)
        return std::nullopt;
    if (naxis < 0 || naxis > kMaxAxes || pcount < 0 || gcount < 0) return std::nullopt;
    constexpr uint64_t kLimit = INT64_MAX;
    uint64_t product = naxis == 0 ? 0 : 1;
    for (int64_t i = 0; i < naxis; ++i) {
        if (axes[i] < 0) return std::nullopt;
        auto p = checkedMul(product, static_cast<uint64_t>(axes[i]), kLimit);
        if (!p) return std::nullopt;
        product = *p;
    }
    auto elements = checkedAdd(product, static_cast<uint64_t>(pcount), kLimit);
    if (!elements) return std::nullopt;
    auto groups = checkedMul(*elements, static_cast<uint64_t>(gcount), kLimit);
    if (!groups) return std::nullopt;
    return checkedMul(*groups, static_cast<uint64_t>(bitpix < 0 ? -bitpix : bitpix) / 8, kLimit);
}

std::optional<uint64_t> dataUnitBytes(const HeaderKeywords& keys) {
    if (!keys.bitpixSeen || !keys.naxisSeen || keys.naxis < 0 || keys.naxis > kMaxAxes) return std::nullopt;
    // An axis whose card is missing leaves the size unknown.
    for (int32_t n = 1; n <= keys.naxis; ++n)
        if (!keys.axisKnown(n)) return std::nullopt;
    return dataUnitBytes(keys.bitpix, keys.naxis, keys.axes, keys.pcount, keys.gcount);
}

}  // namespace nebulite
