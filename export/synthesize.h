// A minimal one-block header for an image that carries none.
#pragma once

#include "export/write_operation.h"
#include "shell/plugin_state.h"

namespace nebulite {

void synthesizeHeader(PluginState& state, WriteOperation& write);

}  // namespace nebulite
