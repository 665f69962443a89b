// Opening a FITS file, second half: the samples, converted to the host's
// ranges. Exposed for tests of the conversions.
#pragma once

#include <array>
#include <cstdint>

namespace nebulite {

// The host sample for every stored 16-bit value under BSCALE and BZERO:
// v = s x bscale + bzero (s unsigned when bzero is 0, else signed), clamped
// to 0..65535 and truncated, then halved with rounding into the host's
// 16-bit range 0..32768.
void build16BitTable(double bscale, double bzero, std::array<uint16_t, 65536>& table);

// A 32-bit sample's physical value, or NaN when it is undefined.
double physicalValue32(uint32_t raw, bool isFloat, double bscale, double bzero, bool blankSeen,
                       int64_t blankValue);
// A physical value mapped into the host's 0..32768 over [lo, hi].
uint16_t scaleToHost(double value, double lo, double hi);

}  // namespace nebulite
