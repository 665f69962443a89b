// The CLI's commands, one table.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/support.h"

namespace nebulite::cli {

using Args = std::vector<std::string>;  // the command's own arguments, --module removed

struct Command {
    std::string_view name;
    std::string_view summary;  // one line for `nebulite --help`
    std::string_view help;     // the whole text of `nebulite <name> --help`
    int (*run)(Context& context, const Args& args);
};

std::span<const Command> commands();
const Command* findCommand(std::string_view name);

}  // namespace nebulite::cli
