// The string table the module loads with LoadStringA where there are no
// Windows resources. The texts are the module's own and must match the
// Windows resource script.
#include "resources/string_table.h"

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {16000,
     "Nebulite\n"
     "\n"
     "Version 1.0.0\n"
     "Copyright \xA9 2026 the Nebulite developers.\n"
     "All rights reserved.\n"
     "\n"
     "FITS format plug-in for Adobe Photoshop\xAE 5.0 and later on the PC."},
    {16001, ""},
    {16992, "This plug-in requires Adobe Photoshop\xAE ^1 or later functionality."},
    {16993, "This plug-in is incompatible with this version of the host program."},
};

}  // namespace

const char* nebuliteStringResource(unsigned id) {
    for (const StringEntry& entry : kStrings)
        if (entry.id == id) return entry.text;
    return nullptr;
}
