#include "import/read_pixels.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace nebulite {

void build16BitTable(double bscale, double bzero, Table16& table) {
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

uint32_t loadBigEndian32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

void convert16BitRow(unsigned char* row, size_t samples, const Table16& table) {
    // Sample i's bytes are read before host sample i is written over them.
    for (size_t i = 0; i < samples; ++i)
        store16(row + 2 * i, table[static_cast<size_t>(row[2 * i]) << 8 | row[2 * i + 1]]);
}

namespace {

constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();

// The per-sample rules with the sample type fixed, so that the row loops
// do not ask it again for every sample.
template <bool isFloat>
double physical(uint32_t raw, const Rules32& rules) {
    double stored;
    if constexpr (isFloat) {
        stored = static_cast<double>(std::bit_cast<float>(raw));
        if (!std::isfinite(stored)) return kUndefined;
    } else {
        auto value = static_cast<int32_t>(raw);
        if (rules.blankSeen && value == rules.blankValue) return kUndefined;
        stored = value;
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

template <bool isFloat>
void widenRow(const unsigned char* row, size_t samples, const Rules32& rules, Range32& range) {
    for (size_t i = 0; i < samples; ++i) {
        double v = physical<isFloat>(loadBigEndian32(row + 4 * i), rules);
        if (std::isnan(v)) continue;
        if (v < range.lo) range.lo = v;
        if (v > range.hi) range.hi = v;
    }
}

template <bool isFloat>
void convertRow(const unsigned char* row, size_t samples, const Rules32& rules, double lo, double span,
                unsigned char* out) {
    for (size_t i = 0; i < samples; ++i)
        store16(out + 2 * i, scaleOver(physical<isFloat>(loadBigEndian32(row + 4 * i), rules), lo, span));
}

}  // namespace

double physicalValue32(uint32_t raw, bool isFloat, double bscale, double bzero, bool blankSeen,
                       int64_t blankValue) {
    Rules32 rules{isFloat, bscale, bzero, blankSeen, blankValue};
    return isFloat ? physical<true>(raw, rules) : physical<false>(raw, rules);
}

uint16_t scaleToHost(double value, double lo, double hi) {
    if (!(hi > lo)) return 0;
    return scaleOver(value, lo, hi - lo);
}

void widenRange32(const unsigned char* row, size_t samples, const Rules32& rules, Range32& range) {
    if (rules.isFloat)
        widenRow<true>(row, samples, rules, range);
    else
        widenRow<false>(row, samples, rules, range);
}

void convert32BitRow(const unsigned char* row, size_t samples, const Rules32& rules, double lo,
                     double hi, unsigned char* out) {
    // An empty range (or none: no defined sample) maps everything to 0.
    if (!(hi > lo)) {
        std::memset(out, 0, samples * 2);
        return;
    }
    if (rules.isFloat)
        convertRow<true>(row, samples, rules, lo, hi - lo, out);
    else
        convertRow<false>(row, samples, rules, lo, hi - lo, out);
}

}  // namespace nebulite
