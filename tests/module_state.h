// What the module keeps in the cell the host keeps for it, for tests and
// fuzz targets that link the module and check its own bookkeeping. A host
// never looks there (the reference host does not): what it learns, it
// learns from the record and the document.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

#include "host/host.h"
#include "shell/plugin_state.h"

namespace module_state {

inline const nebulite::PluginState* stateIn(const nebulite::host::Host& host) {
    if (host.cell() == 0) return nullptr;
    auto handle = reinterpret_cast<Handle>(host.cell());
    if (*handle == nullptr) return nullptr;
    return reinterpret_cast<const nebulite::PluginState*>(*handle);
}

// The header length of the last file read or written.
inline std::optional<uint32_t> peekHeaderLength(const nebulite::host::Host& host) {
    const nebulite::PluginState* state = stateIn(host);
    if (state == nullptr) return std::nullopt;
    return state->headerLength;
}

}  // namespace module_state
