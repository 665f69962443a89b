// The string table the module loads with LoadStringA where there are no
// Windows resources. The entries are generated from resources/definition.py,
// the same definition the Windows resource script is generated from, so the
// two platforms cannot drift apart.
#include "resources/string_table.h"

namespace {

struct StringEntry {
    unsigned id;
    const char* text;  // code page 1252, as LoadStringA answers on Windows
};

constexpr StringEntry kStrings[] = {
#include "nebulite_strings.inc"
};

}  // namespace

const char* nebuliteStringResource(unsigned id) {
    for (const StringEntry& entry : kStrings)
        if (entry.id == id) return entry.text;
    return nullptr;
}
