// The power of two that takes a file's physical values into a 32-bit
// document: document value = physical value x 2^-exponent, exact for
// every float (only a power of two), so that a save divides them back to
// the file's very bits.
//
//   integers (BSCALE 1): the stored type's bits when its values are
//     unsigned (BITPIX 8; 16, 32, 64 with the matching unsigned BZERO) and
//     one fewer when signed (BZERO 0): the data fills 0..1 or -1..1;
//   anything else (floats, other BZERO or BSCALE): the smallest power of
//     two at or above the largest finite |value| of the data, never above 1
//     when the data lies within -1..1, so 0..1 files open unchanged.
#pragma once

#include <cstdint>
#include <optional>

#include "import/physical_values.h"

namespace nebulite {

// The exponent the sample encoding fixes, or nothing when the data must
// tell (the largest |value|).
std::optional<int32_t> fixedFloatExponent(const SampleRules& rules);

// The exponent for data whose largest finite |value| is `largest` (0 when
// there is none).
int32_t exponentForLargest(double largest);

// The largest finite |value| of a row of physical values, beside `largest`.
double largestMagnitude(const double* values, size_t count, double largest);

}  // namespace nebulite
