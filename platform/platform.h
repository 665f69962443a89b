// What the module asks of the platform beyond the Win32 calls in win32.h.
#pragma once

#include <cstddef>
#include <cstdlib>

#if defined(_WIN32)
// Nothing fails on purpose in a real host.
inline bool nebulitePlatformAllocationFails(int, size_t) { return false; }
inline void* nebulitePlatformHeapAllocate(size_t bytes) { return std::malloc(bytes); }
#else
// True when the host that loaded the module wants this allocation to fail
// (tests of the module's behaviour under memory pressure).
bool nebulitePlatformAllocationFails(int kind, size_t bytes);
// Heap memory that std::free releases. Large blocks are aligned for, and
// advised to use, huge pages: first touching fresh memory page by page
// costs more than converting the samples that fill it.
void* nebulitePlatformHeapAllocate(size_t bytes);
#endif
