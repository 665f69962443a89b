// Why a file does not open, as the user is told it. The texts are built in
// the read's own fixed buffer: nothing allocates or throws on the way.
#pragma once

#include <cstdint>
#include <string_view>

#include "import/read_operation.h"
#include "shell/plugin_state.h"

namespace nebulite {

// "Fits Files <what> are not supported".
const char* notSupported(ReadOperation& read, const char* what);
// "Fits Files with NAXIS = 1 are not supported": `what` ends before the value.
const char* notSupported(ReadOperation& read, const char* what, int64_t value);
const char* headerTooLong(ReadOperation& read);
// A compressed image's table that does not add up, `why` naming the fault.
const char* unusableTable(ReadOperation& read, const char* why);

// Tells the user why and ends the read with userCanceledErr (the user has
// been told). A gzip file is first read to its end: cards that damaged data
// inflated to are no grounds for telling the user what the file holds, the
// damage is what they hear of.
void refuse(PluginState& state, ReadOperation& read, const char* message);

// A choice of the options the file cannot honour (`why`, as the options word
// it): the host tells the user, as it tells of any step of an action that
// failed; a host that cannot gets the message box.
void refuseAsAsked(PluginState& state, ReadOperation& read, std::string_view why);

}  // namespace nebulite
