#include "import/tiled/restore_header.h"

#include <array>
#include <cstring>
#include <string_view>

#include "header/card_text.h"
#include "import/tiled/tiled_cards.h"
#include "header/fits_units.h"

namespace nebulite::tiled {

namespace {

// The image's own keywords the compressor moved to Z-names. The structural
// ones are written first; the others take their old name where they stand.
struct Renamed {
    std::string_view from;
    std::string_view to;
    bool structural;
};
constexpr std::array<Renamed, 10> kRenamed = {{
    {"ZSIMPLE", "SIMPLE", true},
    {"ZTENSION", "XTENSION", true},
    {"ZBITPIX", "BITPIX", true},
    {"ZNAXIS", "NAXIS", true},
    {"ZPCOUNT", "PCOUNT", true},
    {"ZGCOUNT", "GCOUNT", true},
    {"ZEXTEND", "EXTEND", false},
    {"ZBLOCKED", "BLOCKED", false},
    {"ZHECKSUM", "CHECKSUM", false},
    {"ZDATASUM", "DATASUM", false},
}};

// The table's own keywords and the compression's: none describes the image.
constexpr std::array<std::string_view, 18> kDropped = {
    "XTENSION", "BITPIX", "NAXIS", "PCOUNT", "GCOUNT", "TFIELDS", "THEAP", "CHECKSUM", "DATASUM",
    "ZIMAGE", "ZCMPTYPE", "ZQUANTIZ", "ZDITHER0", "ZBLANK", "ZMASKCMP", "ZSCALE", "ZZERO", "END",
};
// Indexed keywords of the table's columns (TTYPEn...) and of the
// compression (ZTILEn, ZNAMEi, ZVALi); NAXISn of the table.
constexpr std::array<std::string_view, 16> kDroppedStems = {
    "TTYPE", "TFORM", "TUNIT", "TSCAL", "TZERO", "TNULL", "TDISP", "TDIM",
    "TDMIN", "TDMAX", "TLMIN", "TLMAX", "ZTILE", "ZNAME", "ZVAL", "NAXIS",
};

void setKeyword(char (&keyword)[8], std::string_view name) {
    std::memset(keyword, ' ', 8);
    std::memcpy(keyword, name.data(), name.size());
}

// The position a structural card takes in the restored header: SIMPLE or
// XTENSION, BITPIX, NAXIS, NAXIS1..999, then PCOUNT and GCOUNT.
int structuralRank(const char (&keyword)[8]) {
    const std::string_view k(keyword, 8);
    if (keywordIs(k, "SIMPLE") || keywordIs(k, "XTENSION")) return 0;
    if (keywordIs(k, "BITPIX")) return 1;
    if (keywordIs(k, "NAXIS")) return 2;
    if (int n = axisNumber(k); n > 0) return 2 + n;
    if (keywordIs(k, "PCOUNT")) return 1002;
    if (keywordIs(k, "GCOUNT")) return 1003;
    return -1;
}

void makeCard(char* card, std::string_view keyword, std::string_view value, std::string_view comment) {
    setCardText(card, keyword);
    card[8] = '=';
    card[9] = ' ';
    putRightAligned(card, value, 30);
    if (!comment.empty()) {
        card[31] = '/';
        std::memcpy(card + 33, comment.data(), comment.size());
    }
}

}  // namespace

CardFate restoredCardFate(const char* card, char (&keyword)[8]) {
    const std::string_view k = splitCard(card).keyword;
    std::memcpy(keyword, card, 8);
    for (const Renamed& r : kRenamed) {
        if (keywordIs(k, r.from)) {
            setKeyword(keyword, r.to);
            return r.structural ? CardFate::structure : CardFate::rename;
        }
    }
    if (int n = indexedKeyword(k, "ZNAXIS"); n > 0) {
        char digits[24];
        const std::string_view text = decimalText(n, digits);
        std::memset(keyword, ' ', 8);
        std::memcpy(keyword, "NAXIS", 5);
        std::memcpy(keyword + 5, text.data(), text.size());
        return CardFate::structure;
    }
    for (std::string_view d : kDropped)
        if (keywordIs(k, d)) return CardFate::drop;
    for (std::string_view stem : kDroppedStems)
        if (indexedKeyword(k, stem) > 0) return CardFate::drop;
    // The name the compressor gives an image that had none.
    if (keywordIs(k, "EXTNAME") && stringValue(card) == "COMPRESSED_IMAGE") return CardFate::drop;
    return CardFate::keep;
}

int64_t restoreImageHeader(const char* cards, uint32_t count, char* out, uint32_t capacity) {
    uint32_t written = 0;
    auto room = [&] { return written < capacity; };
    auto at = [&](uint32_t i) { return out + size_t{i} * kCardBytes; };

    // The structural cards, in rank order (a table header holds few of them).
    bool fromPrimary = false, hasTension = false, hasPcount = false, hasGcount = false;
    char keyword[8];
    for (uint32_t i = 0; i < count; ++i) {
        const char* card = cards + size_t{i} * kCardBytes;
        if (restoredCardFate(card, keyword) != CardFate::structure) continue;
        const std::string_view k(keyword, 8);
        fromPrimary = fromPrimary || keywordIs(k, "SIMPLE");
        hasTension = hasTension || keywordIs(k, "XTENSION");
        hasPcount = hasPcount || keywordIs(k, "PCOUNT");
        hasGcount = hasGcount || keywordIs(k, "GCOUNT");
    }
    const uint32_t firstStructural = written;
    if (!fromPrimary && !hasTension) {
        // Neither ZSIMPLE nor ZTENSION: the image comes back as the
        // extension it is read as.
        if (!room()) return -1;
        makeCard(at(written++), "XTENSION", "'IMAGE   '", "Image extension");
    }
    for (uint32_t i = 0; i < count; ++i) {
        const char* card = cards + size_t{i} * kCardBytes;
        if (restoredCardFate(card, keyword) != CardFate::structure) continue;
        // An image from the primary array has no PCOUNT/GCOUNT of its own.
        const int rank = structuralRank(keyword);
        if (fromPrimary && rank >= 1002) continue;
        if (!room()) return -1;
        char* dst = at(written++);
        std::memcpy(dst, card, kCardBytes);
        std::memcpy(dst, keyword, 8);
        // Insertion by rank keeps the standard's order whatever the table's.
        for (uint32_t j = written - 1; j > firstStructural; --j) {
            char previous[8];
            std::memcpy(previous, at(j - 1), 8);
            if (structuralRank(previous) <= rank) break;
            char swap[kCardBytes];
            std::memcpy(swap, at(j - 1), kCardBytes);
            std::memcpy(at(j - 1), at(j), kCardBytes);
            std::memcpy(at(j), swap, kCardBytes);
        }
    }
    if (!fromPrimary) {
        if (!hasPcount) {
            if (!room()) return -1;
            makeCard(at(written++), "PCOUNT", "0", "number of parameters");
        }
        if (!hasGcount) {
            if (!room()) return -1;
            makeCard(at(written++), "GCOUNT", "1", "number of groups");
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        const char* card = cards + size_t{i} * kCardBytes;
        const CardFate fate = restoredCardFate(card, keyword);
        if (fate != CardFate::keep && fate != CardFate::rename) continue;
        if (!room()) return -1;
        char* dst = at(written++);
        std::memcpy(dst, card, kCardBytes);
        std::memcpy(dst, keyword, 8);
    }
    return written;
}

}  // namespace nebulite::tiled
