// The range of a quantized tile's values without unquantizing every pixel:
// for a pass that needs only the smallest and largest value an image holds
// before a pass that hands its pixels over.
//
// A pixel's value is (i - r + 0.5) x ZSCALE + ZZERO with its dither offset r
// in [0, 1) (r = 0.5 without dither), computed in double and narrowed to the
// float type: every step of that is monotonic, so a pixel of a larger
// integer never has a smaller value than one of a smaller integer (for a
// positive ZSCALE; the other way round for a negative one). The extremes of
// the values therefore lie among the pixels whose integer is the tile's
// smallest or largest (nulls and dithered zeros aside), and only those are
// unquantized, through the very arithmetic unquantize uses. Where one of
// them is not finite (an overflow, a ZSCALE of NaN or infinity), the other
// values prove nothing and every pixel is unquantized instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"
#include "codecs/quantize.h"

namespace nebulite::codecs {

struct UnquantizedRange {
    bool any = false;   // some pixel's value is finite
    double low = 0.0;   // the smallest and largest finite value, as the
    double high = 0.0;  // float type holds it (widened to double)
};

// The range of the finite values unquantize(in, p, out) gives out[first,
// first + count) for floats of `floatBytes` bytes (4: float, 8: double).
// Nulls (NaN) are never in it; dithered zeros are. Unsupported for a width
// other than 4 or 8, pixels outside `in`, or what unquantize refuses.
CodecResult unquantizedRange(std::span<const int32_t> in, const Unquantize& p, size_t floatBytes, size_t first,
                             size_t count, UnquantizedRange& range);

}  // namespace nebulite::codecs
