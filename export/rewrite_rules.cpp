#include "export/rewrite_rules.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "header/card_text.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

constexpr std::string_view kNaxis3Comment = "COMMENT = NAXIS3 Removal by Nebulite. Plane removed.";
constexpr std::string_view kNaxis4Comment = "COMMENT = NAXIS4 Removal by Nebulite. Plane removed.";
constexpr std::string_view kChecksumComment = "COMMENT = CHECKSUM Removal by Nebulite. Data changed.";
constexpr std::string_view kDatasumComment = "COMMENT = DATASUM Removal by Nebulite. Data changed.";
constexpr std::string_view kBlankComment = "COMMENT = BLANK Removal by Nebulite. Out of range.";

// Past this block a blank card before any END is taken as the end of the
// header: what a document holds there is no header a reader would follow.
constexpr uint32_t kBlankEndsHeaderFromBlock = 1000;

// The fixed cards that replace a range keyword, by depth. A keyword whose
// value depends on depth has no card at other depths and becomes blank.
struct FixedCard {
    std::string_view prefix;   // the columns compared
    std::string_view any;      // the card at any depth, or empty
    std::string_view depth8;
    std::string_view depth16;
};

constexpr FixedCard kFixedCards[] = {
    {"BSCALE", "BSCALE  =                  1.0", {}, {}},
    {"RANGE ", {}, "RANGE   =                255.0", "RANGE   =              65535.0"},
    {"BACKGRND", "BACKGRND=                  0.0", {}, {}},
    {"CWHITE", {}, "CWHITE  =                255.0", "CWHITE  =              65535.0"},
    {"CBLACK", "CBLACK  =                  0.0", {}, {}},
    {"DATAMAX", {}, "DATAMAX =                255.0", "DATAMAX =              65535.0"},
    {"DATAMIN", "DATAMIN =                  0.0", {}, {}},
    {"AVISUMAX", {}, "AVISUMAX=                255.0", "AVISUMAX=              65535.0"},
    {"AVISUMIN", "AVISUMIN=                  0.0", {}, {}},
};

bool startsWith(const char* card, std::string_view prefix) {
    return std::memcmp(card, prefix.data(), prefix.size()) == 0;
}

bool keywordOf(const char* card, std::string_view name) { return keywordIs(splitCard(card).keyword, name); }

// Columns 11-30 become `text`, right-aligned; keyword and comment stay.
void rewriteValue(char* card, std::string_view text) {
    std::memset(card + 10, ' ', 20);
    putRightAligned(card, text, 30);
}

bool isBlankCard(const char* card) {
    for (uint32_t i = 0; i < kCardBytes; ++i)
        if (card[i] != ' ') return false;
    return true;
}

// The document's 'hist' records keep a card only up to the column its first
// character's code names, so a long string value can come back without its
// closing quote. What is left of the text is kept; the quote goes in
// column 80, where the cut left spaces, so the card is a valid string again.
void closeTruncatedString(char* card) {
    bool valueCard = card[8] == '=' && card[9] == ' ';
    bool continuation = std::memcmp(card, "CONTINUE", 8) == 0;
    if (!valueCard && !continuation) return;
    uint32_t i = 10;
    while (i < kCardBytes && card[i] == ' ') ++i;
    if (i >= kCardBytes - 1 || card[i] != '\'') return;
    for (++i; i < kCardBytes; ++i) {
        if (card[i] != '\'') continue;
        if (i + 1 < kCardBytes && card[i + 1] == '\'') {
            ++i;  // a quote written twice stands for one quote
            continue;
        }
        return;  // closed
    }
    if (card[kCardBytes - 1] == ' ') card[kCardBytes - 1] = '\'';
}

// BLANK names a stored integer that stands for "no value"; one the new
// BITPIX cannot hold (or any, for floats) only confuses readers.
bool blankFits(const char* card, int16_t bitpix) {
    int64_t value = intValue(splitCard(card).value);
    switch (bitpix) {
        case 8: return value >= 0 && value <= 255;
        case 16: return value >= -32768 && value <= 32767;
        case 32: return value >= INT32_MIN && value <= INT32_MAX;
        case 64: return true;
        default: return false;
    }
}

// The range keywords of a 32-bit document say what its data holds: their
// cards stay, and the save puts the values in once the data is written.
// The low end's keywords, and the high end's.
bool isRangeLowCard(const char* card) {
    return startsWith(card, "DATAMIN") || startsWith(card, "CBLACK") || startsWith(card, "AVISUMIN");
}
bool isRangeHighCard(const char* card) {
    return startsWith(card, "DATAMAX") || startsWith(card, "CWHITE") || startsWith(card, "AVISUMAX");
}

