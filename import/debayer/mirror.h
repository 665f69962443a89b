// Where a pixel beyond the mosaic's edge takes its value from.
#pragma once

#include <cstdint>

namespace nebulite::debayer {

// Index `i` of a side `n` long (n >= 2) reflected back into 0..n-1 about the
// end pixels, which are not repeated: -1 reads 1, n reads n - 2. A reflection
// about a pixel keeps every index's parity, so the mirrored neighbourhood of
// an edge pixel has the colours a real one would have. `i` may lie any
// distance outside: a mosaic two pixels wide still gives every method its
// context, reflected again at the far edge.
constexpr uint64_t mirrorIndex(int64_t i, uint64_t n) {
    const auto period = static_cast<int64_t>(2 * (n - 1));
    int64_t m = i % period;
    if (m < 0) m += period;
    if (m >= static_cast<int64_t>(n)) m = period - m;
    return static_cast<uint64_t>(m);
}

static_assert(mirrorIndex(-1, 5) == 1 && mirrorIndex(-2, 5) == 2 && mirrorIndex(5, 5) == 3 && mirrorIndex(6, 5) == 2);
static_assert(mirrorIndex(-2, 2) == 0 && mirrorIndex(-1, 2) == 1 && mirrorIndex(2, 2) == 0 && mirrorIndex(3, 2) == 1);
static_assert(mirrorIndex(-3, 3) == 1 && mirrorIndex(4, 3) == 0);

}  // namespace nebulite::debayer
