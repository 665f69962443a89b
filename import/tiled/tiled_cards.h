// Card reading the tiled-image header needs beyond header/card_text: quoted
// strings, logical values and indexed keywords such as ZTILE12.
#pragma once

#include <cstdint>
#include <string_view>

namespace nebulite::tiled {

// The text of a quoted string value, without its trailing spaces; empty when
// the value is not a string. A doubled quote inside stays doubled (no value
// this reader looks at contains one).
std::string_view stringValue(const char* card);

// True when the value field holds the logical T.
bool logicalTrue(const char* card);

// n for a keyword `stem` followed by the decimal n (1 to 999, no leading
// zero), 0 for any other keyword.
int indexedKeyword(std::string_view keyword, std::string_view stem);

// ASCII comparison ignoring case, for column names and ZNAMEi values.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace nebulite::tiled
