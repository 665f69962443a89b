#include "import/document_floats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "codecs/big_endian.h"
#include "import/float_scale.h"

namespace nebulite {

namespace {

void putFloat(unsigned char* out, size_t i, float v) { std::memcpy(out + 4 * i, &v, 4); }

// Integers whose physical value is the stored one, or the stored one plus
// the type's unsigned offset: the offset is added in integers, and the sum
// becomes a float in one rounding. The power of two is then exact (the
// product of a float of an integer and 2^-64 at the least is a normal
// float).
template <typename Stored>
void integerRow(const unsigned char* row, size_t count, const SampleRules& rules, float scale, unsigned char* out) {
    using Bits = std::make_unsigned_t<Stored>;
    const bool offset = rules.bzero != 0.0;
    for (size_t i = 0; i < count; ++i) {
        Bits bits = 0;
        if constexpr (sizeof(Stored) == 1)
            bits = row[i];
        else
            bits = codecs::loadBigEndian<Bits>(row + sizeof(Stored) * i);
        const auto stored = static_cast<Stored>(bits);
        float v = 0.0f;
        if (rules.blankSeen && static_cast<int64_t>(stored) == rules.blank) {
            v = 0.0f;
        } else if (offset) {
            // stored + 2^(bits - 1): the sign bit turned over, read unsigned.
            constexpr Bits sign = Bits{1} << (8 * sizeof(Stored) - 1);
            v = static_cast<float>(static_cast<Bits>(bits ^ sign)) * scale;
        } else {
            v = static_cast<float>(stored) * scale;
        }
        putFloat(out, i, v);
    }
}

// Float32 samples without scaling, times a normal float power of two: the
// product is exact unless it falls below float's normal range, where it is
// rounded once, as the double road rounds it. No infinity or NaN takes part
// (their exponent bits are tested first), so the loop holds no branch.
void float32Row(const unsigned char* row, size_t count, float scale, unsigned char* out) {
    constexpr uint32_t exponentBits = 0x7F800000u;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t bits = codecs::loadBigEndian<uint32_t>(row + 4 * i);
        const uint32_t scaled = std::bit_cast<uint32_t>(std::bit_cast<float>(bits) * scale);
        const uint32_t value = (bits & exponentBits) == exponentBits ? 0u : scaled;
        std::memcpy(out + 4 * i, &value, 4);
    }
}

// IEEE samples without scaling: their bits, times the power of two; a
// product exact in double, rounded once to float.
template <typename Real>
void realRow(const unsigned char* row, size_t count, double scale, unsigned char* out) {
    using Bits = std::conditional_t<sizeof(Real) == 4, uint32_t, uint64_t>;
    for (size_t i = 0; i < count; ++i) {
        const Real r = std::bit_cast<Real>(codecs::loadBigEndian<Bits>(row + sizeof(Real) * i));
        const double d = static_cast<double>(r);
        putFloat(out, i, std::isfinite(d) ? static_cast<float>(d * scale) : 0.0f);
    }
}

// The largest finite |value| of unscaled IEEE samples, found on their bits:
// with the sign cleared, the order of the bits is the order of the
// magnitudes, and every bit pattern at or above infinity's is no number.
template <typename Real>
double largestRealMagnitude(const unsigned char* row, size_t count, double largest) {
    using Bits = std::conditional_t<sizeof(Real) == 4, uint32_t, uint64_t>;
    constexpr Bits magnitude = ~Bits{0} >> 1;
    constexpr Bits infinity = std::bit_cast<Bits>(std::numeric_limits<Real>::infinity());
    Bits top = 0;
    for (size_t i = 0; i < count; ++i) {
        const Bits m = codecs::loadBigEndian<Bits>(row + sizeof(Real) * i) & magnitude;
        // A plain maximum, which the compiler vectorises.
        top = std::max(top, m < infinity ? m : Bits{0});
    }
    const double found = static_cast<double>(std::bit_cast<Real>(top));
    return found > largest ? found : largest;
}

bool unscaled(const SampleRules& rules) { return rules.bscale == 1.0 && rules.bzero == 0.0; }

}  // namespace

void documentFloatRow(const unsigned char* row, size_t count, const SampleRules& rules, int32_t exponent,
                      double* values, unsigned char* out) {
    const double scale = std::ldexp(1.0, -exponent);
    // The encodings whose exponent the type fixes take the integer road;
    // their exponents (8 to 64) keep the float scale normal.
    if (fixedFloatExponent(rules) && exponent >= 0 && exponent <= 64) {
        const auto floatScale = static_cast<float>(scale);
        switch (rules.bitpix) {
            case 8: integerRow<uint8_t>(row, count, rules, floatScale, out); return;
            case 16: integerRow<int16_t>(row, count, rules, floatScale, out); return;
            case 32: integerRow<int32_t>(row, count, rules, floatScale, out); return;
            case 64: integerRow<int64_t>(row, count, rules, floatScale, out); return;
            default: break;
        }
    }
    // A scale below float's normal range (data past 2^126) takes the double
    // road: a host that flushes denormal operands to zero would otherwise
    // multiply by 0.
    if (rules.bitpix == -32 && unscaled(rules) && exponent >= 0 && exponent <= 126)
        return float32Row(row, count, static_cast<float>(scale), out);
    if (rules.bitpix == -32 && unscaled(rules)) return realRow<float>(row, count, scale, out);
    if (rules.bitpix == -64 && unscaled(rules)) return realRow<double>(row, count, scale, out);
    physicalRow(row, count, rules, values);
    for (size_t i = 0; i < count; ++i)
        putFloat(out, i, std::isnan(values[i]) ? 0.0f : static_cast<float>(values[i] * scale));
}

double largestPhysicalMagnitude(const unsigned char* row, size_t count, const SampleRules& rules, double* values,
                                double largest) {
    if (rules.bitpix == -32 && unscaled(rules)) return largestRealMagnitude<float>(row, count, largest);
    if (rules.bitpix == -64 && unscaled(rules)) return largestRealMagnitude<double>(row, count, largest);
    physicalRow(row, count, rules, values);
    return largestMagnitude(values, count, largest);
}

}  // namespace nebulite
