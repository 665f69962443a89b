// The module's mark in a header it has handled: a NEBULITE card whose value
// names the module and its version (the build's own). Its value is a FITS
// string, so that standard readers and validators take the card as it is.
#pragma once

#include <cstdint>
#include <string_view>

#include "header/fits_units.h"

namespace nebulite {

// "Nebulite <version>  support@nebulite-fits.org  (FITS)".
std::string_view identificationText();

// The two places the card is made: the reader puts it in front of END of a
// header it keeps, with the closing quote right after the text; a header
// made for a new image carries it with the quote in column 80.
enum class IdentificationForm : uint8_t { read, synthesized };
void makeIdentificationCard(char* card, IdentificationForm form = IdentificationForm::read);

// The card's keyword is NEBULITE: the header has been handled already.
bool isIdentificationCard(const char* card);

// The reader marks a header it handles with its identification card, in
// front of END, when the header has none and END is in slots 1 to 34 of the
// first block (so the mark never adds a block).
constexpr bool identificationGoesBeforeEnd(int64_t endSlot, bool identified) {
    return !identified && endSlot > 0 && endSlot < kCardsPerBlock - 1;
}

}  // namespace nebulite
