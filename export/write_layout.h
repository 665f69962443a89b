// What a save writes: how many planes, and the checks made before anything
// reaches the file.
#pragma once

#include <cstdint>

#include "platform/host_sdk.h"
#include "shell/plugin_state.h"

namespace nebulite {

// The planes that are image data for `mode`: one for the single-plane modes,
// the colour channels of the others (all planes of a Multichannel image).
// Extra planes, such as alpha channels, are not written.
int16_t planesToWrite(int16_t mode, int16_t planes);

// False, after telling the user why, when the host's image cannot be saved
// as FITS (depth other than 8, 16 and 32, or a file of `storedBytes` a
// sample beyond what the host takes).
bool imageCanBeSaved(PluginState& state, uint32_t storedBytes);

}  // namespace nebulite
