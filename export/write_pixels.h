// Saving: the size estimate, the header made ready, and the file written.
#pragma once

#include <cstdint>

#include "shell/plugin_state.h"

namespace nebulite {

// Host sample h (0..32768) doubled into the stored range: 2 x h, 65535 at
// most. Branch-free, so that a row of them vectorises.
constexpr uint16_t doubledSample16(uint16_t h) {
    return static_cast<uint16_t>((h << 1) | (h & 0x8000 ? 0xFFFF : 0));
}

// What takes a doubled sample to the stored value: with a BZERO of 32768
// (signed storage), subtracting it is flipping the top bit.
constexpr uint16_t storedFlip16(double bzero) { return bzero != 0.0 ? uint16_t{0x8000} : uint16_t{0}; }

// The stored 16-bit value for host sample h: 2 x h - bzero, limited to the
// stored range (block_writer.cpp writes it big-endian).
constexpr uint16_t storedSample16(uint16_t h, double bzero) {
    return static_cast<uint16_t>(doubledSample16(h) ^ storedFlip16(bzero));
}

}  // namespace nebulite
