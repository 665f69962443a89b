// The record the host keeps for the module between calls, and the
// first-error-wins rule every step follows.
#pragma once

#include <cstdint>

#include "options/open_options.h"
#include "options/save_options.h"
#include "platform/host_sdk.h"

namespace nebulite {

class Operation;

struct PluginState {
    FormatRecord* formatRecord;  // this call's parameter block (AboutRecord for About)
    OSErr result;                // this call's result; the first error wins
    uint32_t headerLength;       // header bytes of the last file read or written
    // The read or write in flight for this cell (shell/operation.h): made at
    // the operation's first selector, released at its end. Null between
    // operations.
    Operation* operation;
    // A save's options, from its OptionsStart (descriptor or dialog) to its
    // WriteFinish, which sets them back to the defaults.
    options::SaveOptions saveOptions;
    // The options the last open in this cell chose, which the open dialog
    // offers again.
    options::OpenOptions lastOpen;
    bool lastOpenKept;
};

// True when `code` is noErr. Otherwise keeps `code` unless an earlier error
// is already there, and answers false so the caller stops its step.
inline bool recordError(PluginState& state, OSErr code) {
    if (code == noErr) return true;
    if (state.result == noErr) state.result = code;
    return false;
}

// True when `condition` is false. Otherwise the user has already been told
// by the module's own message: keep userCanceledErr (unless an error came
// first) and answer false.
inline bool recordCancel(PluginState& state, bool condition) {
    if (!condition) return true;
    if (state.result == noErr) state.result = userCanceledErr;
    return false;
}

}  // namespace nebulite
