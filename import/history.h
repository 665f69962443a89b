// The header's journey through the document: one 'hist' resource per card,
// made when a file is opened, turned back into cards when it is saved.
#pragma once

#include "shell/plugin_state.h"

namespace nebulite {

// Every card of the header becomes a 'hist' record of the new document.
void storeHeaderCards(PluginState& state);
// The document's 'hist' records become the header text again. False when
// the header text cannot be given the room its records need.
bool rebuildHeaderFromResources(PluginState& state);

}  // namespace nebulite
