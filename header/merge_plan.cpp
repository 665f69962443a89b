#include "header/merge_plan.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "header/card_text.h"

namespace nebulite {

namespace {

std::string_view keywordOf(const char* card) { return splitCard(card).keyword; }

bool keywordIn(const char* card, std::initializer_list<std::string_view> names) {
    std::string_view keyword = keywordOf(card);
    for (std::string_view name : names)
        if (keywordIs(keyword, name)) return true;
    return false;
}

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
    const uint64_t* keys = nullptr;
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

}  // namespace

bool keptFromExtension(const char* card) { return !keywordIn(card, {"XTENSION", "PCOUNT", "GCOUNT"}); }

bool keptFromPrimary(const char* card) {
    if (axisNumber(keywordOf(card)) > 0) return false;
    return !keywordIn(card, {"SIMPLE", "BITPIX", "NAXIS", "EXTEND", "GROUPS", "PCOUNT", "GCOUNT", "BZERO",
                             "BSCALE", "BLANK", "ROWORDER", "CHECKSUM", "DATASUM", "END"});
}

bool walkMergedHeader(CardRun primary, CardRun extension, uint64_t* keys, CardSink sink) {
    if (primary.count == 0) return true;
    for (uint32_t i = 0; i < extension.count; ++i) keys[i] = keywordKey(extension.card(i));
    std::sort(keys, keys + extension.count);
    KeywordSet keywords{keys, extension.count};
    auto take = [&](const char* card) { return sink.take(sink.context, card); };

    char simple[kCardBytes];
    std::memcpy(simple, primary.card(0), kCardBytes);
    conformSimpleCard(simple);
    if (!take(simple)) return false;
    uint32_t next = 0;
    for (; next < extension.count && isStructural(extension.card(next)); ++next)
        if (keptFromExtension(extension.card(next)) && !take(extension.card(next))) return false;
    PrimaryFilter filter{keywords};
    for (uint32_t i = 1; i < primary.count; ++i)
        if (filter.keep(primary.card(i)) && isWcsAxesCard(primary.card(i)) && !take(primary.card(i))) return false;
    for (; next < extension.count; ++next)
        if (keptFromExtension(extension.card(next)) && !take(extension.card(next))) return false;
    filter.droppedLast = false;
    for (uint32_t i = 1; i < primary.count; ++i)
        if (filter.keep(primary.card(i)) && !isWcsAxesCard(primary.card(i)) && !take(primary.card(i))) return false;
    return true;
}

}  // namespace nebulite
