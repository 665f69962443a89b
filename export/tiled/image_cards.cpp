#include "export/tiled/image_cards.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "header/card_text.h"
#include "header/fits_units.h"

namespace nebulite::tiledsave {

namespace {

struct Renamed {
    std::string_view from;
    std::string_view to;
};
// cfitsio's own translation on compression; the readers undo exactly these.
constexpr std::array<Renamed, 10> kRenamed = {{
    {"SIMPLE", "ZSIMPLE"},
    {"XTENSION", "ZTENSION"},
    {"BITPIX", "ZBITPIX"},
    {"NAXIS", "ZNAXIS"},
    {"EXTEND", "ZEXTEND"},
    {"BLOCKED", "ZBLOCKED"},
    {"PCOUNT", "ZPCOUNT"},
    {"GCOUNT", "ZGCOUNT"},
    {"CHECKSUM", "ZHECKSUM"},
    {"DATASUM", "ZDATASUM"},
}};

// Keywords the table header writes itself or that describe the compression
// (and the Z-forms above, which a reader would rename back): an image card
// of one of these names would be read as the table's.
constexpr std::array<std::string_view, 22> kReserved = {
    "TFIELDS", "THEAP",    "ZIMAGE",   "ZCMPTYPE", "ZBITPIX",  "ZNAXIS",   "ZQUANTIZ", "ZDITHER0",
    "ZBLANK",  "ZSCALE",   "ZZERO",    "ZMASKCMP", "ZSIMPLE",  "ZTENSION", "ZEXTEND",  "ZBLOCKED",
    "ZPCOUNT", "ZGCOUNT",  "ZHECKSUM", "ZDATASUM", "ZTABLE",   "END",
};
// Indexed keywords of the table's columns and of the compression.
constexpr std::array<std::string_view, 16> kReservedStems = {
    "TTYPE", "TFORM", "TUNIT", "TSCAL", "TZERO", "TNULL", "TDISP", "TDIM",  "TDMIN",
    "TDMAX", "TLMIN", "TLMAX", "ZTILE", "ZNAME", "ZVAL",  "ZNAXIS",
};

// n for `stem` followed by a decimal 1..999 without a leading zero filling
// the keyword; 0 otherwise.
int indexOf(std::string_view keyword, std::string_view stem) {
    if (keyword.size() != 8 || keyword.substr(0, stem.size()) != stem) return 0;
    size_t i = stem.size();
    if (i >= 8 || keyword[i] < '1' || keyword[i] > '9') return 0;
    int n = 0;
    for (; i < 8 && keyword[i] >= '0' && keyword[i] <= '9'; ++i) n = n * 10 + (keyword[i] - '0');
    for (; i < 8; ++i)
        if (keyword[i] != ' ') return 0;
    return n <= 999 ? n : 0;
}

// Where a structural keyword stands in an image header that comes back as
// it went in: readers restore SIMPLE, BITPIX, NAXIS and NAXISn to the head
// of the header in this order, whatever their place in the table, and
// XTENSION, PCOUNT and GCOUNT have no place in a primary header. -1 for
// every other keyword.
int64_t structuralPlace(std::string_view keyword) {
    if (keywordIs(keyword, "SIMPLE")) return 0;
    if (keywordIs(keyword, "BITPIX")) return 1;
    if (keywordIs(keyword, "NAXIS")) return 2;
    if (const int n = axisNumber(keyword); n > 0) return 2 + n;
    if (keywordIs(keyword, "XTENSION") || keywordIs(keyword, "PCOUNT") || keywordIs(keyword, "GCOUNT"))
        return INT64_MAX;
    return -1;
}

void setKeyword(char (&keyword)[8], std::string_view name) {
    std::memset(keyword, ' ', 8);
    std::memcpy(keyword, name.data(), name.size() < 8 ? name.size() : 8);
}

}  // namespace

CardRoute routeImageCard(const char* card, char (&keyword)[8]) {
    const std::string_view k(card, 8);
    std::memcpy(keyword, card, 8);
    if (keywordIs(k, "END")) return CardRoute::end;
    for (const Renamed& r : kRenamed) {
        if (keywordIs(k, r.from)) {
            setKeyword(keyword, r.to);
            return CardRoute::rename;
        }
    }
    if (const int n = indexOf(k, "NAXIS"); n > 0) {
        // NAXISn takes ZNAXISn: at most 3 digits, so 8 columns hold it.
        keyword[0] = 'Z';
        std::memcpy(keyword + 1, card, 7);
        return CardRoute::rename;
    }
    for (std::string_view r : kReserved)
        if (keywordIs(k, r)) return CardRoute::reserved;
    for (std::string_view stem : kReservedStems)
        if (indexOf(k, stem) > 0) return CardRoute::reserved;
    return CardRoute::copy;
}

ImageCards examineImageCards(std::span<const char> cards, const SaveParams& params) {
    ImageCards out;
    const uint64_t count = cards.size() / kCardBytes;
    if (cards.size() % kCardBytes != 0 || count == 0 || !isSimpleCard(cards.data())) {
        out.error = SaveError::badHeader;
        return out;
    }
    const uint64_t axes[3] = {params.width, params.height, params.planes};
    bool end = false, bitpixOk = false, naxisOk = false, inPlace = true;
    uint32_t axesOk = 0;
    for (uint64_t i = 0; i < count && !end; ++i) {
        const char* card = cards.data() + i * kCardBytes;
        const SplitCard c = splitCard(card);
        char keyword[8];
        switch (routeImageCard(card, keyword)) {
            case CardRoute::end: end = true; continue;
            case CardRoute::reserved: ++out.left; break;
            case CardRoute::copy:
            case CardRoute::rename: ++out.moved; break;
        }
        ++out.beforeEnd;
        if (const int64_t place = structuralPlace(std::string_view(card, 8)); place >= 0)
            inPlace = inPlace && static_cast<uint64_t>(place) == i;
        if (keywordIs(c.keyword, "BITPIX")) bitpixOk = intValue(c.value) == params.bitpix;
        if (keywordIs(c.keyword, "NAXIS")) naxisOk = intValue(c.value) == static_cast<int64_t>(params.naxis);
        if (keywordIs(c.keyword, "EXTNAME")) out.hasExtname = true;
        const int n = axisNumber(c.keyword);
        if (n >= 1 && n <= 3) {
            const int64_t v = intValue(c.value);
            if (v > 0 && static_cast<uint64_t>(v) == axes[n - 1]) axesOk |= 1u << n;
        }
    }
    const uint32_t axesWanted = params.naxis == 3 ? 0b1110u : 0b0110u;
    if (!end || !inPlace || !bitpixOk || !naxisOk || axesOk != axesWanted) out.error = SaveError::badHeader;
    return out;
}

}  // namespace nebulite::tiledsave
