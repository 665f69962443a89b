// A tile-compressed save: the document written as fpack writes a .fits.fz
// (an empty primary HDU, then the image as a BINTABLE of tiles) by
// export/tiled's streaming writer, through the host's file. The header the
// uncompressed save would write travels into the table, so that a reader
// restores it card for card; the host's rows go in one at a time and leave
// as compressed tiles a band at a time, so the save holds a band of tiles
// and an output buffer, never the compressed image.
#pragma once

#include <cstdint>
#include <optional>

#include "export/write_operation.h"
#include "options/fixed_text.h"
#include "options/resolve_save.h"
#include "shell/plugin_state.h"

namespace nebulite {

// The working memory a compressed save may hold: a tenth of the host's
// image (the whole save within 1.10x of it), and never less than this, so
// that small images take any tiling a reader can read back.
inline constexpr uint64_t kCompressedSaveFloorBytes = uint64_t{16} << 20;
uint64_t compressedSaveBudget(uint64_t hostImageBytes);

// The save options resolved for the document in the host's record, when
// they ask for tile compression.
std::optional<options::ResolvedSave> compressedSaveOf(PluginState& state);

// Why the document in the host's record cannot be saved as `resolved`
// asks (compressed), in words for the user; empty when it can. Checked
// before the header is made (OptionsStart), with the image's own size cards
// standing for it: the writer's refusals (integers of 64 bits under RICE_1
// or HCOMPRESS_1, floats unquantized under them...), a tiling whose working
// memory passes compressedSaveBudget, and one the module's own reader
// would refuse to open.
options::Message compressedSaveRefusal(PluginState& state, const options::ResolvedSave& resolved);

// The smallest and the largest file the save can write, for EstimateStart;
// nothing when the save will be refused.
struct SizeBounds {
    uint64_t least = 0;
    uint64_t most = 0;
};
std::optional<SizeBounds> compressedSizeBounds(PluginState& state, const options::ResolvedSave& resolved);

// WriteStart's write: `write.header` holds the header the uncompressed save
// would write (state.headerLength bytes), the file stands at its start.
// The host's rows are asked for as for an uncompressed save. A save the
// writer cannot make is refused before the first byte; a write that fails
// is writErr, memory that cannot be had memFullErr, and either leaves a file
// whose first byte is not FITS's (the headers go in last).
void writeCompressedFile(PluginState& state, WriteOperation& write, const options::ResolvedSave& resolved);

}  // namespace nebulite
