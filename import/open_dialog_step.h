// The open dialog's place in a read: after the options are read and the
// primary header is known, before the image is chosen. It shows when the
// host asks for dialogs and the file leaves a choice (or the options given
// cannot be honoured and the host lets the module ask), never for a
// preview, a revert or a silent script.
#pragma once

#include "import/read_operation.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Shows the dialog when it should show, and takes the user's options into
// read.asked. False when the read ends: the user cancelled
// (userCanceledErr), or `result` says why.
bool askOpenChoices(PluginState& state, ReadOperation& read, int64_t primaryEnd);

}  // namespace nebulite
