#include "export/tiled/table_header.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "codecs/quantize_encode.h"
#include "export/tiled/image_cards.h"
#include "header/card_text.h"
#include "header/fits_units.h"

namespace nebulite::tiledsave {

namespace {

using codecs::Algorithm;
using codecs::Dither;

// One card: keyword, "= ", the value ending in column 30 (a string from
// column 11), then " / " and the comment where there is room.
class Card {
public:
    explicit Card(std::string_view keyword) { setCardText(text_, keyword); }

    Card& value(std::string_view v) {
        text_[8] = '=';
        putRightAligned(text_, v, 30);
        end_ = 30;
        return *this;
    }
    Card& integer(int64_t v) {
        char digits[24];
        return value(decimalText(v, digits));
    }
    Card& logical(bool v) { return value(v ? "T" : "F"); }
    // A string value, padded inside its quotes to eight characters as
    // the standard's fixed format has it.
    Card& string(std::string_view s) {
        // Quotes in columns 11 and 20 or later; no value here needs 68 characters.
        const size_t length = std::min<size_t>(s.size(), kCardBytes - 12);
        text_[8] = '=';
        text_[10] = '\'';
        std::memcpy(text_ + 11, s.data(), length);
        const size_t close = std::max<size_t>(11 + length, 19);
        text_[close] = '\'';
        end_ = std::max<size_t>(close + 1, 30);
        return *this;
    }
    Card& comment(std::string_view c) {
        const size_t at = end_ + 1;
        if (at + 3 >= kCardBytes) return *this;
        text_[at] = '/';
        std::memcpy(text_ + at + 2, c.data(), std::min<size_t>(c.size(), kCardBytes - at - 2));
        return *this;
    }
    void to(CardSink& out) const { out.card(text_); }

private:
    char text_[kCardBytes] = {};
    size_t end_ = 8;
};

// An indexed keyword: stem followed by n.
struct Indexed {
    char text[9] = {};
    Indexed(std::string_view stem, uint64_t n) {
        char digits[24];
        const std::string_view d = decimalText(static_cast<int64_t>(n), digits);
        size_t at = 0;
        for (char c : stem) text[at++] = c;
        for (size_t i = 0; i < d.size() && at < 8; ++i) text[at++] = d[i];
    }
    operator std::string_view() const { return text; }
};

const char* columnName(Column c) {
    switch (c) {
        case Column::compressed: return "COMPRESSED_DATA";
        case Column::zscale: return "ZSCALE";
        case Column::zzero: return "ZZERO";
        case Column::gzipFallback: return "GZIP_COMPRESSED_DATA";
        case Column::uncompressed: return "UNCOMPRESSED_DATA";
    }
    return "";
}

// TFORM's value: 1PB(longest) and the like for arrays, 1D for the scales.
void columnForm(const Layout& layout, Column c, const TableFacts& facts, char (&form)[32]) {
    std::memset(form, 0, sizeof form);
    if (c == Column::zscale || c == Column::zzero) {
        std::memcpy(form, "1D", 2);
        return;
    }
    char type = 'B';
    uint64_t longest = facts.longestCompressed;
    if (c == Column::gzipFallback) longest = facts.longestGzip;
    if (c == Column::uncompressed) {
        type = layout.table.uncompressedType;
        longest = facts.longestUncompressed;
    }
    char digits[24];
    const std::string_view d = decimalText(static_cast<int64_t>(longest), digits);
    size_t at = 0;
    form[at++] = '1';
    form[at++] = layout.table.wide ? 'Q' : 'P';
    form[at++] = type;
    form[at++] = '(';
    for (char ch : d) form[at++] = ch;
    form[at++] = ')';
}

const char* quantizeName(Dither d) {
    switch (d) {
        case Dither::none: return "NO_DITHER";
        case Dither::subtractive1: return "SUBTRACTIVE_DITHER_1";
        case Dither::subtractive2: return "SUBTRACTIVE_DITHER_2";
    }
    return "";
}

bool dithered(const Layout& layout) { return layout.quantized && layout.params.dither != Dither::none; }

uint64_t parameterCards(const Layout& layout) {
    const Algorithm a = layout.params.algorithm;
    return a == Algorithm::rice || a == Algorithm::hcompress ? 4 : 0;
}

uint64_t quantizeCards(const Layout& layout) {
    if (!layout.floatImage) return 0;
    if (!layout.quantized) return 1;      // ZQUANTIZ = 'NONE'
    return dithered(layout) ? 3 : 2;       // ZQUANTIZ, ZDITHER0, ZBLANK
}

}  // namespace

const char* algorithmName(const Layout& layout) {
    switch (layout.params.algorithm) {
        case Algorithm::rice:
            return layout.quantized && layout.params.dither == Dither::subtractive2 ? "RICE_ONE" : "RICE_1";
        case Algorithm::gzip1: return "GZIP_1";
        case Algorithm::gzip2: return "GZIP_2";
        case Algorithm::hcompress: return "HCOMPRESS_1";
        case Algorithm::none: return "NOCOMPRESS";
        default: return "";
    }
}

void writePrimaryHeader(const char* simpleCard, const char (&checksum)[16], CardSink& out) {
    out.card(simpleCard);
    Card("BITPIX").integer(8).comment("no data: the image is in extension 1").to(out);
    Card("NAXIS").integer(0).comment("no data array").to(out);
    Card("EXTEND").logical(true).comment("a tile-compressed image follows").to(out);
    Card("CHECKSUM").string(std::string_view(checksum, 16)).comment("HDU checksum").to(out);
    Card("DATASUM").string("0").comment("data unit checksum").to(out);
    Card("END").to(out);
}

uint64_t tableHeaderCards(const Layout& layout) {
    const uint64_t axes = layout.params.naxis;
    return 8 + 2 * uint64_t{layout.table.columns} + 1 + axes + 1 + parameterCards(layout) + quantizeCards(layout) +
           (layout.addExtname ? 1 : 0) + layout.imageCards + 2 + 1;
}

void writeTableHeader(const Layout& layout, const TableFacts& facts, std::span<const char> imageCards,
                      CardSink& out) {
    const SaveParams& p = layout.params;
    Card("XTENSION").string("BINTABLE").comment("binary table extension").to(out);
    Card("BITPIX").integer(8).comment("bytes").to(out);
    Card("NAXIS").integer(2).comment("a table of rows and columns").to(out);
    Card("NAXIS1").integer(static_cast<int64_t>(layout.table.rowBytes)).comment("bytes in a row").to(out);
    Card("NAXIS2").integer(static_cast<int64_t>(layout.grid.count)).comment("rows: one tile each").to(out);
    Card("PCOUNT").integer(static_cast<int64_t>(facts.heapBytes)).comment("bytes of the heap").to(out);
    Card("GCOUNT").integer(1).comment("one group").to(out);
    Card("TFIELDS").integer(layout.table.columns).comment("columns in a row").to(out);
    for (uint32_t i = 0; i < layout.table.columns; ++i) {
        const Column c = layout.table.order[i];
        char form[32];
        columnForm(layout, c, facts, form);
        Card(Indexed("TTYPE", i + 1)).string(columnName(c)).comment("label of the column").to(out);
        Card(Indexed("TFORM", i + 1)).string(form).comment("its format").to(out);
    }
    Card("ZIMAGE").logical(true).comment("the table holds a compressed image").to(out);
    const uint64_t tile[3] = {layout.grid.tileColumns, layout.grid.tileRows, 1};
    for (uint32_t n = 0; n < p.naxis; ++n)
        Card(Indexed("ZTILE", n + 1)).integer(static_cast<int64_t>(tile[n])).comment("tile length on this axis").to(out);
    Card("ZCMPTYPE").string(algorithmName(layout)).comment("how the tiles are compressed").to(out);
    if (p.algorithm == Algorithm::rice) {
        Card("ZNAME1").string("BLOCKSIZE").comment("pixels in a coding block").to(out);
        Card("ZVAL1").integer(32).comment("pixels in a coding block").to(out);
        Card("ZNAME2").string("BYTEPIX").comment("bytes per coded integer").to(out);
        Card("ZVAL2").integer(layout.riceBytePix).comment("bytes per coded integer").to(out);
    } else if (p.algorithm == Algorithm::hcompress) {
        Card("ZNAME1").string("SCALE").comment("HCOMPRESS scale: 0, lossless").to(out);
        Card("ZVAL1").value("0.0").comment("HCOMPRESS scale: 0, lossless").to(out);
        Card("ZNAME2").string("SMOOTH").comment("HCOMPRESS smoothing on decoding").to(out);
        Card("ZVAL2").integer(0).comment("HCOMPRESS smoothing on decoding").to(out);
    }
    if (layout.floatImage && !layout.quantized) {
        Card("ZQUANTIZ").string("NONE").comment("the floats themselves, no quantization").to(out);
    } else if (layout.quantized) {
        Card("ZQUANTIZ").string(quantizeName(p.dither)).comment("how the floats were quantized").to(out);
        if (dithered(layout)) Card("ZDITHER0").integer(facts.ditherSeed).comment("dither seed").to(out);
        Card("ZBLANK").integer(codecs::kQuantizeNullValue).comment("quantized value of a NaN").to(out);
    }
    if (layout.addExtname) Card("EXTNAME").string("COMPRESSED_IMAGE").to(out);
    const uint64_t count = imageCards.size() / kCardBytes;
    for (uint64_t i = 0; i < count; ++i) {
        const char* card = imageCards.data() + i * kCardBytes;
        char keyword[8];
        const CardRoute route = routeImageCard(card, keyword);
        if (route == CardRoute::end) break;
        if (route == CardRoute::reserved) continue;
        char moved[kCardBytes];
        std::memcpy(moved, card, kCardBytes);
        std::memcpy(moved, keyword, 8);
        out.card(moved);
    }
    char digits[24];
    Card("CHECKSUM").string(std::string_view(facts.checksum, 16)).comment("HDU checksum").to(out);
    Card("DATASUM").string(decimalText(facts.dataSum, digits)).comment("data unit checksum").to(out);
    Card("END").to(out);
}

}  // namespace nebulite::tiledsave
