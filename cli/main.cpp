// nebulite: the reference host as a command-line tool.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/support.h"

namespace {

using namespace nebulite::cli;

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: nebulite [--module PATH] COMMAND [ARGS]\n\n"
                 "Drives the Nebulite FITS format module the way the image editor does.\n\n"
                 "commands:\n");
    for (const Command& c : commands())
        std::fprintf(out, "  %-9.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                     static_cast<int>(c.summary.size()), c.summary.data());
    std::fprintf(out,
                 "\noptions:\n"
                 "  --module PATH   the module to load (default: the module next to nebulite\n"
                 "                  whose PiPL claims FITS files; see nebulite modules)\n"
                 "  --help          this text; `nebulite COMMAND --help` for a command\n"
                 "  --version       the version, and the module nebulite loads\n");
}

int run(int argc, char** argv) {
    Context context;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--module") {
            if (i + 1 >= argc) usageError("--module needs a path", "");
            context.modulePath = argv[++i];
        } else if (a.rfind("--module=", 0) == 0) {
            context.modulePath = a.substr(9);
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) {
        printUsage(stderr);
        return 2;
    }
    if (rest[0] == "--help" || rest[0] == "-h" || rest[0] == "help") {
        printUsage(stdout);
        return 0;
    }
    if (rest[0] == "--version") {
        if (rest.size() > 1) usageError("--version takes no arguments", "");
        return printVersion(context);
    }
    const Command* command = findCommand(rest[0]);
    if (command == nullptr) usageError("unknown command " + rest[0], "");
    Args args(rest.begin() + 1, rest.end());
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::printf("%.*s", static_cast<int>(command->help.size()), command->help.data());
            return 0;
        }
    }
    return command->run(context, args);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%s\n", failureLine(failure.what(), failure.code()).c_str());
        return failure.exitCode();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s\n", failureLine("out of memory", memFullErr).c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", failureLine(e.what(), formatBadParameters).c_str());
        return 1;
    }
}