void replaceByFixedCard(char* card, int16_t depth) {
    for (const FixedCard& fixed : kFixedCards) {
        if (!startsWith(card, fixed.prefix)) continue;
        std::string_view text = !fixed.any.empty() ? fixed.any
                                : depth == 8         ? fixed.depth8
                                : depth == 16        ? fixed.depth16
                                                     : std::string_view{};
        setCardText(card, text);
        return;
    }
}

// A card that named the colour filter of a mosaic the document no longer is.
bool isMosaicCard(const char* card) {
    return keywordOf(card, "BAYERPAT") || keywordOf(card, "XBAYROFF") || keywordOf(card, "YBAYROFF") ||
           keywordOf(card, "COLORTYP");
}

// "HISTORY demosaiced (bilinear), was: BAYERPAT= 'RGGB' ...", cut to the card.
void mosaicHistory(char* card, const char* method) {
    char was[kCardBytes + 1];
    std::memcpy(was, card, kCardBytes);
    size_t length = kCardBytes;
    while (length > 0 && was[length - 1] == ' ') --length;
    was[length] = '\0';
    char text[2 * kCardBytes];
    std::snprintf(text, sizeof text, "HISTORY demosaiced (%s), was: %s", method, was);
    setCardText(card, std::string_view(text, std::strlen(text) < kCardBytes ? std::strlen(text) : kCardBytes));
}

// The cards no size, axis or scaling rule took.
void rewriteOtherCard(char* card, const SavedImage& image, uint32_t slot, CardRole& role) {
    // The file written is standard FITS whatever the original claimed.
    if (slot == 0 && keywordOf(card, "SIMPLE")) conformSimpleCard(card);
    // A colour image's NAXIS3 states the planes actually written.
    if (keywordOf(card, "NAXIS3")) {
        role.naxis3 = true;
        if (intValue(splitCard(card).value) != image.planes) {
            char planesText[24];
            rewriteValue(card, decimalText(image.planes, planesText));
        }
    }
    // END by its whole keyword, as the reader knows it: a card such as
    // "END MIN = 0" is not the end of the header.
    if (keywordOf(card, "END")) {
        setCardText(card, "END");  // nothing may follow END on its card
        role.end = true;
    }
    if (!role.end && slot / kCardsPerBlock >= kBlankEndsHeaderFromBlock && isBlankCard(card)) {
        std::memcpy(card, "END", 3);
        role.end = true;
    }
    if (image.depth == 32) {
        role.rangeLow = isRangeLowCard(card);
        role.rangeHigh = isRangeHighCard(card);
        // RANGE and BACKGRND speak of an offset range no 32-bit save keeps.
        if (startsWith(card, "RANGE ") || startsWith(card, "BACKGRND")) setCardText(card, "");
        if (startsWith(card, "BSCALE") && !image.keepScaling) setCardText(card, "BSCALE  =                  1.0");
    } else {
        replaceByFixedCard(card, image.depth);
    }
    if (image.demosaiced && isMosaicCard(card)) mosaicHistory(card, image.demosaicMethod);
    // Checksums describe bytes that are about to change.
    if (keywordOf(card, "CHECKSUM")) setCardText(card, kChecksumComment);
    if (keywordOf(card, "DATASUM")) setCardText(card, kDatasumComment);
    if (keywordOf(card, "BLANK") && !blankFits(card, image.bitpix)) setCardText(card, kBlankComment);
    if (image.mendCutStrings) closeTruncatedString(card);
}

}  // namespace

CardRole rewriteCard(char* card, const SavedImage& image, uint32_t slot) {
    CardRole role;
    // A header is text: a zero byte some writer left is no character.
    for (uint32_t i = 0; i < kCardBytes; ++i)
        if (card[i] == '\0') card[i] = ' ';
    char text[24];
    const bool color = image.planes > 1;
    if (startsWith(card, "BITPIX")) {
        rewriteValue(card, decimalText(image.bitpix, text));
    } else if (startsWith(card, "NAXIS1")) {
        rewriteValue(card, decimalText(image.columns, text));
    } else if (startsWith(card, "NAXIS2")) {
        rewriteValue(card, decimalText(image.rows, text));
        role.naxis2 = true;
    } else if (startsWith(card, "BZERO")) {
        role.bzero = keywordOf(card, "BZERO");
        if (image.depth == 32) {
            if (!image.keepScaling) rewriteValue(card, "0.0");
        } else {
            role.offsetSamples = true;
            rewriteValue(card, image.depth == 16 ? "32768.0" : "0.0");
        }
    } else if (startsWith(card, "NAXIS3") && !color) {
        setCardText(card, kNaxis3Comment);
    } else if (startsWith(card, "NAXIS4")) {
        setCardText(card, kNaxis4Comment);
    } else if (startsWith(card, "NAXIS ")) {
        rewriteValue(card, color ? "3" : "2");
    } else {
        rewriteOtherCard(card, image, slot, role);
    }
    return role;
}

}  // namespace nebulite
