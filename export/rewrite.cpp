#include "export/rewrite.h"

#include <cstdio>
#include <cstring>

#include "export/rewrite_rules.h"
#include "export/write_layout.h"
#include "header/card_buffer.h"
#include "header/card_text.h"
#include "shell/geometry.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

bool isBlankCard(const char* card) {
    for (uint32_t i = 0; i < kCardBytes; ++i)
        if (card[i] != ' ') return false;
    return true;
}

// Puts `card` at `slot`, moving the cards from `slot` to `lastUsed` one slot
// on; whatever followed `lastUsed` is blank padding. The header grows by a
// block when the cards no longer fit its last one.
bool insertCardAt(PluginState& state, CardBuffer& header, uint32_t slot, int64_t lastUsed, const char* card) {
    if (lastUsed + 1 >= static_cast<int64_t>(state.headerLength / kCardBytes)) {
        uint32_t grown = state.headerLength + kBlockBytes;
        if (!header.resize(state.headerLength, grown)) return false;
        state.headerLength = grown;
        header.headerBlocks = static_cast<int32_t>(blocksFor(grown));
    }
    char* base = header.text();
    if (lastUsed >= static_cast<int64_t>(slot)) {
        size_t from = size_t{slot} * kCardBytes;
        size_t to = static_cast<size_t>(lastUsed + 1) * kCardBytes;
        std::memmove(base + from + kCardBytes, base + from, to - from);
    }
    std::memcpy(base + size_t{slot} * kCardBytes, card, kCardBytes);
    return true;
}

void makeValueCard(char* card, const char* keyword, std::string_view value) {
    setCardText(card, keyword);
    card[8] = '=';
    putRightAligned(card, value, 30);
}

const char* stretchName(options::Stretch s) {
    switch (s) {
        case options::Stretch::linear: return "linear";
        case options::Stretch::sqrt: return "sqrt";
        case options::Stretch::log: return "log";
        case options::Stretch::asinh: return "asinh";
        case options::Stretch::mtf: return "mtf";
        case options::Stretch::range: break;
    }
    return "range";
}

// "HISTORY opened through the asinh stretch, black 12.5 white 400.25".
void stretchHistory(const options::MappingChoice& mapping, char* card) {
    char text[2 * kCardBytes];
    if (mapping.interval.black && mapping.interval.white)
        std::snprintf(text, sizeof text, "HISTORY opened through the %s stretch, black %.9G white %.9G",
                      stretchName(mapping.stretch), *mapping.interval.black, *mapping.interval.white);
    else
        std::snprintf(text, sizeof text, "HISTORY opened through the %s stretch", stretchName(mapping.stretch));
    setCardText(card, std::string_view(text, std::strlen(text) < kCardBytes ? std::strlen(text) : kCardBytes));
}

// Remembers where a 32-bit document's range keywords stand.
void noteRangeSlot(WriteOperation& write, const CardRole& role, uint32_t slot) {
    auto keep = [slot](int32_t (&slots)[WriteOperation::kMaxRangeCards]) {
        for (int32_t& s : slots)
            if (s < 0) {
                s = static_cast<int32_t>(slot);
                return;
            }
    };
    if (role.rangeLow) keep(write.rangeLowSlots);
    if (role.rangeHigh) keep(write.rangeHighSlots);
}

// The cards from `slot` on moved one slot down: the remembered places of
// the range cards go with them.
void noteInsertAt(WriteOperation& write, uint32_t slot) {
    for (int32_t* slots : {write.rangeLowSlots, write.rangeHighSlots})
        for (int i = 0; i < WriteOperation::kMaxRangeCards; ++i)
            if (slots[i] >= static_cast<int32_t>(slot)) ++slots[i];
}

// A header replaced by a synthesized one has no range cards to fill in.
void forgetRangeSlots(WriteOperation& write) {
    for (int32_t& s : write.rangeLowSlots) s = -1;
    for (int32_t& s : write.rangeHighSlots) s = -1;
}

}  // namespace

