// A file row's samples as the physical values they stand for: BSCALE x
// stored + BZERO for every BITPIX (8-bit samples unsigned, the others
// signed two's complement or IEEE floats), NaN for a BLANK integer and for a
// float or a result that is not finite. What the stretches work on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "header/header_keywords.h"
#include "mapping/value_histogram.h"

namespace nebulite {

struct SampleRules {
    int64_t bitpix = 16;
    double bscale = 1.0;
    double bzero = 0.0;
    bool blankSeen = false;  // integers only
    int64_t blank = 0;
};

SampleRules sampleRulesOf(const HeaderKeywords& keys);

// `samples` big-endian samples from `row` into `out`.
void physicalRow(const unsigned char* row, size_t samples, const SampleRules& rules, double* out);

// The values integer samples can take (BSCALE steps from BZERO): the
// stretches' histogram is then exact. Nothing for floats.
std::optional<mapping::Lattice> latticeOf(const SampleRules& rules);

}  // namespace nebulite
