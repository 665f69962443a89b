// The 'hist' records: one document resource per header card, the form
// every earlier version of the module kept the header in and still the one
// older versions read back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "header/card_buffer.h"
#include "shell/plugin_state.h"

namespace nebulite {

// The largest record a card gives: its first character's code.
constexpr size_t kMaxHistoryRecordBytes = 255;

// The record the store makes of an 80-byte card: the card taken as a
// Pascal string whose length byte is its own first character. Writes the
// record's bytes to `out` and answers their count.
size_t historyRecordOf(const char* card, uint8_t (&out)[kMaxHistoryRecordBytes]);

// Adds a 'hist' record for every card of the `cards` cards from `text`. When
// one cannot be added, the records added here are withdrawn again (a header
// with a card missing would come back shifted) and the failure is answered;
// noErr otherwise, and when the host has no resource suite.
OSErr addHistoryRecords(PluginState& state, const char* text, uint32_t cards);

// Whether every 'hist' record of the document is the record card i of
// `cards` cards from `text` gives (blank cards beyond them).
bool historyAgrees(PluginState& state, const char* text, uint32_t cards);

// The document's 'hist' records become the header text again. False when
// the header text cannot be given the room its records need.
bool rebuildFromHistory(PluginState& state, CardBuffer& header);

}  // namespace nebulite
