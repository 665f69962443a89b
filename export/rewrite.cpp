#include "export/rewrite.h"

#include <cstring>
#include <string_view>

#include "export/write_layout.h"
#include "header/card_buffer.h"
#include "header/card_text.h"
#include "shell/geometry.h"
#include "shell/session.h"
#include "shell/sizes.h"

namespace nebulite {

namespace {

constexpr std::string_view kNaxis3Comment = "COMMENT = NAXIS3 Removal by Nebulite. Plane removed.";
constexpr std::string_view kNaxis4Comment = "COMMENT = NAXIS4 Removal by Nebulite. Plane removed.";
constexpr std::string_view kChecksumComment = "COMMENT = CHECKSUM Removal by Nebulite. Data changed.";
constexpr std::string_view kDatasumComment = "COMMENT = DATASUM Removal by Nebulite. Data changed.";
constexpr std::string_view kBlankComment = "COMMENT = BLANK Removal by Nebulite. Out of range.";

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

// The document's records keep a card only up to the column its first
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
// BITPIX cannot hold only confuses readers.
bool blankFits(const char* card, int16_t depth) {
    int64_t value = intValue(splitCard(card).value);
    if (depth == 8) return value >= 0 && value <= 255;
    if (depth == 16) return value >= -32768 && value <= 32767;
    return false;
}

// Puts `card` in front of the END card at slot `endSlot`, moving END one
// slot on and growing the header by a block when END held the last slot.
bool insertBeforeEnd(PluginState& state, uint32_t endSlot, const char* card) {
    uint32_t slots = state.headerLength / kCardBytes;
    if (endSlot + 1 >= slots) {
        uint32_t grown = state.headerLength + kBlockBytes;
        if (!resizeCardBuffer(state.headerLength, grown)) return false;
        state.headerLength = grown;
        session.headerBlocks = static_cast<int32_t>(grown / kBlockBytes);
    }
    char* end = cardAt(endSlot);
    char* after = cardAt(endSlot + 1);
    // Whatever followed END is blank padding; END takes the first of it.
    std::memcpy(after, end, kCardBytes);
    std::memcpy(end, card, kCardBytes);
    return true;
}

}  // namespace

bool rewriteHeader(PluginState& state) {
    const FormatRecord& record = *state.formatRecord;
    const int16_t depth = record.depth;
    char depthText[24], rowsText[24], columnsText[24], planesText[24];
    std::string_view depthValue = decimalText(depth, depthText);
    const ImageSize size = imageSizeOf(record);
    std::string_view rowsValue = decimalText(size.rows, rowsText);
    std::string_view columnsValue = decimalText(size.columns, columnsText);
    const int16_t planes = planesToWrite(record.imageMode, record.planes);
    std::string_view planesValue = decimalText(planes, planesText);
    session.bzero = 0.0;
    session.isColor = planes > 1;
    session.planesWritten = planes;
    bool endSeen = false;
    bool bzeroCardSeen = false;
    bool naxis3Seen = false;
    int64_t endSlot = -1;
    int64_t naxis2Slot = -1;

    uint64_t limit = uint64_t{static_cast<uint32_t>(session.headerBlocks)} * kBlockBytes;
    if (limit > session.cardBufferSize) limit = session.cardBufferSize;
    for (uint64_t q = 0; q + kCardBytes <= limit; q += kCardBytes) {
        char* card = session.cardBuffer + q;
        auto slot = static_cast<int64_t>(q / kCardBytes);
        // Nothing follows END in a header: whatever records a document holds
        // beyond it would otherwise be read as more header, or as samples.
        if (endSeen) {
            std::memset(card, ' ', kCardBytes);
            continue;
        }
        if (startsWith(card, "BITPIX")) {
            rewriteValue(card, depthValue);
        } else if (startsWith(card, "NAXIS1")) {
            rewriteValue(card, columnsValue);
        } else if (startsWith(card, "NAXIS2")) {
            rewriteValue(card, rowsValue);
            naxis2Slot = slot;
        } else if (startsWith(card, "BZERO")) {
            session.bzero = 32768.0;
            if (keywordIs(splitCard(card).keyword, "BZERO")) bzeroCardSeen = true;
            rewriteValue(card, depth == 16 ? "32768.0" : "0.0");
        } else if (startsWith(card, "NAXIS3") && !session.isColor) {
            setCardText(card, kNaxis3Comment);
        } else if (startsWith(card, "NAXIS4")) {
            setCardText(card, kNaxis4Comment);
        } else if (startsWith(card, "NAXIS ")) {
            rewriteValue(card, session.isColor ? "3" : "2");
        } else {
            // The file written is standard FITS whatever the original claimed.
            if (q == 0 && keywordIs(splitCard(card).keyword, "SIMPLE")) conformSimpleCard(card);
            // A colour image's NAXIS3 states the planes actually written.
            if (keywordIs(splitCard(card).keyword, "NAXIS3")) {
                naxis3Seen = true;
                if (intValue(splitCard(card).value) != planes) rewriteValue(card, planesValue);
            }
            // END by its whole keyword, as the reader knows it: a card such
            // as "END MIN = 0" is not the end of the header.
            if (keywordIs(splitCard(card).keyword, "END")) {
                setCardText(card, "END");  // nothing may follow END on its card
                endSlot = slot;
                endSeen = true;
            }
            if (isBlankCard(card) && !endSeen && q / kBlockBytes >= 1000) {
                std::memcpy(card, "END", 3);
                endSeen = true;
                endSlot = slot;
            }
            for (const FixedCard& fixed : kFixedCards) {
                if (!startsWith(card, fixed.prefix)) continue;
                std::string_view text = !fixed.any.empty() ? fixed.any
                                        : depth == 8         ? fixed.depth8
                                        : depth == 16        ? fixed.depth16
                                                             : std::string_view{};
                setCardText(card, text);
                break;
            }
            // Checksums describe bytes that are about to change.
            if (keywordIs(splitCard(card).keyword, "CHECKSUM")) setCardText(card, kChecksumComment);
            if (keywordIs(splitCard(card).keyword, "DATASUM")) setCardText(card, kDatasumComment);
            if (keywordIs(splitCard(card).keyword, "BLANK") && !blankFits(card, depth))
                setCardText(card, kBlankComment);
            closeTruncatedString(card);
        }
    }

    // Nothing more to do for a document without a kept header.
    if (session.cardBuffer[0] != 'S') return true;
    // A header must end; one that lost its END gets it after the last card.
    if (endSlot < 0) {
        int64_t last = static_cast<int64_t>(limit / kCardBytes) - 1;
        while (last >= 0 && isBlankCard(session.cardBuffer + kCardBytes * last)) --last;
        auto slot = static_cast<uint32_t>(last + 1);
        if (uint64_t{slot} * kCardBytes >= state.headerLength) {
            uint32_t grown = state.headerLength + kBlockBytes;
            if (!resizeCardBuffer(state.headerLength, grown)) return false;
            state.headerLength = grown;
            session.headerBlocks = static_cast<int32_t>(grown / kBlockBytes);
        }
        setCardText(cardAt(slot), "END");
        endSlot = slot;
    }
    // The header ends with END's block.
    auto endsAt = static_cast<uint32_t>(roundUpToBlock(static_cast<uint64_t>(endSlot + 1) * kCardBytes));
    if (endsAt < state.headerLength) {
        state.headerLength = endsAt;
        session.headerBlocks = static_cast<int32_t>(endsAt / kBlockBytes);
    }
    // A colour image needs its third axis even when the kept header had none:
    // it goes right after NAXIS2, the cards after it move one slot on.
    if (session.isColor && !naxis3Seen && naxis2Slot >= 0 && endSlot > naxis2Slot) {
        if (endSlot + 1 >= static_cast<int64_t>(state.headerLength / kCardBytes)) {
            uint32_t grown = state.headerLength + kBlockBytes;
            if (!resizeCardBuffer(state.headerLength, grown)) return false;
            state.headerLength = grown;
            session.headerBlocks = static_cast<int32_t>(grown / kBlockBytes);
        }
        char* base = session.cardBuffer;
        auto from = static_cast<size_t>(naxis2Slot + 1) * kCardBytes;
        auto to = static_cast<size_t>(endSlot + 1) * kCardBytes;
        std::memmove(base + from + kCardBytes, base + from, to - from);
        char* card = base + from;
        std::memset(card, ' ', kCardBytes);
        std::memcpy(card, "NAXIS3  = ", 10);
        putRightAligned(card, planesValue, 30);
        ++endSlot;
    }
    // FITS defines 16-bit samples as signed. Without a BZERO card they would
    // be read as negative numbers everywhere else, so the header gets one and
    // the samples are written with that offset.
    if (depth == 16 && !bzeroCardSeen) {
        char card[kCardBytes];
        std::memset(card, ' ', kCardBytes);
        std::memcpy(card, "BZERO   = ", 10);
        putRightAligned(card, "32768.0", 30);
        if (!insertBeforeEnd(state, static_cast<uint32_t>(endSlot), card)) return false;
        session.bzero = 32768.0;
    }
    return true;
}

}  // namespace nebulite
