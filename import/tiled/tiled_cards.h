// Card reading the tiled-image header needs beyond header/card_text:
// indexed keywords such as ZTILE12, and names compared without case.
#pragma once

#include <cstdint>
#include <string_view>

#include "header/card_text.h"

namespace nebulite::tiled {

using nebulite::logicalTrue;
using nebulite::stringValue;

// n for a keyword `stem` followed by the decimal n (1 to 999, no leading
// zero), 0 for any other keyword.
int indexedKeyword(std::string_view keyword, std::string_view stem);

// ASCII comparison ignoring case, for column names and ZNAMEi values.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace nebulite::tiled
