// The cards of a 32-bit document's header that only its data can fill: the
// range keywords (DATAMIN, DATAMAX and their relatives) set to the range of
// the values written, and a HISTORY card counting the values an integer
// BITPIX could not hold. The header goes out first with those cards in
// place; once the data is written they are written over where they stand.
#pragma once

#include "export/write_operation.h"
#include "header/card_buffer.h"
#include "shell/plugin_state.h"

namespace nebulite {

// The kept header's BLANK, for undefined values of an integer BITPIX it
// keeps; none otherwise.
BlankRule blankRuleOf(const CardBuffer& header, const SavePlan& plan);

// Writes the range cards and the HISTORY card over their places in the file.
void completeFloatHeader(PluginState& state, WriteOperation& write);

// The same cards put into the header's text, for a header not yet written
// (a compressed save writes it after the data).
void completeFloatHeaderText(WriteOperation& write, uint32_t headerLength);

}  // namespace nebulite
