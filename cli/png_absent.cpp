// PNG in a build without libpng (the Windows build): a clear refusal
// instead of a missing symbol, so the PNM paths of the CLI still work.
#include "cli/png.h"

namespace nebulite::cli {

std::vector<uint8_t> encodePng(const Document&) {
    throw ImageError(formatBadParameters, "this build of nebulite writes PNM only, not PNG");
}

Document decodePng(std::span<const uint8_t>) {
    throw ImageError(formatCannotRead, "this build of nebulite reads PNM only, not PNG");
}

Document loadPng(const std::string&) { return decodePng({}); }

void savePng(const Document& document, const std::string&) { encodePng(document); }

}  // namespace nebulite::cli
