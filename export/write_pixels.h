// Saving: the size estimate, the header made ready, and the file written.
#pragma once

#include <cstdint>

#include "shell/plugin_state.h"

namespace nebulite {

// Converts one row of host samples in place into the file's big-endian
// samples (16-bit: 2 x h - bzero, limited to the stored range) and writes it.
void convertAndWriteRow(PluginState& state, int32_t byteCount, Ptr buffer);

// The stored 16-bit value for host sample h.
uint16_t storedSample16(uint16_t h, double bzero);

}  // namespace nebulite
