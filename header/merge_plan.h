// The header a document keeps for an image, as a plan both the module and
// the CLI follow: for an image in an extension, which cards of the primary
// and of the extension header it is made of and in what order; for any
// image, where the reader puts its identification card. Pure: the caller
// holds the cards and takes the plan's cards where it wants them.
#pragma once

#include <cstdint>
#include <string_view>

#include "shell/sizes.h"

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
// GCOUNT, BZERO, BSCALE, BLANK and END.
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

// The reader marks a header it handles with its identification card, in
// front of END, when the header has none and END is in slots 1 to 34 of the
// first block (so the mark never adds a block).
constexpr bool identificationGoesBeforeEnd(int64_t endSlot, bool identified) {
    return !identified && endSlot > 0 && endSlot < 35;
}

// The module's mark in a header it has handled. Its value is a FITS string
// so that standard readers and validators take the card as it is.
constexpr std::string_view kIdentificationText = "Nebulite 1.0.0  support@nebulite-fits.org  (FITS)";
static_assert(kIdentificationText.size() == 49);
// The card as the reader inserts it in front of END.
void makeIdentificationCard(char* card);

// The card's keyword is NEBULITE: the header has been handled already.
bool isIdentificationCard(const char* card);

}  // namespace nebulite
