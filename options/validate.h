// The checks that hold whatever the file: an empty message when the options
// can be used, else one line saying what is wrong. What depends on the file
// (HDU numbers, planes of a cube, the pattern in a header) is checked by
// resolve (resolve_open.h, resolve_save.h), which runs these first.
#pragma once

#include <cstdint>

#include "options/fixed_text.h"
#include "options/open_options.h"
#include "options/save_options.h"

namespace nebulite::options {

// Numbers the faces hand over (HDU, plane, tile sizes) travel in the
// descriptor as 32-bit signed integers.
inline constexpr uint32_t kLargestNumber = 2147483647;

Message validate(const OpenOptions& options);
Message validate(const SaveOptions& options);

// The EXTNAME rules alone: not empty, not over 68 characters, printable
// ASCII as a FITS string value allows.
Message validateExtname(const ExtName& name);

}  // namespace nebulite::options
