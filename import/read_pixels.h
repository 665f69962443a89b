// Opening a FITS file, second half: the samples, converted to the host's
// ranges, one row at a time. Exposed for tests of the conversions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace nebulite {

using Table16 = std::array<uint16_t, 65536>;

// The host sample for every stored 16-bit value under BSCALE and BZERO:
// v = s x bscale + bzero (s unsigned when bzero is 0, else signed), clamped
// to 0..65535 and truncated, then halved with rounding into the host's
// 16-bit range 0..32768.
void build16BitTable(double bscale, double bzero, Table16& table);
// A file row of `samples` big-endian 16-bit values becomes host samples in
// place: the two bytes of sample i turn into host sample i.
void convert16BitRow(unsigned char* row, size_t samples, const Table16& table);

// A 32-bit sample's physical value, or NaN when it is undefined.
double physicalValue32(uint32_t raw, bool isFloat, double bscale, double bzero, bool blankSeen,
                       int64_t blankValue);
// A physical value mapped into the host's 0..32768 over [lo, hi].
uint16_t scaleToHost(double value, double lo, double hi);

// How the file's 32-bit samples become physical values.
struct Rules32 {
    bool isFloat = false;
    double bscale = 1.0;
    double bzero = 0.0;
    bool blankSeen = false;  // integers only: BLANK marks undefined samples
    int64_t blankValue = 0;
};

// The smallest and largest defined physical value met so far; lo > hi
// while there has been none.
struct Range32 {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
};

// Widens `range` by the defined samples of one file row (big-endian).
void widenRange32(const unsigned char* row, size_t samples, const Rules32& rules, Range32& range);
// One file row of big-endian 32-bit samples into host samples over [lo, hi];
// `out` receives 2 bytes a sample in the machine's order.
void convert32BitRow(const unsigned char* row, size_t samples, const Rules32& rules, double lo,
                     double hi, unsigned char* out);

}  // namespace nebulite
