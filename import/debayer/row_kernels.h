// What the per-method row kernels share: the rows they read and the planes
// they write. Rows are the demosaicer's stored rows, mirrored beyond both
// ends by the method's padding, so a kernel reads column -pad .. width-1+pad
// without a test at the edges.
#pragma once

#include <cstdint>

namespace nebulite::debayer {

// One output row's planes, `width` floats each.
struct RgbPlanes {
    float* red;
    float* green;
    float* blue;
};

// The planes of a row's own non-green colour (red in a row holding red),
// of the colour only the rows above and below hold, and green.
struct SitePlanes {
    float* own;
    float* across;
    float* green;
};

// Rows holding red give red as their own colour and blue across; rows
// holding blue the other way round. `firstNonGreen` is the column parity of
// the row's red or blue pixels.
struct RowSites {
    SitePlanes planes;
    uint64_t firstNonGreen;
};

}  // namespace nebulite::debayer
