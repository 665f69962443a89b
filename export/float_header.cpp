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

// Each card the data fills in, handed to `put(slot, card)`.
template <typename Put>
void fillFloatCards(const WriteOperation& write, Put put) {
    const FloatWriteStats& stats = write.written;
    const bool anyValue = stats.low <= stats.high;
    char card[kCardBytes];
    for (int i = 0; i < WriteOperation::kMaxRangeCards && anyValue; ++i) {
        if (int32_t slot = write.rangeLowSlots[i]; slot >= 0) {
            rangeCard(write.header.cardAt(static_cast<uint32_t>(slot)), stats.low, card);
            put(slot, card);
        }
        if (int32_t slot = write.rangeHighSlots[i]; slot >= 0) {
            rangeCard(write.header.cardAt(static_cast<uint32_t>(slot)), stats.high, card);
            put(slot, card);
        }
    }
    if (write.historySlot >= 0 && stats.clamped > 0) {
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
    fillFloatCards(write, [&](int32_t slot, const char* card) {
        if (state.result != noErr || slot < 0) return;
        const int64_t offset = static_cast<int64_t>(cardBytes(static_cast<uint64_t>(slot)));
        if (!recordError(state, fileSeekTo(state.formatRecord->dataFork, offset))) return;
        writeExact(state, static_cast<int32_t>(kCardBytes), card);
    });
}

void completeFloatHeaderText(WriteOperation& write) {
    fillFloatCards(write, [&](int32_t slot, const char* card) {
        if (char* at = write.header.cardAt(static_cast<uint32_t>(slot)); at != nullptr) std::memcpy(at, card, kCardBytes);
    });
}

}  // namespace nebulite
