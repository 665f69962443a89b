// Which documents the editor's Save As offers a format module for, decided
// from its PiPL as the editor decides: the enable condition ('enbl') when
// the module has one, else the mode flags ('mode'). The flags hold one bit
// for each of the first sixteen modes only, so a 32-bit document (Gray32,
// RGB96) is offered a format only when its enable condition names it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/pipl.h"

namespace nebulite::host {

// The modes an enable condition admits, as the editor's expression parser
// reads the two forms format modules use: "true" (every mode) and
// `in (PSHOP_ImageMode, M, ...)` (the words M).
struct EnabledModes {
    bool every = false;
    std::vector<std::string> named;
};
// Null for any other form, which this host does not evaluate.
std::optional<EnabledModes> enabledModes(std::string_view condition);

// A document's mode as the enable condition names it: GrayScaleMode,
// Gray16Mode or Gray32Mode, RGBMode, RGB48Mode or RGB96Mode, and the other
// modes at 8 and 16 bits ("" for a mode and depth the editor has not).
std::string enableModeName(int16_t mode, int16_t depth);

// Whether Save As offers the module for a document of `enableMode` (a name
// as enableModeName gives it).
bool offersSaveAs(const PluginInfo& info, std::string_view enableMode);

}  // namespace nebulite::host
