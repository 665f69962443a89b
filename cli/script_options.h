// The CLI's open and save options as the scripting descriptor an action
// plays: flags applied one at a time through the options library's CLI
// face (options/cli_flags.h), then turned into the descriptor's items by
// its descriptor face (options/descriptor_apply.h), exactly the keys and
// values the module writes back for the same options.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/option_descriptors.h"
#include "host/descriptor.h"
#include "host/document.h"
#include "options/open_options.h"
#include "options/save_options.h"

namespace nebulite::cli {

// The open flags `nebulite open` takes with a value (all of the options
// library's but --stretch, whose value may be left out), and the save flags
// `nebulite save` and `convert` take.
const std::vector<std::string_view>& openOptionFlags();
const std::vector<std::string_view>& saveOptionFlags();

// --stretch's values, the options library's words (range, linear, sqrt,
// log, asinh, mtf), and the one `--stretch` alone stands for.
const std::vector<std::string_view>& stretchWords();
inline constexpr std::string_view kDefaultStretch = "asinh";

// The options the flags give (the open flags and --stretch), applied in
// order (the last of a kind wins); a refused flag is a usage error of
// `command` (exit 2).
options::OpenOptions openOptionsFrom(const std::vector<std::pair<std::string, std::string>>& flags,
                                     std::string_view command);
options::SaveOptions saveOptionsFrom(const std::vector<std::pair<std::string, std::string>>& flags,
                                     std::string_view command);

// Whether the module saves `document` with the options `asked` as
// floating-point samples: the option model's BITPIX rule (a 32-bit
// document goes back to the BITPIX its kept header has, unless -32 is
// asked for), measured against the document the CLI holds.
bool savesFloatingPoint(const host::Document& document, const options::SaveOptions& asked);

// A `.fz` output name asks for tile compression: RICE_1 for integer
// samples, GZIP_2 for floating-point ones (fpack's defaults), unless
// --compress said otherwise. Nothing for other names.
std::optional<options::Compression> compressionForName(const std::string& path, bool floatingPoint);

}  // namespace nebulite::cli
