// The selector handlers, one per host step. Each works on the call's copy of
// the plug-in state and reports through its `result`.
#pragma once

#include "shell/plugin_state.h"

namespace nebulite {

// shell/
void doAbout(PluginState& state);
void doOptionsPrepare(PluginState& state);
void doWriteFinish(PluginState& state);
void doFilterFile(PluginState& state);

// import/
void doReadPrepare(PluginState& state);
void doReadStart(PluginState& state);
void doReadContinue(PluginState& state);
void doReadFinish(PluginState& state);
// Disposes of the empty image-resource handle a read gives the host.
void disposeImageResources(PluginState& state);

// export/
void doEstimateStart(PluginState& state);
void doOptionsStart(PluginState& state);
void doWritePrepare(PluginState& state);
void doWriteStart(PluginState& state);

// Runs the handler of `selector`; formatBadParameters for any other number.
void dispatchSelector(int16_t selector, PluginState& state);

}  // namespace nebulite
