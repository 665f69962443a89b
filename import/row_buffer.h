// The host buffer that carries one row of one plane between module and host,
// shared by reading and writing, and the import's own work memory.
#pragma once

#include "shell/plugin_state.h"

namespace nebulite {

// What a read holds beside the host buffer.
enum class ImportWork {
    none,         // rows are read into the host buffer and converted there
    fileRow,      // one file row of wide samples (4 or 8 bytes), wider than the host's row
    sampleStore,  // every host sample of the image, until the file is known whole
};

// Sizes the row (columns x host sample bytes), gets the work memory, then a
// locked host buffer. False, with the error in `result`, when any of it
// cannot be had.
bool acquireRowBuffer(PluginState& state, int16_t hostSampleBytes, ImportWork work = ImportWork::none);
// Frees the work memory and gives the host buffer back.
void releaseRowBuffers(PluginState& state);
// Frees the work memory alone.
void releaseImportWork();

}  // namespace nebulite
