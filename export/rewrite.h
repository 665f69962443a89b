// Bringing a kept header up to date for the image being saved.
#pragma once

#include "export/write_operation.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Rewrites the size, depth, axis, scaling and range cards of the header text
// for the image in the host's record (export/rewrite_rules.h), then gives
// the header the END, NAXIS3 and BZERO cards it lacks. `mendCutStrings`
// when the header came from records that cut cards short. False when the
// header text needed to grow for a card and could not.
bool rewriteHeader(PluginState& state, WriteOperation& write, bool mendCutStrings);

}  // namespace nebulite
