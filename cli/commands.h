// The CLI's commands, one table.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/support.h"

namespace nebulite::cli {

struct Command {
    std::string_view name;
    std::string_view summary;  // one line for `nebulite --help`
    std::string_view help;     // the whole text of `nebulite <name> --help`
    int (*run)(Context& context, const Args& args);
};

std::span<const Command> commands();
const Command* findCommand(std::string_view name);

// `nebulite --version`: the CLI's version, then the module it loads and
// what that module's PiPL says it is.
int printVersion(Context& context);

}  // namespace nebulite::cli
