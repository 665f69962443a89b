#include "export/float_samples.h"

#include <cmath>
#include <bit>
#include <cstring>
#include <type_traits>

#include "codecs/big_endian.h"

namespace nebulite {

namespace {

template <typename Int>
void storeInteger(double stored, const BlankRule& blank, bool undefined, unsigned char* out, FloatWriteStats& stats) {
    using Bits = std::make_unsigned_t<Int>;
    int64_t value = 0;
    if (undefined) {
        value = blank.present ? blank.value : 0;
    } else {
        // Half away from zero, the rounding of every writer of FITS integers.
        const double rounded = std::round(stored);
        constexpr double low = static_cast<double>(std::numeric_limits<Int>::min());
        // The first value past the type's range: 2^(bits - 1), exact as a
        // double for every width (INT64_MAX itself is no double).
        constexpr double past = -low;
        if (rounded < low) {
            value = static_cast<int64_t>(std::numeric_limits<Int>::min());
            ++stats.clamped;
        } else if (rounded >= past) {
            value = static_cast<int64_t>(std::numeric_limits<Int>::max());
            ++stats.clamped;
        } else {
            value = static_cast<int64_t>(rounded);
        }
    }
    codecs::storeBigEndian<Bits>(out, static_cast<Bits>(static_cast<Int>(value)));
}

// The unsigned types (BZERO 2^(bits - 1), BSCALE 1) in integers: the
// physical value rounded, clamped to 0..2^bits - 1, the sign bit turned
// over. (physical - 2^63 in doubles would lose every small value of a
// 64-bit one.)
template <typename Int>
void storeUnsigned(double physical, const BlankRule& blank, bool undefined, unsigned char* out,
                   FloatWriteStats& stats) {
    using Bits = std::make_unsigned_t<Int>;
    constexpr Bits sign = Bits{1} << (8 * sizeof(Int) - 1);
    Bits value = 0;
    if (undefined) {
        value = static_cast<Bits>(static_cast<Int>(blank.present ? blank.value : 0));
    } else {
        const double rounded = std::round(physical);
        // 2^bits, exact as a double for every width.
        constexpr double past = 2.0 * static_cast<double>(sign);
        if (rounded < 0.0) {
            value = sign;
            ++stats.clamped;
        } else if (rounded >= past) {
            value = static_cast<Bits>(~sign);
            ++stats.clamped;
        } else {
            value = static_cast<Bits>(static_cast<Bits>(rounded) ^ sign);
        }
    }
    codecs::storeBigEndian<Bits>(out, value);
}

// A float32 sample: a finite value past float32's largest (a document of
// large exponent whose values went above its range) is clamped to it and
// counted, never written as an infinity.
float toFloat32(double stored, FloatWriteStats& stats) {
    const auto f = static_cast<float>(stored);
    if (!std::isinf(f) || !std::isfinite(stored)) return f;
    ++stats.clamped;
    return f > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
}

// Whether the plan's scaling is the unsigned offset of its integer BITPIX.
bool unsignedPlan(const SavePlan& plan) {
    if (plan.bscale != 1.0) return false;
    switch (plan.bitpix) {
        case 16: return plan.bzero == 32768.0;
        case 32: return plan.bzero == 2147483648.0;
        case 64: return plan.bzero == 9223372036854775808.0;
        default: return false;
    }
}

void storeByte(double stored, const BlankRule& blank, bool undefined, unsigned char* out, FloatWriteStats& stats) {
    int64_t value = 0;
    if (undefined) {
        value = blank.present ? blank.value : 0;
    } else {
        const double rounded = std::round(stored);
        if (rounded < 0.0) {
            ++stats.clamped;
        } else if (rounded > 255.0) {
            value = 255;
            ++stats.clamped;
        } else {
            value = static_cast<int64_t>(rounded);
        }
    }
    *out = static_cast<unsigned char>(value);
}

}  // namespace

void storeFloatRow(const unsigned char* in, size_t count, const SavePlan& plan, const BlankRule& blank,
                   unsigned char* out, FloatWriteStats& stats) {
    const uint32_t bytes = storedSampleBytes(plan.bitpix);
    const bool unsignedType = unsignedPlan(plan);
    for (size_t i = 0; i < count; ++i) {
        float v = 0.0f;
        std::memcpy(&v, in + 4 * i, 4);
        // Times a power of two alone: the physical value's bits are the
        // document value's.
        const double physical = std::ldexp(static_cast<double>(v), plan.floatExponent);
        const bool undefined = !std::isfinite(physical);
        if (!undefined) {
            if (physical < stats.low) stats.low = physical;
            if (physical > stats.high) stats.high = physical;
        }
        unsigned char* at = out + size_t{bytes} * i;
        const double stored = (physical - plan.bzero) / plan.bscale;
        switch (plan.bitpix) {
            case -32: codecs::storeBigEndian<uint32_t>(at, std::bit_cast<uint32_t>(toFloat32(stored, stats))); break;
            case -64: codecs::storeBigEndian<uint64_t>(at, std::bit_cast<uint64_t>(stored)); break;
            case 8: storeByte(stored, blank, undefined, at, stats); break;
            case 16:
                if (unsignedType) storeUnsigned<int16_t>(physical, blank, undefined, at, stats);
                else storeInteger<int16_t>(stored, blank, undefined, at, stats);
                break;
            case 32:
                if (unsignedType) storeUnsigned<int32_t>(physical, blank, undefined, at, stats);
                else storeInteger<int32_t>(stored, blank, undefined, at, stats);
                break;
            case 64:
                if (unsignedType) storeUnsigned<int64_t>(physical, blank, undefined, at, stats);
                else storeInteger<int64_t>(stored, blank, undefined, at, stats);
                break;
            default: break;
        }
    }
}

}  // namespace nebulite
