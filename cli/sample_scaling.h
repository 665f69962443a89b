// The host's sample ranges and the conversions between them and the files'
// ranges, each the rounded inverse of the other where a round trip must be
// exact.
#pragma once

#include <cstdint>

#include "host/document.h"

namespace nebulite::cli {

using host::kHostMax16;
using host::kHostMax8;

// 0..32768 <-> 0..65535 (PNG and TIFF), each the rounded inverse of the other.
constexpr uint16_t hostToFull16(uint32_t host) {
    if (host > kHostMax16) host = kHostMax16;
    return static_cast<uint16_t>((host * 65535u + kHostMax16 / 2) / kHostMax16);
}
constexpr uint16_t full16ToHost(uint32_t value) {
    return static_cast<uint16_t>((value * kHostMax16 + 65535u / 2) / 65535u);
}
// A sample of 0..maxval into 0..target (255 or 32768), rounded.
constexpr uint32_t rescale(uint32_t value, uint32_t maxval, uint32_t target) {
    if (maxval == target) return value;
    return static_cast<uint32_t>((uint64_t{value} * target + maxval / 2) / maxval);
}
// The host's two depths into each other, rounded.
constexpr uint32_t depth8To16(uint32_t v) { return rescale(v, kHostMax8, kHostMax16); }
constexpr uint32_t depth16To8(uint32_t v) {
    return rescale(v > kHostMax16 ? kHostMax16 : v, kHostMax16, kHostMax8);
}

}  // namespace nebulite::cli
