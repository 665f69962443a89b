// The header a document keeps for an image read from an extension: one
// header that a save writes back as a single conforming primary HDU.
#pragma once

#include <cstdint>

#include "import/extensions.h"
#include "shell/plugin_state.h"

namespace nebulite {

// The extension's cards that a primary header carries too: all but
// XTENSION, PCOUNT and GCOUNT.
bool keptFromExtension(const char* card);
// The primary's cards that describe the observation, not its own empty data
// unit: all but SIMPLE, BITPIX, NAXIS, NAXISn, EXTEND, GROUPS, PCOUNT,
// GCOUNT, BZERO, BSCALE, BLANK and END.
bool keptFromPrimary(const char* card);

enum class MergeResult { merged, tooLong, noMemory };

// Replaces the header text, whose first `primaryCards` cards are the
// primary's own cards before its END, by: SIMPLE = T, the extension's kept
// cards, the primary's kept cards, END, blank cards to the end of the block,
// with the identification card in front of END as a read puts it there.
// Sets headerLength and the block count to that header.
MergeResult mergeExtensionHeader(PluginState& state, uint32_t primaryCards, const HeaderCards& extension);

}  // namespace nebulite
