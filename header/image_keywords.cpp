#include "header/image_keywords.h"

#include <array>
#include <string_view>

#include "header/card_text.h"

namespace nebulite {

int16_t ImageKeywords::fileBits() const {
    // Unsigned, since the smallest 64-bit value has no negation.
    const uint64_t magnitude = bitpix < 0 ? 0 - static_cast<uint64_t>(bitpix) : static_cast<uint64_t>(bitpix);
    return static_cast<int16_t>(magnitude > 512 ? 512 : magnitude);
}

namespace {

using KeywordEffect = void (*)(std::string_view value, ImageKeywords& k);

void onBitpix(std::string_view value, ImageKeywords& k) {
    ++k.sizeCardsSeen;
    k.bitpixSeen = true;
    k.bitpix = intValue(value);
}
void onNaxis(std::string_view value, ImageKeywords& k) {
    ++k.sizeCardsSeen;
    k.naxisSeen = true;
    k.naxis = intValue(value);
}
void onNaxis1(std::string_view value, ImageKeywords& k) {
    ++k.sizeCardsSeen;
    k.naxis1Seen = true;
    k.naxis1 = intValue(value);
}
void onNaxis2(std::string_view value, ImageKeywords& k) {
    ++k.sizeCardsSeen;
    k.naxis2Seen = true;
    k.naxis2 = intValue(value);
}
void onNaxis3(std::string_view value, ImageKeywords& k) { k.naxis3 = intValue(value); }
void onBzero(std::string_view value, ImageKeywords& k) { k.bzero = realValue(value); }
void onBscale(std::string_view value, ImageKeywords& k) { k.bscale = realValue(value); }
void onBlank(std::string_view value, ImageKeywords& k) {
    k.blankSeen = true;
    k.blank = intValue(value);
}
void onRangeLow(std::string_view value, ImageKeywords& k) {
    k.rangeLow = realValue(value);
    k.rangeSeen = true;
}
void onRangeHigh(std::string_view value, ImageKeywords& k) {
    k.rangeHigh = realValue(value);
    k.rangeSeen = true;
}
void onOffsetLow(std::string_view value, ImageKeywords& k) {
    onRangeLow(value, k);
    k.rangeIsOffset = true;
}
void onOffsetHigh(std::string_view value, ImageKeywords& k) {
    onRangeHigh(value, k);
    k.rangeIsOffset = true;
}
void onEnd(std::string_view, ImageKeywords& k) { k.endSeen = true; }
void onNebulite(std::string_view, ImageKeywords& k) { k.identified = true; }
void noEffect(std::string_view, ImageKeywords&) {}

struct KeywordRow {
    std::string_view keyword;
    KeywordEffect effect;
};

constexpr std::array<KeywordRow, 19> kKeywords = {{
    {"BITPIX", onBitpix},
    {"NAXIS", onNaxis},
    {"NAXIS1", onNaxis1},
    {"NAXIS2", onNaxis2},
    {"NAXIS3", onNaxis3},
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
}};

}  // namespace

void noteImageKeyword(const char* card, ImageKeywords& keys) {
    SplitCard split = splitCard(card);
    for (const KeywordRow& row : kKeywords) {
        if (keywordIs(split.keyword, row.keyword)) {
            row.effect(split.value, keys);
            return;
        }
    }
}

}  // namespace nebulite
