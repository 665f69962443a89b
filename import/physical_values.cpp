#include "import/physical_values.h"

#include <bit>
#include <cmath>
#include <limits>

#include "codecs/big_endian.h"

namespace nebulite {

namespace {

constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();

template <typename Stored>
double storedValue(const unsigned char* p) {
    if constexpr (std::is_same_v<Stored, uint8_t>) {
        return static_cast<double>(*p);
    } else if constexpr (std::is_same_v<Stored, float>) {
        return static_cast<double>(std::bit_cast<float>(codecs::loadBigEndian<uint32_t>(p)));
    } else if constexpr (std::is_same_v<Stored, double>) {
        return std::bit_cast<double>(codecs::loadBigEndian<uint64_t>(p));
    } else {
        using Bits = std::make_unsigned_t<Stored>;
        return static_cast<double>(static_cast<Stored>(codecs::loadBigEndian<Bits>(p)));
    }
}

template <typename Stored>
void convert(const unsigned char* row, size_t samples, const SampleRules& rules, double* out) {
    constexpr bool integer = std::is_integral_v<Stored>;
    for (size_t i = 0; i < samples; ++i) {
        const unsigned char* p = row + sizeof(Stored) * i;
        if constexpr (integer) {
            if (rules.blankSeen) {
                int64_t raw = 0;
                if constexpr (std::is_same_v<Stored, uint8_t>)
                    raw = *p;
                else
                    raw = static_cast<Stored>(codecs::loadBigEndian<std::make_unsigned_t<Stored>>(p));
                if (raw == rules.blank) {
                    out[i] = kUndefined;
                    continue;
                }
            }
        }
        const double v = storedValue<Stored>(p) * rules.bscale + rules.bzero;
        out[i] = std::isfinite(v) ? v : kUndefined;
    }
}

}  // namespace

SampleRules sampleRulesOf(const HeaderKeywords& keys) {
    SampleRules rules;
    rules.bitpix = keys.bitpix;
    rules.bscale = keys.bscale == 0.0 ? 1.0 : keys.bscale;
    rules.bzero = keys.bzero;
    rules.blankSeen = keys.blankSeen && keys.bitpix > 0;
    rules.blank = keys.blank;
    return rules;
}

void physicalRow(const unsigned char* row, size_t samples, const SampleRules& rules, double* out) {
    switch (rules.bitpix) {
        case 8: convert<uint8_t>(row, samples, rules, out); break;
        case 16: convert<int16_t>(row, samples, rules, out); break;
        case 32: convert<int32_t>(row, samples, rules, out); break;
        case 64: convert<int64_t>(row, samples, rules, out); break;
        case -32: convert<float>(row, samples, rules, out); break;
        case -64: convert<double>(row, samples, rules, out); break;
        default:
            for (size_t i = 0; i < samples; ++i) out[i] = kUndefined;
            break;
    }
}

std::optional<mapping::Lattice> latticeOf(const SampleRules& rules) {
    if (rules.bitpix < 0 || !std::isfinite(rules.bscale) || !std::isfinite(rules.bzero) || rules.bscale == 0.0)
        return std::nullopt;
    return mapping::Lattice{rules.bscale < 0 ? -rules.bscale : rules.bscale, rules.bzero};
}

}  // namespace nebulite
