// A minimal one-block header for an image that carries none.
#pragma once

#include "shell/plugin_state.h"

namespace nebulite {

void synthesizeHeader(PluginState& state);

}  // namespace nebulite
