// The one set of byte-order helpers: FITS (and PNG, PNM) store numbers
// big-endian. Loads and stores are built from bytes with shifts or from one
// memcpy and a byte swap: no casts of the buffer, no alignment assumed, the
// same on every host. Everything here is constexpr or inline and pure, so
// that the row loops that call them per sample vectorise.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace nebulite::codecs {

constexpr uint16_t loadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
constexpr uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
constexpr uint64_t loadBE64(const uint8_t* p) { return (uint64_t{loadBE32(p)} << 32) | loadBE32(p + 4); }

constexpr void storeBE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
constexpr void storeBE32(uint8_t* p, uint32_t v) {
    storeBE16(p, static_cast<uint16_t>(v >> 16));
    storeBE16(p + 2, static_cast<uint16_t>(v));
}
constexpr void storeBE64(uint8_t* p, uint64_t v) {
    storeBE32(p, static_cast<uint32_t>(v >> 32));
    storeBE32(p + 4, static_cast<uint32_t>(v));
}

// A big-endian integer of 1 to 8 bytes, and back: for samples whose width
// is a run-time value.
constexpr uint64_t loadBE(const uint8_t* p, uint32_t bytes) {
    uint64_t v = 0;
    for (uint32_t b = 0; b < bytes; ++b) v = v << 8 | p[b];
    return v;
}
constexpr void storeBE(uint8_t* p, uint64_t v, uint32_t bytes) {
    for (uint32_t b = bytes; b-- > 0;) {
        p[b] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

// The bytes of an unsigned integer in the other order.
template <typename Bits>
constexpr Bits swapBytes(Bits v) {
    static_assert(sizeof(Bits) == 1 || sizeof(Bits) == 2 || sizeof(Bits) == 4 || sizeof(Bits) == 8);
    if constexpr (sizeof(Bits) == 1) return v;
    else if constexpr (sizeof(Bits) == 2) return static_cast<Bits>(v >> 8 | v << 8);
    else if constexpr (sizeof(Bits) == 4) return __builtin_bswap32(v);
    else return __builtin_bswap64(v);
}

// Between the machine's order and big-endian (the same swap both ways).
template <typename Bits>
constexpr Bits bigEndianOf(Bits v) {
    if constexpr (std::endian::native == std::endian::little) return swapBytes(v);
    else return v;
}

// A big-endian unsigned integer of sizeof(Bits) bytes: one load and one
// swap, for the loops that run per sample.
template <typename Bits>
inline Bits loadBigEndian(const uint8_t* p) {
    Bits v;
    std::memcpy(&v, p, sizeof v);
    return bigEndianOf(v);
}

template <typename Bits>
inline void storeBigEndian(uint8_t* p, Bits v) {
    v = bigEndianOf(v);
    std::memcpy(p, &v, sizeof v);
}

static_assert(swapBytes<uint16_t>(0x1234) == 0x3412);
static_assert(swapBytes<uint32_t>(0x12345678u) == 0x78563412u);

}  // namespace nebulite::codecs
