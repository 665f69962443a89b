#include "import/float_scale.h"

#include <cmath>

namespace nebulite {

std::optional<int32_t> fixedFloatExponent(const SampleRules& rules) {
    if (rules.bscale != 1.0) return std::nullopt;
    switch (rules.bitpix) {
        case 8:
            if (rules.bzero == 0.0) return 8;
            break;
        case 16:
            if (rules.bzero == 0.0) return 15;
            if (rules.bzero == 32768.0) return 16;
            break;
        case 32:
            if (rules.bzero == 0.0) return 31;
            if (rules.bzero == 2147483648.0) return 32;
            break;
        case 64:
            if (rules.bzero == 0.0) return 63;
            if (rules.bzero == 9223372036854775808.0) return 64;
            break;
        default: break;
    }
    return std::nullopt;
}

int32_t exponentForLargest(double largest) {
    if (!(largest > 1.0) || !std::isfinite(largest)) return 0;
    int exponent = 0;
    // frexp gives largest = m x 2^e with m in [0.5, 1): 2^e is at or above
    // it, and 2^(e-1) is it exactly when m is 0.5.
    const double mantissa = std::frexp(largest, &exponent);
    return mantissa == 0.5 ? exponent - 1 : exponent;
}

double largestMagnitude(const double* values, size_t count, double largest) {
    for (size_t i = 0; i < count; ++i) {
        const double a = std::fabs(values[i]);
        if (a > largest) largest = a;  // NaN compares false: blanks stay out
    }
    return largest;
}

}  // namespace nebulite
