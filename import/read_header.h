// Opening a FITS file, first half: the primary header and what the host is
// told about the image.
#pragma once

#include <cstdint>

#include "platform/host_sdk.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Sets session.fileLength to the length of the FITS bytes (see inputLength);
// 0 when it cannot be known.
void lookUpFileLength(PluginState& state);

// Why a FITS file cannot be shown, as the user is told it; null when it can.
// Reads the size keywords gathered in the session. The text lives in a
// fixed buffer until the next refusal text is made.
const char* unsupportedReason(const FormatRecord& record);

}  // namespace nebulite
