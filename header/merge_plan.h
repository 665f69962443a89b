// The header a document keeps for an image in an extension, as a plan both
// the module and the CLI follow: which cards of the primary and of the
// extension header it is made of, and in what order. Pure: the caller holds
// the cards and takes the plan's cards where it wants them.
#pragma once

#include <cstdint>
#include <string_view>

#include "header/fits_units.h"

namespace nebulite {

// `count` cards of 80 bytes.
struct CardRun {
    const char* text = nullptr;
    uint32_t count = 0;
    const char* card(uint32_t i) const { return text + uint64_t{i} * kCardBytes; }
};

// The extension's cards that a primary header carries too: all but
// XTENSION, PCOUNT and GCOUNT.
bool keptFromExtension(const char* card);
// The primary's cards that describe the observation, not its own empty data
// unit: all but SIMPLE, BITPIX, NAXIS, NAXISn, EXTEND, GROUPS, PCOUNT,
// GCOUNT, BZERO, BSCALE, BLANK, ROWORDER, CHECKSUM, DATASUM and END.
// (ROWORDER says which way the primary's own rows run: carried over, it
// would tell a reader of the saved image that the extension's rows run that
// way too. CHECKSUM and DATASUM sum the primary HDU alone: nothing of the
// image.)
bool keptFromPrimary(const char* card);

// Takes the plan's cards one by one; false stops the walk.
struct CardSink {
    void* context = nullptr;
    bool (*take)(void* context, const char* card) = nullptr;
};

// Hands `sink`, in order, the cards of the one header a save writes back as
// a conforming primary HDU: SIMPLE = T (the primary's SIMPLE card, keeping
// its comment), the extension's mandatory cards, the primary's WCSAXES
// cards (which must precede the WCS keywords the extension may bring), the
// rest of the extension's kept cards, then the primary's kept cards that the
// extension does not say for itself. END is the caller's. `primary` and
// `extension` are the cards before their END; `keys` has room for
// extension.count + 1 values. False when the sink stopped the walk.
bool walkMergedHeader(CardRun primary, CardRun extension, uint64_t* keys, CardSink sink);

}  // namespace nebulite
