#include "import/keywords.h"

#include <array>
#include <string_view>

#include "header/card_text.h"
#include "shell/session.h"

namespace nebulite {

namespace {

using KeywordEffect = void (*)(std::string_view value);

void onBitpix(std::string_view value) {
    ++session.keyCardsSeen;
    int64_t v = intValue(value);
    session.bitpixSeen = true;
    session.bitpixValue = v;
    session.bitpixNegative = v < 0;
    // Keep the magnitude within 16 bits; anything that large is refused
    // later. Unsigned, since the smallest 64-bit value has no negation.
    const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    int16_t bits = static_cast<int16_t>(magnitude > 512 ? 512 : magnitude);
    session.fileBitpix = bits;
    session.hostDepth = bits > 16 ? int16_t{16} : bits;
    session.hostSampleBytes = static_cast<int16_t>(session.hostDepth / 8);
    session.fileSampleBytes = static_cast<int16_t>(session.fileBitpix / 8);
}
void onNaxis(std::string_view value) {
    ++session.keyCardsSeen;
    session.naxisSeen = true;
    session.naxisValue = intValue(value);
    session.isColor = session.naxisValue == 3;
}
void onNaxis1(std::string_view value) {
    ++session.keyCardsSeen;
    session.naxis1Seen = true;
    session.naxis1Value = intValue(value);
}
void onNaxis2(std::string_view value) {
    ++session.keyCardsSeen;
    session.naxis2Seen = true;
    session.naxis2Value = intValue(value);
}
void onNaxis3(std::string_view value) { session.naxis3Value = intValue(value); }
void onBzero(std::string_view value) { session.bzero = realValue(value); }
void onBscale(std::string_view value) { session.bscale = realValue(value); }
void onBlank(std::string_view value) {
    session.blankSeen = true;
    session.blankValue = intValue(value);
}
void onRangeLow(std::string_view value) {
    session.rangeLow = realValue(value);
    session.rangeKeywordSeen = true;
}
void onRangeHigh(std::string_view value) {
    session.rangeHigh = realValue(value);
    session.rangeKeywordSeen = true;
}
void onOffsetLow(std::string_view value) {
    onRangeLow(value);
    session.rangeIsOffset = true;
}
void onOffsetHigh(std::string_view value) {
    onRangeHigh(value);
    session.rangeIsOffset = true;
}
void onEnd(std::string_view) { session.endSeen = true; }
void onNebulite(std::string_view) { session.idCardPresent = true; }
void noEffect(std::string_view) {}

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

void resetImageKeywords() {
    session.keyCardsSeen = 0;
    session.bscale = 1.0;
    session.bzero = 0.0;
    session.rangeLow = 0.0;
    session.rangeHigh = 0.0;
    session.rangeIsOffset = false;
    session.rangeKeywordSeen = false;
    session.bitpixSeen = session.naxisSeen = session.naxis1Seen = session.naxis2Seen = false;
    session.bitpixValue = session.naxisValue = session.naxis1Value = session.naxis2Value = 0;
    session.naxis3Value = 1;
    session.blankSeen = false;
    session.blankValue = 0;
    session.fileBitpix = session.fileSampleBytes = session.hostDepth = session.hostSampleBytes = 0;
    session.bitpixNegative = false;
    session.isColor = false;
    session.dataBytes = 0;
}

void applyKeyword(const char* card) {
    SplitCard split = splitCard(card);
    for (const KeywordRow& row : kKeywords) {
        if (keywordIs(split.keyword, row.keyword)) {
            row.effect(split.value);
            return;
        }
    }
}

}  // namespace nebulite
