// The header a document keeps for an image read from an extension: one
// header that a save writes back as a single conforming primary HDU, made
// by the merge plan (header/merge_plan.h).
#pragma once

#include <cstdint>

#include "import/extensions.h"
#include "import/read_operation.h"
#include "shell/plugin_state.h"

namespace nebulite {

enum class MergeResult { merged, tooLong, noMemory };

// Replaces the header text, whose first `primaryCards` cards are the
// primary's own cards before its END, by the merge plan's cards, END, blank
// cards to the end of the block, with the identification card in front of
// END as a read puts it there. Sets headerLength and the block count to
// that header.
MergeResult mergeExtensionHeader(PluginState& state, ReadOperation& read, uint32_t primaryCards,
                                 const HeaderCards& extension);

}  // namespace nebulite
