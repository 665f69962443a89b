// The background noise of a float tile, estimated as cfitsio does before
// quantizing (fits_quantize_float's FnNoise5): per row, the medians of the
// absolute 2nd-, 3rd- and 5th-order differences of the row's non-null
// pixels (Stoehr et al., "DER_SNR", ST-ECF Newsletter 42), constant runs
// left out; then the median over the rows, scaled to a Gaussian sigma.
// Rows shorter than 9 pixels are taken as one row of the whole tile.
//
// cfitsio's quirks are kept, since the step it derives is written into
// every tile: the differences are formed in the pixel's own precision; the
// medians are Wirth's quickselect (Numerical Recipes 8.5), which reorders
// its array in place; and the 2nd-order median of a row is taken over as
// many entries as the 3rd-order list has, so that entries left from earlier
// rows (or zeros) join it when constant runs were skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace nebulite::codecs {

struct NoiseEstimate {
    double noise2 = 0.0;
    double noise3 = 0.0;
    double noise5 = 0.0;
    // False when overflowing differences (values beyond about 1e37 for
    // float) made a row's median NaN: cfitsio's sort then decides, and no
    // estimate is given.
    bool usable = true;
};

// Scratch bytes the estimate needs for a tile of `columns` x `rows` values
// of `valueBytes` (4 or 8) bytes.
size_t noiseScratchBytes(size_t columns, size_t rows, size_t valueBytes);

// NaN pixels are nulls and skipped. `scratch` holds noiseScratchBytes bytes
// (the estimate is all zeros, unusable, when it does not).
NoiseEstimate estimateNoise(std::span<const float> tile, size_t columns, size_t rows, std::span<uint8_t> scratch);
NoiseEstimate estimateNoise(std::span<const double> tile, size_t columns, size_t rows, std::span<uint8_t> scratch);

}  // namespace nebulite::codecs
