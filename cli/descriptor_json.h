// Scripting descriptors as JSON: what `nebulite open --record` writes and
// `--replay` reads. The format (stable; README's "The CLI" describes it):
//
//   {
//     "format": "nebulite descriptor",
//     "version": 1,
//     "items": [
//       {"key": "nbIm", "type": "integer", "value": 1},
//       {"key": "nbPl", "type": "enumerated", "enumType": "nbTP", "value": "nbTh"},
//       ...
//     ]
//   }
//
// Items in the descriptor's order, each with "key" and "type" and:
//   integer     "value": a whole number of 32 bits, signed
//   count       "value": a whole number of 32 bits, unsigned
//   float       "value": a number, or "NaN", "Infinity", "-Infinity" (any
//               NaN is written "NaN", which reads as the quiet NaN)
//   unitFloat   "unit": a code, "value": as for float
//   boolean     "value": true or false
//   enumerated  "enumType": a code, "value": a code
//   class       "value": a code
//   text, alias, string
//               "value": a string, each character U+0000 to U+00FF one byte
//               of the text as the module handed it (its Windows-1252 bytes
//               as the code points of the same number); a string at most 255
//   object      "class": a code, "items": the object's items, as above
// Codes are their four characters ("nbIm"), or "0x" and eight hex digits
// when a character is not printable ASCII. Other members are refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/descriptor.h"

namespace nebulite::cli {

std::string descriptorToJson(const host::Descriptor& descriptor);

// Nothing, with `error` set to one line (where and what), when the text is
// not a descriptor of this format.
std::optional<host::Descriptor> descriptorFromJson(std::string_view text, std::string* error);

}  // namespace nebulite::cli
