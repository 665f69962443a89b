// How a document was opened, where a save finds it: the options the open
// used (the orientation it turned the rows to) and, for a 32-bit document,
// the power of two its values were taken by. One document resource of the
// module's own type, beside the header's; kept only when a save needs it
// (rows turned over, a 32-bit document, a stretch or a demosaic the saved
// header tells of), so a plain open's document is what it always was.
#pragma once

#include <cstdint>
#include <optional>

#include "options/open_options.h"
#include "options/resolve_open.h"
#include "shell/host_services.h"
#include "shell/plugin_state.h"

namespace nebulite {

constexpr ResType kOpenRecordResourceType = makeResType('N', 'b', 'O', 'p');

struct OpenRecord {
    options::OpenOptions used;
    bool flipped = false;        // the file's first row is the document's last
    int32_t floatExponent = 0;   // a 32-bit document: value = physical x 2^-exponent
    bool floats = false;         // the document opened at 32 bits
};

// Adds the record of `resolved` (and the exponent of a 32-bit document) when
// a save will need it. Leaves `result` alone: a document without it saves
// as a new one would.
void addOpenRecord(PluginState& state, const options::ResolvedOpen& resolved, int32_t floatExponent);

// The record of the document being saved, if it has one this version reads.
std::optional<OpenRecord> readOpenRecord(PluginState& state);

}  // namespace nebulite
