// How a read was asked to open its file, and what it tells the host it did:
// the options from the scripting descriptor (or, on File > Revert, from the
// revertInfo the read left), and, once the file is open, the options
// actually used handed back as the descriptor an action records and kept
// in revertInfo for the next revert.
#pragma once

#include "import/read_operation.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Fills the read's `asked` options (defaults when the host gave none) and
// `reverting`. A value the options cannot take is kept in `refusedValue`.
void readOpenChoices(PluginState& state, ReadOperation& read);

// At the read's end: the resolved options into the descriptor for the
// action and into revertInfo. Failures of the host's suites land in `result`.
void recordOpenChoices(PluginState& state, ReadOperation& read);

}  // namespace nebulite
