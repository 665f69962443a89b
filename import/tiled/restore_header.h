// The image header as it was before compression, from the table's header:
// the Z-keywords that stand for the image's own structural keywords renamed
// back, the table's structure and the compression's keywords dropped.
#pragma once

#include <cstdint>

namespace nebulite::tiled {

// What becomes of one card of the table header.
enum class CardFate : uint8_t {
    keep,       // an ordinary card of the image (OBJECT, BZERO, WCS, HISTORY...)
    drop,       // the table's structure or the compression's own
    structure,  // the image's SIMPLE/XTENSION, BITPIX, NAXIS, NAXISn, PCOUNT, GCOUNT: written first
    rename,     // ZEXTEND, ZBLOCKED, ZHECKSUM, ZDATASUM: renamed where they stand
};

// The fate of `card`, and for `structure` and `rename` the keyword it takes
// (8 columns, space-padded) in `keyword`.
CardFate restoredCardFate(const char* card, char (&keyword)[8]);

// Writes the restored header (cards of 80 bytes, no END) into `out`, which
// has room for `capacity` cards, and returns the number written, or -1 when
// the room is short. `count` + 4 cards always suffice. The structural cards
// come first in the standard's order: SIMPLE (when ZSIMPLE is present) or
// XTENSION = 'IMAGE', then BITPIX, NAXIS, NAXIS1..n, then for an extension
// PCOUNT and GCOUNT (made when the table has no ZPCOUNT/ZGCOUNT); then every
// kept or renamed card in its order.
int64_t restoreImageHeader(const char* cards, uint32_t count, char* out, uint32_t capacity);

}  // namespace nebulite::tiled
