// A file row into a 32-bit document's floats: the physical value times
// 2^-exponent, rounded to float32 once. Integers go straight from the
// stored integer to the float (never through a double first, which would
// round a 64-bit integer twice and lose a small unsigned one to BZERO's
// 2^63), floats keep their bits but for the power of two. Blanks, NaNs and
// infinities open as 0. Pure: the road and the tests share it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "import/physical_values.h"

namespace nebulite {

// `count` big-endian samples of `row` into native floats at `out` (any
// alignment, 4 bytes each). `values`: room for `count` doubles, the
// scratch of encodings that need the physical value first.
void documentFloatRow(const unsigned char* row, size_t count, const SampleRules& rules, int32_t exponent,
                      double* values, unsigned char* out);

// The largest finite |physical value| of a row, beside `largest` (0 when
// none); `values` as above.
double largestPhysicalMagnitude(const unsigned char* row, size_t count, const SampleRules& rules, double* values,
                                double largest);

}  // namespace nebulite
