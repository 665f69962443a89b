#include "export/float_header.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "header/card_text.h"
#include "header/header_keywords.h"
#include "shell/file_access.h"

namespace nebulite {

BlankRule blankRuleOf(const CardBuffer& header, const SavePlan& plan) {
    BlankRule rule;
    if (plan.depth != 32 || !plan.keepScaling || plan.bitpix < 0 || !header.held()) return rule;
    HeaderKeywords keys;
    for (uint32_t i = 0; i * kCardBytes < header.keptBytes(); ++i) {
        noteKeyword(header.cardAt(i), keys);
        if (keys.endSeen) break;
    }
    rule.present = keys.blankSeen;
    rule.value = keys.blank;
    return rule;
}

namespace {

// A range card with `value`, keeping its keyword and comment.
void rangeCard(const char* kept, double value, char* card) {
    std::memcpy(card, kept, kCardBytes);
    char text[32];
    // Seventeen significant digits give a double back exactly.
    std::snprintf(text, sizeof text, "%.17G", value);
    std::memset(card + 10, ' ', 20);
    putRightAligned(card, text, 30);
}

// The header's card at `slot`, when the slot lies within the header written.
const char* headerCardAt(const WriteOperation& write, uint32_t headerLength, int32_t slot) {
    if (slot < 0 || cardBytes(static_cast<uint64_t>(slot) + 1) > headerLength) return nullptr;
    return write.header.cardAt(static_cast<uint32_t>(slot));
}

// Each card the data fills in, handed to `put(slot, card)`; only slots of
// the header's `headerLength` bytes.
template <typename Put>
void fillFloatCards(const WriteOperation& write, uint32_t headerLength, Put put) {
    const FloatWriteStats& stats = write.written;
    const bool anyValue = stats.low <= stats.high;
    char card[kCardBytes];
    for (int i = 0; i < WriteOperation::kMaxRangeCards && anyValue; ++i) {
        if (const char* kept = headerCardAt(write, headerLength, write.rangeLowSlots[i])) {
            rangeCard(kept, stats.low, card);
            put(write.rangeLowSlots[i], card);
        }
        if (const char* kept = headerCardAt(write, headerLength, write.rangeHighSlots[i])) {
            rangeCard(kept, stats.high, card);
            put(write.rangeHighSlots[i], card);
        }
    }
    if (headerCardAt(write, headerLength, write.historySlot) != nullptr && stats.clamped > 0) {
        // At most 20 digits and 3: the text fits its card.
        char text[96];
        std::snprintf(text, sizeof text, "HISTORY Nebulite: %llu values beyond BITPIX %d's range clamped",
                      static_cast<unsigned long long>(stats.clamped), int{write.plan.bitpix});
        setCardText(card, text);
        put(write.historySlot, card);
    }
}

}  // namespace

void completeFloatHeader(PluginState& state, WriteOperation& write) {
    if (state.result != noErr) return;
    // Each card written over its place in the file.
    fillFloatCards(write, state.headerLength, [&](int32_t slot, const char* card) {
        if (state.result != noErr) return;
        const int64_t offset = static_cast<int64_t>(cardBytes(static_cast<uint64_t>(slot)));
        if (!recordError(state, fileSeekTo(state.formatRecord->dataFork, offset))) return;
        writeExact(state, static_cast<int32_t>(kCardBytes), card);
    });
}

void completeFloatHeaderText(WriteOperation& write, uint32_t headerLength) {
    fillFloatCards(write, headerLength, [&](int32_t slot, const char* card) {
        if (char* at = write.header.cardAt(static_cast<uint32_t>(slot)); at != nullptr) std::memcpy(at, card, kCardBytes);
    });
}

}  // namespace nebulite
