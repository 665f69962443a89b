// Reading, writing and rewinding the file the host has opened (dataFork).
#pragma once

#include <cstdint>

#include "platform/host_sdk.h"
#include "shell/plugin_state.h"

namespace nebulite {

// `file` is the record's dataFork: a Win32 file handle, which the HFILE calls
// take as a 32-bit number (Windows keeps handle values within 32 bits).

// One read of at most 65535 bytes (the count travels as 16 bits); *count
// becomes the number read. readErr when the read fails; a short read is noErr.
OSErr fileRead(intptr_t file, int32_t* count, void* buffer);
// *count becomes the number written; writErr unless all of it was written.
OSErr fileWrite(intptr_t file, int32_t* count, const void* buffer);
// The outcome is not examined: a rewind that fails shows in the next read.
OSErr fileSeek(intptr_t file, int origin, int32_t offset);
// A seek whose outcome matters (back to a place inside the file): readErr
// unless the file now stands exactly `offset` bytes from its start, so a
// file that cannot seek stops the read instead of giving other bytes.
// 64-bit: files past 2 GiB are reached through the handle's own calls.
OSErr fileSeekTo(intptr_t file, int64_t offset);

// Exact transfers under the first-error rule: nothing happens once `result`
// holds an error; a short read is eofErr.
void readExact(PluginState& state, int32_t count, void* buffer);
void writeExact(PluginState& state, int32_t count, const void* buffer);

}  // namespace nebulite
