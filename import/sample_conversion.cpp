#include "import/sample_conversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "codecs/big_endian.h"

// SSE2 is in every x86-64 processor, and in 32-bit builds that ask for it.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define NEBULITE_SSE2 1
#else
#define NEBULITE_SSE2 0
#endif

namespace nebulite {

using codecs::loadBigEndian;

void build16BitTable(double bscale, double bzero, std::span<uint16_t, 65536> table) {
    for (uint32_t raw = 0; raw < 65536; ++raw) {
        // BZERO 0 marks the data as unsigned; anything else as two's complement.
        double s = bzero == 0.0 ? static_cast<double>(raw)
                                : static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(raw)));
        double v = s * bscale + bzero;
        if (!(v >= 0.0)) v = 0.0;
        if (v > 65535.0) v = 65535.0;
        auto t = static_cast<uint32_t>(v);
        table[raw] = static_cast<uint16_t>((t + 1) / 2);
    }
}

namespace {

void store16(unsigned char* at, uint16_t value) { std::memcpy(at, &value, sizeof value); }

}  // namespace

void convert16BitRow(unsigned char* row, size_t samples, std::span<const uint16_t, 65536> table) {
    // Sample i's bytes are read before host sample i is written over them.
    for (size_t i = 0; i < samples; ++i)
        store16(row + 2 * i, table[static_cast<size_t>(row[2 * i]) << 8 | row[2 * i + 1]]);
}

namespace {

// Clamping first changes nothing, the ends being whole levels; the clamped
// value's double is exact and not negative, so truncating it is its floor,
// and half of one more than that, rounded down, is floor(v + 0.5). The
// comparisons are those of SSE's max and min, NaN giving 0 as they do.
inline uint16_t roundedLevel16(float v) {
    const float atLeast0 = v > 0.0f ? v : 0.0f;
    const float clamped = atLeast0 < 32768.0f ? atLeast0 : 32768.0f;
    const auto twice = static_cast<int32_t>(clamped + clamped);
    return static_cast<uint16_t>((twice + 1) >> 1);
}

}  // namespace

void roundLevels16(const float* levels, size_t samples, unsigned char* host) {
    size_t i = 0;
#if NEBULITE_SSE2
    // The same steps eight samples at a time. SSE2 packs 32-bit integers to
    // 16 bits signed only: levels less 16384 fit, and 16384 goes back on in
    // 16-bit lanes.
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(32768.0f);
    const __m128i one = _mm_set1_epi32(1);
    const __m128i half32 = _mm_set1_epi32(16384);
    const __m128i half16 = _mm_set1_epi16(16384);
    for (; i + 8 <= samples; i += 8) {
        const __m128 a = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(levels + i), zero), top);
        const __m128 b = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(levels + i + 4), zero), top);
        const __m128i la = _mm_srai_epi32(_mm_add_epi32(_mm_cvttps_epi32(_mm_add_ps(a, a)), one), 1);
        const __m128i lb = _mm_srai_epi32(_mm_add_epi32(_mm_cvttps_epi32(_mm_add_ps(b, b)), one), 1);
        const __m128i packed = _mm_packs_epi32(_mm_sub_epi32(la, half32), _mm_sub_epi32(lb, half32));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(host + 2 * i), _mm_add_epi16(packed, half16));
    }
#endif
    for (; i < samples; ++i) store16(host + 2 * i, roundedLevel16(levels[i]));
}

