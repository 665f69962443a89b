// Saving: the size estimate, the header made ready, and the file written.
#pragma once

#include <cstdint>

#include "shell/plugin_state.h"

namespace nebulite {

// The stored 16-bit value for host sample h: 2 x h - bzero, limited to the
// stored range (block_writer.cpp writes it big-endian).
uint16_t storedSample16(uint16_t h, double bzero);

}  // namespace nebulite
