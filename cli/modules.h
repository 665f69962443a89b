// `nebulite modules`: the modules a folder holds, as the host sees them from
// their property lists, and how the CLI picks its module without --module.
#pragma once

#include <string>
#include <string_view>

#include "cli/commands.h"

namespace nebulite::cli {

inline constexpr std::string_view kModulesSummary = "list the modules in a folder and what their PiPLs say";
inline constexpr std::string_view kModulesHelp =
    "usage: nebulite modules [DIR]\n\n"
    "Reads the property list (PiPL) of every module in DIR (default: the folder\n"
    "nebulite is in) from the file, without running any of the module, and\n"
    "prints it decoded: kind, name, version, entry point, terminology, modes,\n"
    "file type, read and write extensions, format flags, the largest image and\n"
    "the channel limits. Modules are *.so files with a .pipl section (*.8bi\n"
    "files with a PIPL resource on Windows).\n\n"
    "Without --module, the other commands use the first of these modules\n"
    "whose PiPL makes it a format module ('8BIF') that reads FITS files, and\n"
    "call the entry point its PiPL names.\n"
    "Exit status 1 when DIR holds no module.\n";

int runModules(Context& context, const Args& args);

// The folder the running executable is in.
std::string executableDirectory();

}  // namespace nebulite::cli
