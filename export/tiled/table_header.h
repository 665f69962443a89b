// The headers of a tile-compressed file: the empty primary header (SIMPLE,
// BITPIX 8, NAXIS 0, EXTEND) and the table's header, which describes the
// table (XTENSION ... TFORMn), the compression (ZIMAGE, ZTILEn, ZCMPTYPE,
// ZNAMEi/ZVALi, ZQUANTIZ, ZDITHER0, ZBLANK) and then carries the image's
// own header, its structural keywords under their Z-names.
//
// The table header's length depends only on the layout: the values the
// write learns at its end (PCOUNT, the longest arrays, the seed taken from
// the first tile) change no card count, so the header is written once as a
// placeholder and once more, in the same room, when the heap is complete.
#pragma once

#include <cstdint>
#include <span>

#include "export/tiled/layout.h"

namespace nebulite::tiledsave {

// What only the end of the write knows.
struct TableFacts {
    uint64_t heapBytes = 0;            // PCOUNT
    uint64_t longestCompressed = 0;    // elements of the longest COMPRESSED_DATA array
    uint64_t longestGzip = 0;          // ... GZIP_COMPRESSED_DATA
    uint64_t longestUncompressed = 0;  // ... UNCOMPRESSED_DATA
    int32_t ditherSeed = 1;            // ZDITHER0
    uint32_t dataSum = 0;              // DATASUM
    char checksum[16] = {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};  // CHECKSUM
};

// Where the cards go, 80 bytes at a time.
class CardSink {
public:
    virtual void card(const char* card) = 0;

protected:
    CardSink() = default;
    CardSink(const CardSink&) = default;
    CardSink& operator=(const CardSink&) = default;
    ~CardSink() = default;
};

// Cards of the primary header, END included: SIMPLE, BITPIX, NAXIS, EXTEND,
// CHECKSUM, DATASUM (of no data: 0). SIMPLE is `simpleCard`, the image
// header's own (its comment too), so that a reader that takes the primary's
// SIMPLE card for the image (the module's merge of an extension's header
// with the primary's) gets the card the uncompressed file has.
constexpr uint64_t kPrimaryCards = 7;
void writePrimaryHeader(const char* simpleCard, const char (&checksum)[16], CardSink& out);

// Cards of the table header for `layout`, END included (the image's moved
// cards counted in layout.imageCards).
uint64_t tableHeaderCards(const Layout& layout);

// The table header: exactly tableHeaderCards(layout) cards, CHECKSUM and
// DATASUM last before END, as fpack leaves them. `imageCards` is
// the image header the layout was planned with.
void writeTableHeader(const Layout& layout, const TableFacts& facts, std::span<const char> imageCards,
                      CardSink& out);

// ZCMPTYPE's value: RICE_ONE for Rice under SUBTRACTIVE_DITHER_2, as
// cfitsio names it so that readers from before that dither refuse the file.
const char* algorithmName(const Layout& layout);

}  // namespace nebulite::tiledsave
