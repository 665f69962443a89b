// Which image of the file the read opens: the primary's, or, past it, the
// extension the options name (by number or EXTNAME) or the first image
// extension after a primary without data, as every open took before there
// were options. A compressed image's table is described to its row source,
// and an extension's header is merged into the one the document keeps.
#pragma once

#include <cstdint>

#include "import/read_operation.h"
#include "options/file_facts.h"
#include "shell/plugin_state.h"

namespace nebulite {

struct ChosenImage {
    uint32_t hdu = 0;          // 0 the primary
    options::HduFacts facts;   // what the options are measured against
    int64_t dataStart = 0;     // the first byte of its data unit
};

// With the primary header read (its `primaryCards` cards before END, its
// data unit ending at read.filePos), finds the image asked for. True when
// the read goes on: with the image's header in read.header and read.keys,
// or, when the file has no image to take automatically, with the primary's,
// which the caller refuses in its own words. False when the read ends: the
// user was told why, or `result` says.
bool chooseImage(PluginState& state, ReadOperation& read, uint32_t primaryCards, ChosenImage& chosen);

}  // namespace nebulite
