// How a host on a POSIX system stands in for the parts of Windows the module
// talks to directly: message boxes, the HFILE calls and, for tests, failing
// allocations.
//
// The module's Win32 stand-in looks the hooks up by name in the process that
// loaded it (dlsym of `nebuliteHostHooks`), so a host installs them just by
// defining and exporting that function. Without them message boxes go to
// stderr and answer OK, files are plain file descriptors and nothing fails on
// purpose. On Windows none of this exists: the system does the real thing.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// What an allocation is for, so that a test can fail exactly one kind.
enum NebuliteAllocKind : int {
    nebuliteAllocGlobal = 0,      // GlobalAlloc (module handles, the plug-in state)
    nebuliteAllocCardBuffer = 1,  // the header text
    nebuliteAllocRowBlock = 2,    // a file row being read, the blocks being written
    nebuliteAllocSampleStore = 3, // the converted samples of a wide image
    nebuliteAllocOther = 4,
    nebuliteAllocOperation = 5,   // the state of one read or one write
};

struct NebuliteHostHooks {
    int version;  // nebuliteHostHooksVersion

    // MessageBoxA. Returns the button pressed.
    int (*messageBox)(void* owner, const char* text, const char* caption, unsigned type);

    // The HFILE calls. Each returns false when the handle is not one the
    // host serves itself; the module then uses the descriptor directly.
    bool (*fileRead)(int file, void* buffer, unsigned count, unsigned* moved);
    bool (*fileWrite)(int file, const void* buffer, unsigned count, unsigned* moved);
    // 64-bit offsets and positions; a position of -1 is a failed seek.
    bool (*fileSeek)(int file, int64_t offset, int origin, int64_t* position);

    // Answers true when the allocation should fail.
    bool (*failAllocation)(int kind, size_t bytes);
};

// 2: fileSeek takes and gives 64-bit positions.
constexpr int nebuliteHostHooksVersion = 2;

using NebuliteHostHooksProc = const NebuliteHostHooks* (*)(void);

}  // extern "C"
