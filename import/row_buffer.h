// The host buffer that carries one row of one plane between module and host,
// shared by reading and writing, and the import's own work memory.
#pragma once

#include "shell/plugin_state.h"

namespace nebulite {

// Sizes the row (columns x host sample bytes), gets the work memory a wide
// sample read needs, then a locked host buffer. False, with the error in
// `result`, when any of it cannot be had.
bool acquireRowBuffer(PluginState& state, int16_t hostSampleBytes, bool forImport);
// Frees the work memory and gives the host buffer back.
void releaseRowBuffers(PluginState& state);

}  // namespace nebulite
