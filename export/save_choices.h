// How a save was asked to write its file: the save options from the
// scripting descriptor the host plays OptionsStart with (and WriteStart,
// when the host ran no options step), kept in the plug-in state until the
// save's WriteFinish, and the options used handed back for the action.
#pragma once

#include <string_view>

#include "options/resolve_save.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Ends the step with `why` for the user, after "this image cannot be saved
// as asked: ", through the host where it can (shell/host_report.h).
void refuseSaveAsAsked(PluginState& state, std::string_view why);

// What the save options are measured against: the document in the host's
// record and what it kept.
options::SaveFacts saveFactsOf(PluginState& state);

// Reads the save descriptor into state.saveOptions, when the host offers
// one; true when it did. A value the options cannot take, or options the
// document cannot be saved with, are told to the user and end the step
// with userCanceledErr.
bool readSaveChoices(PluginState& state);

// The save's options, resolved, into the descriptor for the action.
void recordSaveChoices(PluginState& state);

}  // namespace nebulite
