// The image header's cards on their way into the table header: the
// structural keywords of the image renamed to their Z-forms (SIMPLE to
// ZSIMPLE, BITPIX to ZBITPIX, NAXISn to ZNAXISn, EXTEND to ZEXTEND,
// CHECKSUM to ZHECKSUM...), every other card copied as it stands, as
// cfitsio moves them, so that funpack, astropy and import/tiled put the
// same header back. Keywords that belong to the table itself or to the
// compression cannot travel: in the table they would change its meaning
// (a TFORM1, a ZBLANK), and every reader drops them on the way back.
#pragma once

#include <cstdint>
#include <span>

#include "export/tiled/save_params.h"

namespace nebulite::tiledsave {

enum class CardRoute : uint8_t {
    copy,      // into the table header as it stands
    rename,    // into the table header under its Z-name
    reserved,  // the table's or the compression's keyword: left out
    end,       // END: the image header stops here
};

// The route of one 80-byte card, and for `rename` the 8-column keyword it
// takes in `keyword` (space-padded).
CardRoute routeImageCard(const char* card, char (&keyword)[8]);

// What the image header holds, checked against the geometry.
struct ImageCards {
    SaveError error = SaveError::none;
    uint64_t beforeEnd = 0;  // cards before END
    uint64_t moved = 0;      // cards copied or renamed into the table header
    uint64_t left = 0;       // reserved keywords left out
    bool hasExtname = false; // the image names itself; otherwise the table is 'COMPRESSED_IMAGE'
};

// Reads the image header (80-byte cards from SIMPLE through END; anything
// after END is ignored). badHeader unless it starts with SIMPLE, has END,
// its BITPIX, NAXIS and NAXISn say what `params` says, and SIMPLE, BITPIX,
// NAXIS and NAXISn stand first, once each, in that order, with no
// XTENSION, PCOUNT or GCOUNT after them (a reader restores them to the
// head of the header, so a card elsewhere would come back elsewhere).
ImageCards examineImageCards(std::span<const char> cards, const SaveParams& params);

}  // namespace nebulite::tiledsave
