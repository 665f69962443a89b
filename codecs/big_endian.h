// Big-endian loads built from bytes with shifts: no casts of the buffer, no
// alignment assumed, the same on every host.
#pragma once

#include <cstdint>

namespace nebulite::codecs {

constexpr uint16_t loadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
constexpr uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
constexpr uint64_t loadBE64(const uint8_t* p) { return (uint64_t{loadBE32(p)} << 32) | loadBE32(p + 4); }

}  // namespace nebulite::codecs
