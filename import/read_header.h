// Opening a FITS file, first half: the primary header and what the host is
// told about the image.
#pragma once

#include <cstdint>
#include <string>

#include "shell/plugin_state.h"

namespace nebulite {

// Sets session.fileLength from the path in the host's FSSpec record;
// 0 when the file cannot be opened by that path.
void lookUpFileLength(PluginState& state);

// Why a FITS file cannot be shown, as the user is told it; empty when it can.
// Reads the size keywords gathered in the session.
std::string unsupportedReason();

}  // namespace nebulite