namespace {

constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();

// The stored types of the wide samples, by width: the integer BITPIX 32 and
// 64 read as, and the float BITPIX -32 and -64 read as.
template <typename Bits> struct WideTypes;
template <> struct WideTypes<uint32_t> { using Int = int32_t; using Float = float; };
template <> struct WideTypes<uint64_t> { using Int = int64_t; using Float = double; };

// The per-sample rules with the sample type fixed, so that the row loops
// do not ask it again for every sample.
template <typename Bits, bool isFloat>
double physical(Bits raw, const WideRules& rules) {
    double stored;
    if constexpr (isFloat) {
        stored = static_cast<double>(std::bit_cast<typename WideTypes<Bits>::Float>(raw));
        if (!std::isfinite(stored)) return kUndefined;
    } else {
        auto value = static_cast<typename WideTypes<Bits>::Int>(raw);
        if (rules.blankSeen && value == rules.blankValue) return kUndefined;
        stored = static_cast<double>(value);
    }
    double p = stored * rules.bscale + rules.bzero;
    return std::isfinite(p) ? p : kUndefined;
}

// scaleToHost once hi > lo is known; span is hi - lo. NaN fails x > 0, and
// for 0 < x < 32768 truncating x + 0.5 is its floor.
uint16_t scaleOver(double value, double lo, double span) {
    double x = (value - lo) / span * 32768.0;
    if (!(x > 0.0)) return 0;
    if (x >= 32768.0) return 32768;
    return static_cast<uint16_t>(static_cast<int32_t>(x + 0.5));
}

template <typename Bits, bool isFloat>
void widenRow(const unsigned char* row, size_t samples, const WideRules& rules, WideRange& range) {
    for (size_t i = 0; i < samples; ++i) {
        double v = physical<Bits, isFloat>(loadBigEndian<Bits>(row + sizeof(Bits) * i), rules);
        if (std::isnan(v)) continue;
        if (v < range.lo) range.lo = v;
        if (v > range.hi) range.hi = v;
    }
}

template <typename Bits, bool isFloat>
void convertRow(const unsigned char* row, size_t samples, const WideRules& rules, double lo, double span,
                unsigned char* out) {
    for (size_t i = 0; i < samples; ++i)
        store16(out + 2 * i,
                scaleOver(physical<Bits, isFloat>(loadBigEndian<Bits>(row + sizeof(Bits) * i), rules), lo, span));
}

// Runs `body` with the row loop's template arguments fixed from the rules.
template <template <typename, bool> class Loop, typename... Args>
void withSampleType(const WideRules& rules, Args&&... args) {
    if (rules.sampleBytes == 8) {
        if (rules.isFloat)
            Loop<uint64_t, true>::run(args...);
        else
            Loop<uint64_t, false>::run(args...);
    } else {
        if (rules.isFloat)
            Loop<uint32_t, true>::run(args...);
        else
            Loop<uint32_t, false>::run(args...);
    }
}

template <typename Bits, bool isFloat>
struct WidenLoop {
    static void run(const unsigned char* row, size_t samples, const WideRules& rules, WideRange& range) {
        widenRow<Bits, isFloat>(row, samples, rules, range);
    }
};

template <typename Bits, bool isFloat>
struct ConvertLoop {
    static void run(const unsigned char* row, size_t samples, const WideRules& rules, double lo, double span,
                    unsigned char* out) {
        convertRow<Bits, isFloat>(row, samples, rules, lo, span, out);
    }
};

}  // namespace

double physicalValue(uint64_t raw, const WideRules& rules) {
    if (rules.sampleBytes == 8)
        return rules.isFloat ? physical<uint64_t, true>(raw, rules) : physical<uint64_t, false>(raw, rules);
    auto low = static_cast<uint32_t>(raw);
    return rules.isFloat ? physical<uint32_t, true>(low, rules) : physical<uint32_t, false>(low, rules);
}

uint16_t scaleToHost(double value, double lo, double hi) {
    if (!(hi > lo)) return 0;
    return scaleOver(value, lo, hi - lo);
}

void widenRange(const unsigned char* row, size_t samples, const WideRules& rules, WideRange& range) {
    withSampleType<WidenLoop>(rules, row, samples, rules, range);
}

double rangeMagnitude(const WideRange& range) {
    if (!(range.lo <= range.hi)) return 0.0;
    return std::max(std::fabs(range.lo), std::fabs(range.hi));
}

void convertWideRow(const unsigned char* row, size_t samples, const WideRules& rules, double lo, double hi,
                    unsigned char* out) {
    // An empty range (or none: no defined sample) maps everything to 0.
    if (!(hi > lo)) {
        std::memset(out, 0, samples * 2);
        return;
    }
    withSampleType<ConvertLoop>(rules, row, samples, rules, lo, hi - lo, out);
}

}  // namespace nebulite
