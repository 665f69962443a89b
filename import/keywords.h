// The keywords that fix an image's geometry and sample encoding, and what
// each of them sets in the session while a header is read.
#pragma once

namespace nebulite {

// Every value the table sets goes back to what a header without any of the
// keywords means: BSCALE 1, BZERO 0, no range, no size cards seen.
void resetImageKeywords();

// Applies the effect of the card's keyword, when the table has a row for it.
// Keywords are compared whole, so NAXIS never matches NAXIS1.
void applyKeyword(const char* card);

}  // namespace nebulite
