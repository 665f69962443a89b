#include "import/merged_header.h"

#include <algorithm>
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

std::string_view keywordOf(const char* card) { return splitCard(card).keyword; }

bool keywordIn(const char* card, std::initializer_list<std::string_view> names) {
    std::string_view keyword = keywordOf(card);
    for (std::string_view name : names)
        if (keywordIs(keyword, name)) return true;
    return false;
}

bool isNebuliteCard(const char* card) { return keywordIs(keywordOf(card), "NEBULITE"); }

// WCSAXESa must come before every other WCS keyword of its header.
bool isWcsAxesCard(const char* card) {
    std::string_view k = keywordOf(card);
    return k.substr(0, 7) == "WCSAXES" && (k[7] == ' ' || (k[7] >= 'A' && k[7] <= 'Z'));
}

// The mandatory cards an extension header starts with.
bool isStructural(const char* card) {
    return axisNumber(keywordOf(card)) > 0 || keywordIn(card, {"XTENSION", "BITPIX", "NAXIS", "PCOUNT", "GCOUNT"});
}

// Keywords that may stand many times in a header, each card its own.
bool isCommentary(const char* card) {
    return keywordIn(card, {"COMMENT", "HISTORY", "", "HIERARCH", "CONTINUE"});
}

uint64_t keywordKey(const char* card) {
    uint64_t key = 0;
    for (int i = 0; i < 8; ++i) key = key << 8 | static_cast<unsigned char>(card[i]);
    return key;
}

// The extension's keywords, sorted, so that each primary card is looked up
// in logarithmic time however long both headers are.
struct KeywordSet {
    uint64_t* keys = nullptr;
    size_t count = 0;
    bool has(const char* card) const { return std::binary_search(keys, keys + count, keywordKey(card)); }
};

// Which of the primary's cards the merged header keeps. What the extension
// says for itself wins, as under the INHERIT convention, so a keyword the
// extension has is not repeated from the primary; a long string's CONTINUE
// cards go with the card they continue.
struct PrimaryFilter {
    const KeywordSet& extension;
    bool droppedLast = false;
    bool keep(const char* card) {
        if (keywordIs(keywordOf(card), "CONTINUE")) return !droppedLast;
        bool kept = keptFromPrimary(card) && (isCommentary(card) || !extension.has(card));
        droppedLast = !kept;
        return kept;
    }
};

// Hands cards to appendCard as the reader does, counting blocks as they fill,
// so that the identification card and the bound follow the reading rules.
struct Emitter {
    uint64_t emitted = 0;
    bool ok = true;
    void emit(const char* card) {
        if (!ok) return;
        ok = appendCard(card);
        ++emitted;
        if (emitted % kCardsPerBlock == 0) ++session.headerBlocks;
    }
};

}  // namespace

bool keptFromExtension(const char* card) { return !keywordIn(card, {"XTENSION", "PCOUNT", "GCOUNT"}); }

bool keptFromPrimary(const char* card) {
    if (axisNumber(keywordOf(card)) > 0) return false;
    return !keywordIn(card, {"SIMPLE", "BITPIX", "NAXIS", "EXTEND", "GROUPS", "PCOUNT", "GCOUNT", "BZERO",
                             "BSCALE", "BLANK", "END"});
}

MergeResult mergeExtensionHeader(PluginState& state, uint32_t primaryCards, const HeaderCards& extension) {
    // The primary's text leaves the buffer it is in, which the merged header takes.
    char* primary = session.cardBuffer;
    session.cardBuffer = nullptr;
    session.cardBufferSize = 0;
    auto primaryCard = [&](uint32_t i) { return primary + size_t{i} * kCardBytes; };
    auto extensionCard = [&](uint32_t i) { return extension.text + size_t{i} * kCardBytes; };
    auto release = [&](MergeResult why, KeywordSet& set) {
        moduleFree(primary);
        moduleFree(set.keys);
        return why;
    };

    KeywordSet keywords;
    keywords.keys = static_cast<uint64_t*>(
        moduleAllocate(nebuliteAllocCardBuffer, sizeof(uint64_t) * (size_t{extension.count} + 1)));
    if (keywords.keys == nullptr) return release(MergeResult::noMemory, keywords);
    for (uint32_t i = 0; i < extension.count; ++i) keywords.keys[keywords.count++] = keywordKey(extensionCard(i));
    std::sort(keywords.keys, keywords.keys + keywords.count);

    uint64_t total = 2;  // SIMPLE and END
    bool identified = false;
    PrimaryFilter counting{keywords};
    for (uint32_t i = 1; i < primaryCards; ++i) {
        if (!counting.keep(primaryCard(i))) continue;
        ++total;
        identified = identified || isNebuliteCard(primaryCard(i));
    }
    for (uint32_t i = 0; i < extension.count; ++i) {
        if (!keptFromExtension(extensionCard(i))) continue;
        ++total;
        identified = identified || isNebuliteCard(extensionCard(i));
    }
    // One more for the identification card a short header gets.
    if (roundUpToBlock((total + 1) * kCardBytes) > uint64_t{kMaxHeaderBlocks} * kBlockBytes)
        return release(MergeResult::tooLong, keywords);
    if (!allocateCardBuffer()) return release(MergeResult::noMemory, keywords);
    session.cardPos = 0;
    session.headerBlocks = 0;
    session.endSeen = false;
    session.idCardPresent = identified;

    Emitter out;
    char line[kCardBytes];
    std::memcpy(line, primaryCard(0), kCardBytes);
    conformSimpleCard(line);
    out.emit(line);
    // The extension's mandatory cards, then the primary's WCSAXES (which
    // must precede the WCS keywords the extension may bring), then the rest.
    uint32_t next = 0;
    for (; next < extension.count && isStructural(extensionCard(next)); ++next)
        if (keptFromExtension(extensionCard(next))) out.emit(extensionCard(next));
    PrimaryFilter emitting{keywords};
    for (uint32_t i = 1; i < primaryCards; ++i)
        if (emitting.keep(primaryCard(i)) && isWcsAxesCard(primaryCard(i))) out.emit(primaryCard(i));
    for (; next < extension.count; ++next)
        if (keptFromExtension(extensionCard(next))) out.emit(extensionCard(next));
    emitting.droppedLast = false;
    for (uint32_t i = 1; i < primaryCards; ++i)
        if (emitting.keep(primaryCard(i)) && !isWcsAxesCard(primaryCard(i))) out.emit(primaryCard(i));
    release(MergeResult::merged, keywords);  // the sources are no longer needed
    setCardText(line, "END");
    session.endSeen = true;
    out.emit(line);
    setCardText(line, "");
    while (out.ok && out.emitted % kCardsPerBlock != 0) out.emit(line);

    const uint32_t length = static_cast<uint32_t>(session.headerBlocks) * kBlockBytes;
    if (out.ok && session.cardBufferSize != length) out.ok = resizeCardBuffer(length, length);
    if (!out.ok) return MergeResult::noMemory;
    state.headerLength = length;
    session.cardsRead = static_cast<int32_t>(out.emitted);
    return MergeResult::merged;
}

}  // namespace nebulite
