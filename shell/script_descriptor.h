// The scripting descriptor the host plays an operation with, and the one the
// module hands back for the action to record: the host's read and write
// descriptor suites around the options library's descriptor face
// (options/descriptor_apply.h), and whether the user may be asked.
#pragma once

#include <cstdint>
#include <span>

#include "options/descriptor_apply.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Called with every (key, value) the descriptor holds, in its order; an
// empty message when taken, else why the value cannot be.
using ApplyDescriptorKey = options::Message (*)(void* context, options::FourCharCode key,
                                                const options::DescriptorValue& value);

// The most keys a face asks the host for.
inline constexpr size_t kMaxWantedKeys = 32;

// Reads the descriptor the host offers (if its suites are usable), handing
// every key of a type the options know to `apply`, and gives the handle
// back. `wanted`: the keys, ended by 0 (at most kMaxWantedKeys). A get routine's failure lands in
// `result`, and so does closing's (errMissingParameter excepted: a key of
// `wanted` the action lacks is no fault). The first refusal of `apply` is
// kept in `refusal`; the caller decides what a refused value means.
void readScriptDescriptor(PluginState& state, const options::FourCharCode* wanted, ApplyDescriptorKey apply,
                          void* context, options::Message& refusal);

// Hands the host a new descriptor holding `entries`, for the action it
// records (the suites unusable: nothing). Answers the host's failure; the
// caller decides whether an unrecorded action fails its operation.
OSErr writeScriptDescriptor(PluginState& state, std::span<const options::DescriptorEntry> entries);

// Whether this operation may show the user a dialog: the host's play mode,
// and never for a preview or a revert.
enum class DialogPolicy : uint8_t {
    show,      // plugInDialogDisplay: show it (when there is a choice to make)
    ifNeeded,  // plugInDialogDontDisplay: only when the given options cannot be honoured
    never,     // plugInDialogSilent, a preview, a revert, no descriptor suites
};
DialogPolicy dialogPolicy(const PluginState& state, bool reverting);

}  // namespace nebulite