bool rewriteHeader(PluginState& state, WriteOperation& write, bool mendCutStrings) {
    CardBuffer& header = write.header;
    const FormatRecord& record = *state.formatRecord;
    const ImageSize size = imageSizeOf(record);
    SavedImage image;
    image.depth = record.depth;
    image.bitpix = write.plan.bitpix;
    image.keepScaling = write.plan.keepScaling;
    image.demosaiced = write.plan.demosaiced;
    image.demosaicMethod = write.plan.demosaic == options::Demosaic::quality ? "Hamilton-Adams" : "bilinear";
    image.rows = size.rows;
    image.columns = size.columns;
    image.planes = planesToWrite(record.imageMode, record.planes);
    image.mendCutStrings = mendCutStrings;
    write.bzero = 0.0;
    write.isColor = image.planes > 1;
    write.planesWritten = image.planes;
    bool endSeen = false;
    bool bzeroCardSeen = false;
    bool naxis3Seen = false;
    int64_t endSlot = -1;
    int64_t naxis2Slot = -1;

    const auto slots = static_cast<uint32_t>(header.keptBytes() / kCardBytes);
    for (uint32_t slot = 0; slot < slots; ++slot) {
        char* card = header.cardAt(slot);
        // Nothing follows END in a header: whatever records a document holds
        // beyond it would otherwise be read as more header, or as samples.
        if (endSeen) {
            std::memset(card, ' ', kCardBytes);
            continue;
        }
        CardRole role = rewriteCard(card, image, slot);
        if (role.offsetSamples) write.bzero = 32768.0;
        bzeroCardSeen = bzeroCardSeen || role.bzero;
        naxis3Seen = naxis3Seen || role.naxis3;
        if (role.naxis2) naxis2Slot = slot;
        noteRangeSlot(write, role, slot);
        if (role.end) {
            endSeen = true;
            endSlot = slot;
        }
    }

    // Nothing more to do for a document without a kept header: WriteStart
    // writes a header of its own instead, without the cards noted here.
    if (header.text()[0] != 'S') {
        forgetRangeSlots(write);
        return true;
    }
    char card[kCardBytes];
    // A header must end; one that lost its END gets it after the last card.
    if (endSlot < 0) {
        int64_t last = static_cast<int64_t>(slots) - 1;
        while (last >= 0 && isBlankCard(header.cardAt(static_cast<uint32_t>(last)))) --last;
        setCardText(card, "END");
        if (!insertCardAt(state, header, static_cast<uint32_t>(last + 1), last, card)) return false;
        endSlot = last + 1;
    }
    // The header ends with END's block.
    auto endsAt = static_cast<uint32_t>(blockedCardBytes(static_cast<uint64_t>(endSlot + 1)));
    if (endsAt < state.headerLength) {
        state.headerLength = endsAt;
        header.headerBlocks = static_cast<int32_t>(blocksFor(endsAt));
    }
    // A colour image needs its third axis even when the kept header had none:
    // it goes right after NAXIS2.
    if (write.isColor && !naxis3Seen && naxis2Slot >= 0 && endSlot > naxis2Slot) {
        char planesText[24];
        makeValueCard(card, "NAXIS3", decimalText(image.planes, planesText));
        if (!insertCardAt(state, header, static_cast<uint32_t>(naxis2Slot + 1), endSlot, card)) return false;
        noteInsertAt(write, static_cast<uint32_t>(naxis2Slot + 1));
        ++endSlot;
    }
    // A document opened through a stretch is not the file's data: its
    // header says how it was made.
    if (write.plan.stretch.stretch != options::Stretch::range) {
        stretchHistory(write.plan.stretch, card);
        if (!insertCardAt(state, header, static_cast<uint32_t>(endSlot), endSlot, card)) return false;
        ++endSlot;
    }
    // A 32-bit document stored as integers keeps a card for the count of
    // values its type could not hold, written once the data is.
    if (image.depth == 32 && image.bitpix > 0) {
        setCardText(card, "");
        if (!insertCardAt(state, header, static_cast<uint32_t>(endSlot), endSlot, card)) return false;
        write.historySlot = static_cast<int32_t>(endSlot);
        ++endSlot;
    }
    // FITS defines 16-bit samples as signed. Without a BZERO card they would
    // be read as negative numbers everywhere else, so the header gets one and
    // the samples are written with that offset.
    if (image.depth == 16 && !bzeroCardSeen) {
        makeValueCard(card, "BZERO", "32768.0");
        if (!insertCardAt(state, header, static_cast<uint32_t>(endSlot), endSlot, card)) return false;
        write.bzero = 32768.0;
    }
    return true;
}

}  // namespace nebulite
