// The module's own heap blocks (header text, row blocks, sample stores).
// Allocation never throws; a null answer is the caller's memFullErr.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "platform/host_hooks.h"
#include "platform/platform.h"

namespace nebulite {

inline void* moduleAllocate(NebuliteAllocKind kind, size_t bytes) {
    if (nebulitePlatformAllocationFails(kind, bytes)) return nullptr;
    return nebulitePlatformHeapAllocate(bytes == 0 ? 1 : bytes);
}

inline void moduleFree(void* block) { std::free(block); }

}  // namespace nebulite
