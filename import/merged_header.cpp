#include "import/merged_header.h"

#include <cstring>
#include <initializer_list>
#include <string_view>

#include "header/card_buffer.h"
#include "header/card_text.h"
#include "shell/module_memory.h"
#include "shell/session.h"
#include "shell/sizes.h"

namespace nebulite {

namespace {

bool keywordIn(const char* card, std::initializer_list<std::string_view> names) {
    std::string_view keyword = splitCard(card).keyword;
    for (std::string_view name : names)
        if (keywordIs(keyword, name)) return true;
    return false;
}

bool isNebuliteCard(const char* card) { return keywordIs(splitCard(card).keyword, "NEBULITE"); }

// Hands cards to appendCard as the reader does, counting blocks as they fill,
// so that the identification card and the bound follow the reading rules.
struct Emitter {
    uint64_t emitted = 0;
    bool emit(const char* card) {
        if (!appendCard(card)) return false;
        ++emitted;
        if (emitted % kCardsPerBlock == 0) ++session.headerBlocks;
        return true;
    }
};

}  // namespace

bool keptFromExtension(const char* card) { return !keywordIn(card, {"XTENSION", "PCOUNT", "GCOUNT"}); }

bool keptFromPrimary(const char* card) {
    if (axisNumber(splitCard(card).keyword) > 0) return false;
    return !keywordIn(card, {"SIMPLE", "BITPIX", "NAXIS", "EXTEND", "GROUPS", "PCOUNT", "GCOUNT", "BZERO",
                             "BSCALE", "BLANK", "END"});
}

MergeResult mergeExtensionHeader(PluginState& state, uint32_t primaryCards, const HeaderCards& extension) {
    // The primary's text leaves the buffer it is in, which the merged header takes.
    char* primary = session.cardBuffer;
    session.cardBuffer = nullptr;
    session.cardBufferSize = 0;
    auto card = [&](uint32_t i) { return primary + size_t{i} * kCardBytes; };
    auto extensionCard = [&](uint32_t i) { return extension.text + size_t{i} * kCardBytes; };

    uint64_t total = 2;  // SIMPLE and END
    bool identified = false;
    for (uint32_t i = 1; i < primaryCards; ++i) {
        if (!keptFromPrimary(card(i))) continue;
        ++total;
        identified = identified || isNebuliteCard(card(i));
    }
    for (uint32_t i = 0; i < extension.count; ++i) {
        if (!keptFromExtension(extensionCard(i))) continue;
        ++total;
        identified = identified || isNebuliteCard(extensionCard(i));
    }
    // One more for the identification card a short header gets.
    if (roundUpToBlock((total + 1) * kCardBytes) > uint64_t{kMaxHeaderBlocks} * kBlockBytes) {
        moduleFree(primary);
        return MergeResult::tooLong;
    }
    if (!allocateCardBuffer()) {
        moduleFree(primary);
        return MergeResult::noMemory;
    }
    session.cardPos = 0;
    session.headerBlocks = 0;
    session.endSeen = false;
    session.idCardPresent = identified;

    char simple[kCardBytes];
    std::memcpy(simple, card(0), kCardBytes);
    conformSimpleCard(simple);
    Emitter out;
    bool ok = out.emit(simple);
    for (uint32_t i = 0; ok && i < extension.count; ++i)
        if (keptFromExtension(extensionCard(i))) ok = out.emit(extensionCard(i));
    for (uint32_t i = 1; ok && i < primaryCards; ++i)
        if (keptFromPrimary(card(i))) ok = out.emit(card(i));
    moduleFree(primary);
    char line[kCardBytes];
    setCardText(line, "END");
    session.endSeen = true;
    ok = ok && out.emit(line);
    setCardText(line, "");
    while (ok && out.emitted % kCardsPerBlock != 0) ok = out.emit(line);

    const uint32_t length = static_cast<uint32_t>(session.headerBlocks) * kBlockBytes;
    if (ok && session.cardBufferSize != length) ok = resizeCardBuffer(length, length);
    if (!ok) return MergeResult::noMemory;
    state.headerLength = length;
    session.cardsRead = static_cast<int32_t>(out.emitted);
    return MergeResult::merged;
}

}  // namespace nebulite
