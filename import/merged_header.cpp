#include "import/merged_header.h"

#include <cstring>

#include "header/card_buffer.h"
#include "header/card_text.h"
#include "header/merge_plan.h"
#include "shell/module_memory.h"
#include "header/identification.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

// Counts the plan's cards, and whether one is the identification card.
struct Counter {
    uint64_t cards = 0;
    bool identified = false;
    static bool take(void* context, const char* card) {
        auto* self = static_cast<Counter*>(context);
        ++self->cards;
        self->identified = self->identified || isIdentificationCard(card);
        return true;
    }
};

// Hands cards to the header as the reader does, counting blocks as they
// fill, so that the identification card and the bound follow the reading
// rules.
struct Emitter {
    CardBuffer& header;
    uint64_t emitted = 0;
    bool ok = true;
    void emit(const char* card) {
        if (!ok) return;
        ok = header.append(card);
        if (lastCardOfBlock(emitted)) ++header.headerBlocks;
        ++emitted;
    }
    static bool take(void* context, const char* card) {
        auto* self = static_cast<Emitter*>(context);
        self->emit(card);
        return self->ok;
    }
};

}  // namespace

MergeResult mergeExtensionHeader(PluginState& state, ReadOperation& read, uint32_t primaryCards,
                                 const HeaderCards& extension) {
    // The primary's text leaves the header it is in, which the merged header takes.
    char* primaryText = read.header.take();
    const CardRun primary{primaryText, primaryCards};
    const CardRun own{extension.text, extension.count};
    auto* keys = static_cast<uint64_t*>(
        moduleAllocate(nebuliteAllocCardBuffer, sizeof(uint64_t) * (size_t{extension.count} + 1)));
    auto release = [&](MergeResult why) {
        moduleFree(primaryText);
        moduleFree(keys);
        return why;
    };
    if (keys == nullptr) return release(MergeResult::noMemory);

    Counter counter;
    walkMergedHeader(primary, own, keys, {&counter, &Counter::take});
    // One for END, one more for the identification card a short header gets.
    if (blockedCardBytes(counter.cards + 2) > kMaxHeaderBytes) return release(MergeResult::tooLong);
    CardBuffer& header = read.header;
    if (!header.allocate()) return release(MergeResult::noMemory);
    header.startReading();
    header.idCardPresent = counter.identified;

    Emitter out{header};
    walkMergedHeader(primary, own, keys, {&out, &Emitter::take});
    release(MergeResult::merged);  // the sources are no longer needed
    char line[kCardBytes];
    setCardText(line, "END");
    header.endSeen = true;
    out.emit(line);
    setCardText(line, "");
    while (out.ok && !atBlockBoundary(cardBytes(out.emitted))) out.emit(line);

    const uint32_t length = header.blockBytes();
    if (out.ok && header.size() != length) out.ok = header.resize(length, length);
    if (!out.ok) return MergeResult::noMemory;
    state.headerLength = length;
    read.cardsRead = static_cast<int32_t>(out.emitted);
    return MergeResult::merged;
}

}  // namespace nebulite
