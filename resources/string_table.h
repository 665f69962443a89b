// The module's string table, as LoadStringA finds it on systems without
// Windows resources.
#pragma once

// The text of string `id`, or null when the table has no such entry.
const char* nebuliteStringResource(unsigned id);
