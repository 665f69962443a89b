// Opening a FITS file, first half: the primary header (and, after a primary
// without data, the image extension) and what the host is told about the
// image.
#pragma once

#include <cstdint>

#include "import/read_operation.h"
#include "platform/host_sdk.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Sets the read's fileLength to the length of the FITS bytes (see
// InputStream::length); 0 when it cannot be known.
void lookUpFileLength(PluginState& state, ReadOperation& read);

// Why a FITS file cannot be shown, as the user is told it; null when it can.
// Reads the size keywords the read gathered; the text lives in the read's
// refusal buffer.
const char* unsupportedReason(const FormatRecord& record, ReadOperation& read);

}  // namespace nebulite
