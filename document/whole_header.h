// The whole header in one document resource: every card up to END, 80
// bytes each, exactly as the document keeps it, after a short preamble.
// It stands beside the 'hist' records, which cut most cards short and take
// one of the editor's 1,000 resources per card.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "shell/host_services.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Our own type, apart from 'hist' and from the editor's reserved types.
constexpr ResType kWholeHeaderResourceType = makeResType('N', 'b', 'H', 'd');
static_assert(kWholeHeaderResourceType == 0x4E624864);

// The preamble: the tag "NbHd", the format version (big-endian 16 bits)
// and the number of cards that follow it (big-endian 32 bits). A later
// format takes a new version, so an older module leaves it alone.
constexpr uint8_t kWholeHeaderTag[4] = {'N', 'b', 'H', 'd'};
constexpr uint16_t kWholeHeaderVersion = 1;
constexpr size_t kWholeHeaderPreambleBytes = 10;

void writeWholeHeaderPreamble(uint32_t cards, uint8_t (&out)[kWholeHeaderPreambleBytes]);

struct WholeHeaderCards {
    const char* text = nullptr;  // `count` cards of 80 bytes
    uint32_t count = 0;
};

// The cards of a record this version reads: the tag, version 1, at least
// one card and no more than the longest header a read keeps, and exactly
// that many cards after the preamble. Nothing for anything else.
std::optional<WholeHeaderCards> readWholeHeader(const uint8_t* bytes, size_t size);

// Adds the record of the `cards` cards from `text` to the document. The
// host's error when it cannot be made or added, else noErr.
OSErr addWholeHeaderRecord(PluginState& state, const char* text, uint32_t cards);

}  // namespace nebulite
