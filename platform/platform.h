// What the module asks of the platform beyond the Win32 calls in win32.h.
#pragma once

#include <cstddef>

#if defined(_WIN32)
// Nothing fails on purpose in a real host.
inline bool nebulitePlatformAllocationFails(int, size_t) { return false; }
#else
// True when the host that loaded the module wants this allocation to fail
// (tests of the module's behaviour under memory pressure).
bool nebulitePlatformAllocationFails(int kind, size_t bytes);
#endif
