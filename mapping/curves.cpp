#include "mapping/curves.h"

#include <cmath>

namespace nebulite::mapping {

double midtonesTransfer(double m, double x) {
    if (!(x > 0.0)) return std::isnan(x) ? x : 0.0;
    if (x >= 1.0) return 1.0;
    return (m - 1.0) * x / ((2.0 * m - 1.0) * x - m);
}

double applyCurve(Curve curve, double x, double midtone) {
    if (std::isnan(x)) return x;
    if (x < 0.0) x = 0.0;
    if (x > 1.0) x = 1.0;
    switch (curve) {
        case Curve::linear: return x;
        case Curve::sqrt: return std::sqrt(x);
        case Curve::log: return std::log1p(kLogA * x) / std::log1p(kLogA);
        case Curve::asinh: return std::asinh(x / kAsinhA) / std::asinh(1.0 / kAsinhA);
        case Curve::mtf: return midtonesTransfer(midtone, x);
    }
    return x;
}

}  // namespace nebulite::mapping
