// A tile-compressed save checked and laid out before it starts: what the
// module asks for, measured against the image header it would write, with
// every size derived in checked arithmetic. Nothing here allocates.
#pragma once

#include <span>

#include "export/tiled/image_cards.h"
#include "export/tiled/layout.h"
#include "export/tiled/save_params.h"

namespace nebulite::tiledsave {

struct Plan {
    SaveError error = SaveError::none;
    Layout layout;
    ImageCards cards;  // what the image header holds (cards left out: cards.left)
};

// `imageCards` is the header the uncompressed save would write (SIMPLE,
// BITPIX, NAXIS, NAXISn, the kept cards, END) as 80-byte cards.
//
// Refused: BITPIX 64 under Rice or HCOMPRESS (neither codes 64-bit
// integers; GZIP and NOCOMPRESS keep them); floats under Rice or HCOMPRESS
// unquantized; quantizing under NOCOMPRESS; a seed outside 1..10000. Under
// HCOMPRESS SUBTRACTIVE_DITHER_2 becomes SUBTRACTIVE_DITHER_1, as cfitsio
// does.
Plan planSave(const SaveParams& params, std::span<const char> imageCards);

}  // namespace nebulite::tiledsave
