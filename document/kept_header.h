// The header's journey through the document: stored when a file is opened,
// rebuilt into the header text when the document is saved.
#pragma once

#include "header/card_buffer.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Stores the header text in the new document: first the whole header in
// one record, then the 'hist' records older versions read. The read never
// fails here; a header the document has no room for is left out, and the
// user is told when not even the whole-header record could be kept.
void storeHeaderCards(PluginState& state, const CardBuffer& header);

enum class RebuiltHeader {
    fromHistory,  // from the 'hist' records (or none): cards may be cut short
    whole,        // from the whole-header record: every card as it was read
    noRoom,       // the header text could not be given the room it needs
};

// Fills the header text from the document. The whole-header record is
// taken when the document has one this version reads and its 'hist'
// records are the ones that header gives (another program may have
// changed those, and they then win); the 'hist' records otherwise.
RebuiltHeader rebuildHeaderFromResources(PluginState& state, CardBuffer& header);

}  // namespace nebulite
