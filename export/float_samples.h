// A 32-bit document's samples as the file stores them: each value times
// 2^exponent is the physical value, which the plan's BITPIX, BZERO and
// BSCALE turn into the stored sample. Values are exact both ways for every
// original integer of up to 24 bits and every original float32, so a
// document opened and saved back gives the file's very samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "export/save_plan.h"

namespace nebulite {

// What the samples written were: the range keywords and the HISTORY card a
// save adds are made from it.
struct FloatWriteStats {
    double low = std::numeric_limits<double>::infinity();  // physical, finite values only
    double high = -std::numeric_limits<double>::infinity();
    uint64_t clamped = 0;  // integers beyond the stored type's range
};

// How undefined (NaN) values are stored for an integer BITPIX: the kept
// header's BLANK when it has one, else 0.
struct BlankRule {
    bool present = false;
    int64_t value = 0;
};

// `count` native floats from `in` (any alignment) into big-endian stored
// samples at `out` (count x storedSampleBytes(plan.bitpix) bytes).
void storeFloatRow(const unsigned char* in, size_t count, const SavePlan& plan, const BlankRule& blank,
                   unsigned char* out, FloatWriteStats& stats);

}  // namespace nebulite
