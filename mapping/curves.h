// The stretches, on x in [0, 1] (0 at the black point, 1 at the white), each
// giving y in [0, 1]:
//
//   linear  y = x
//   sqrt    y = sqrt(x)
//   log     y = log(1 + a x) / log(1 + a),        a = 1000   (astropy LogStretch, ds9's log)
//   asinh   y = asinh(x / a) / asinh(1 / a),      a = 0.1    (astropy AsinhStretch)
//   mtf     y = (m - 1) x / ((2m - 1) x - m)                  (the midtones transfer function of
//                                                              PixInsight and Siril; y(m) = 1/2)
#pragma once

#include <cstdint>

namespace nebulite::mapping {

enum class Curve : uint8_t { linear, sqrt, log, asinh, mtf };

inline constexpr double kLogA = 1000.0;
inline constexpr double kAsinhA = 0.1;

// MTF(m, x) for m in [0, 1]: 0 at x <= 0, 1 at x >= 1, and the formula
// between (its denominator has no zero there for any such m).
double midtonesTransfer(double m, double x);

// The curve at x, which is clamped to [0, 1] first; `midtone` is read by
// mtf alone. NaN stays NaN.
double applyCurve(Curve curve, double x, double midtone);

}  // namespace nebulite::mapping
