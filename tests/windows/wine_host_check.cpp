// Run under wine by scripts/windows_checks.sh: the 64-bit module as the
// editor meets it. The module is found in the given folder through its PiPL
// (the resource, read without running the module) and entered where the
// property for this host's own architecture says; the about box must be
// owned by the window the host put in the AboutRecord's platform data.
//
//   wine_host_check.exe FOLDER
//
// Prints one line per check; the exit status is the number that failed.
#include <cstdio>
#include <string>

#include "host/host.h"
#include "host/pipl.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++failures;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace nebulite::host;
    if (argc != 2) {
        std::fprintf(stderr, "usage: wine_host_check FOLDER\n");
        return 2;
    }
    auto found = findFitsModule(argv[1]);
    check(found.has_value(), "a module in the folder claims FITS through its PiPL");
    if (!found) return failures;
    check(found->info.entryPoint == "ENTRYPOINT",
          "its PiPL names ENTRYPOINT under this host's code property '" +
              fourCharCode(kOwnCodeProperty) + "'");
    std::string error;
    auto module = Module::load(found->path, &error, found->info.entryPoint.value_or(""));
    check(module != nullptr, "the module loads and has that entry (" + error + ")");
    if (!module) return failures;

    Host host(module->entry());
    Outcome about = host.about();
    check(about.ok(), "the about selector answers noErr");
    check(about.messages.size() == 1, "the about selector shows one message box");
    if (!about.messages.empty()) {
        const MessageBox& box = about.messages.front();
        check(box.owner == kFakeWindow, "the about box is owned by the host's window");
        check(box.text.rfind("Nebulite\n", 0) == 0, "the about box shows the about text");
    }
    check(about.violations.empty(), "the host saw no protocol violation");
    return failures;
}
