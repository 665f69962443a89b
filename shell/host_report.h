// Telling the user why an operation stops, through the host where it can.
#pragma once

#include <string_view>

#include "shell/plugin_state.h"

namespace nebulite {

// Ends the operation with `text` for the user, unless an error came first.
// A host that offers an error string shows (or, playing an action without
// dialogs, logs) the text itself: it is written there and the answer is
// errReportString; the text is written to follow the host's own words, in
// lower case. A host without one gets the module's own message box (the
// text capitalised), and userCanceledErr. Texts past 255 characters are cut.
void refuseThroughHost(PluginState& state, std::string_view text);

}  // namespace nebulite
