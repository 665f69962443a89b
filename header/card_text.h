// One 80-column header card as text: splitting it, matching its keyword,
// converting its value, and writing values into it.
#pragma once

#include <cstdint>
#include <string_view>

#include "header/fits_units.h"

namespace nebulite {

// The three parts of a card the module looks at: keyword (columns 1-8),
// value field (columns 11-30) and the rest (columns 31-80).
struct SplitCard {
    std::string_view keyword;
    std::string_view value;
    std::string_view rest;
};

SplitCard splitCard(const char* card);

// True when the 8-column keyword is exactly `name` padded with spaces.
bool keywordIs(std::string_view keyword, std::string_view name);

// Integer value: leading white space, an optional sign, decimal digits up to
// the first other character; 0 without digits. Saturates instead of wrapping.
int64_t intValue(std::string_view field);
// Real value: the same for a decimal number with optional fraction and
// exponent (E or D). 0.0 without digits.
double realValue(std::string_view field);

// The text of a quoted string value (from column 11), without its trailing
// spaces; empty when the value is not a string. A doubled quote inside stays
// doubled (no value the module looks at contains one).
std::string_view stringValue(const char* card);
// The value of a keyword some writers leave unquoted: the text of a quoted
// string as stringValue gives it, or else the value's first word (up to a
// blank or the comment's slash). Empty when the value has neither.
std::string_view wordValue(const char* card);
// True when the value field holds the logical T.
bool logicalTrue(const char* card);

// Writes `text` into `card` so that its last character is in column `lastColumn`.
void putRightAligned(char* card, std::string_view text, int lastColumn);
// Decimal text of a non-negative integer, no sign, no leading zeros.
std::string_view decimalText(int64_t value, char (&storage)[24]);

// Makes `card` 80 spaces, then copies `text` from column 1.
void setCardText(char* card, std::string_view text);

// The primary-header test on the first card: "SIMPLE  " then "=".
bool isSimpleCard(const char* card);

// A card as the reader takes it: one starting with NUL (padding some writers
// leave) becomes blank, and NUL bytes in the keyword columns become spaces,
// as the document's record of the card will have them.
void cleanReadCard(char* card);

// Makes a SIMPLE card say T in column 30, as a conforming file must, keeping
// its comment. A card that already does is left as it is.
void conformSimpleCard(char* card);

// n for the keyword NAXISn, n from 1 to 999; 0 for any other keyword.
int axisNumber(std::string_view keyword);

}  // namespace nebulite
