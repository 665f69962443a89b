// The conversions of file samples into the host's: pure functions of one
// row at a time, which the pixel roads call and tests reach directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace nebulite {

using Table16 = std::array<uint16_t, 65536>;

// A level of the file's own host depth at the document's other depth. The
// editor's 8-bit range is 0..255 and its 16-bit one 0..32768: the same
// rounding both ways, so that a round trip gives the level back.
constexpr uint16_t level8To16(uint8_t v) { return static_cast<uint16_t>((uint32_t{v} * 32768 + 127) / 255); }
constexpr uint8_t level16To8(uint16_t v) { return static_cast<uint8_t>((uint32_t{v} * 255 + 16384) / 32768); }
static_assert(level8To16(255) == 32768 && level16To8(32768) == 255 && level16To8(level8To16(1)) == 1);

// The host sample for every stored 16-bit value under BSCALE and BZERO:
// v = s x bscale + bzero (s unsigned when bzero is 0, else signed), clamped
// to 0..65535 and truncated, then halved with rounding into the host's
// 16-bit range 0..32768.
void build16BitTable(double bscale, double bzero, std::span<uint16_t, 65536> table);
// A file row of `samples` big-endian 16-bit values becomes host samples in
// place: the two bytes of sample i turn into host sample i.
void convert16BitRow(unsigned char* row, size_t samples, std::span<const uint16_t, 65536> table);

// Levels in the host's 16-bit range as floats (a demosaiced row) into host
// samples, 2 bytes each in the machine's order: each value clamped to
// 0..32768 and rounded to the nearest level, halves up (floor(v + 0.5)).
// A NaN gives 0. Four samples at once where the processor has SSE2.
void roundLevels16(const float* levels, size_t samples, unsigned char* host);

// Wide samples: 32- or 64-bit integers (BITPIX 32, 64) or IEEE floats
// (BITPIX -32, -64), scaled into the host's 16 bits over a range.

// How the file's wide samples become physical values.
struct WideRules {
    bool isFloat = false;
    int sampleBytes = 4;     // 4 or 8
    double bscale = 1.0;
    double bzero = 0.0;
    bool blankSeen = false;  // integers only: BLANK marks undefined samples
    int64_t blankValue = 0;
};

// A wide sample's physical value, or NaN when it is undefined; `raw` holds
// the sample's bits (the low 32 for a 4-byte sample).
double physicalValue(uint64_t raw, const WideRules& rules);
// A physical value mapped into the host's 0..32768 over [lo, hi].
uint16_t scaleToHost(double value, double lo, double hi);

// The smallest and largest defined physical value met so far; lo > hi
// while there has been none.
struct WideRange {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
};

// Widens `range` by the defined samples of one file row (big-endian).
void widenRange(const unsigned char* row, size_t samples, const WideRules& rules, WideRange& range);
// The largest |value| within `range`: that of its farther end, 0 when it
// is empty (no defined sample).
double rangeMagnitude(const WideRange& range);
// One file row of big-endian wide samples into host samples over [lo, hi];
// `out` receives 2 bytes a sample in the machine's order.
void convertWideRow(const unsigned char* row, size_t samples, const WideRules& rules, double lo, double hi,
                    unsigned char* out);

}  // namespace nebulite
