// `nebulite modules`: the modules a folder holds, as the host sees them from
// their property lists, and how the CLI picks its module without --module.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"

namespace nebulite::cli {

inline constexpr std::string_view kModulesSummary = "list the modules in a folder and what their PiPLs say";
// NEBULITE_MODULE_DIR: where an install puts the module, relative to the
// executable's folder (set by the build).
inline constexpr std::string_view kModulesHelp =
    "usage: nebulite modules [DIR]\n\n"
    "Reads the property list (PiPL) of every module in DIR from the file,\n"
    "without running any of the module, and prints it decoded: kind, name,\n"
    "version, entry point, terminology, modes, file type, read and write\n"
    "extensions, format flags, the largest image and the channel limits.\n"
    "Modules are *.so files with a .pipl section (*.8bi files with a PIPL\n"
    "resource on Windows).\n\n"
    "Without DIR, the folders nebulite looks in: its own, then\n"
    NEBULITE_MODULE_DIR " beside it (where an install puts the module).\n"
    "Without --module, the other commands use the first module there whose\n"
    "PiPL makes it a format module ('8BIF') that reads FITS files, and call\n"
    "the entry point its PiPL names.\n"
    "Exit status 1 when no module is found.\n";

int runModules(Context& context, const Args& args);

// The folder the running executable is in.
std::string executableDirectory();

// Where the CLI looks for its module, in order: its own folder (the build
// folder, or a Windows install), then the folder an install puts the module
// in, relative to the executable so that an installed tree can move.
std::vector<std::string> moduleFolders();

}  // namespace nebulite::cli
