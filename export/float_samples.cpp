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
            case -32: codecs::storeBigEndian<uint32_t>(at, std::bit_cast<uint32_t>(static_cast<float>(stored))); break;
            case -64: codecs::storeBigEndian<uint64_t>(at, std::bit_cast<uint64_t>(stored)); break;
            case 8: storeByte(stored, blank, undefined, at, stats); break;
            case 16: storeInteger<int16_t>(stored, blank, undefined, at, stats); break;
            case 32: storeInteger<int32_t>(stored, blank, undefined, at, stats); break;
            case 64: storeInteger<int64_t>(stored, blank, undefined, at, stats); break;
            default: break;
        }
    }
}

}  // namespace nebulite
