// TIFF in a build without libtiff (the Windows build): a clear refusal
// instead of a missing symbol.
#include "cli/tiff.h"

namespace nebulite::cli {

void saveTiff(const Document&, const std::string&) {
    throw ImageError(formatBadParameters, "this build of nebulite does not write TIFF");
}

Document loadTiff(const std::string&) {
    throw ImageError(formatCannotRead, "this build of nebulite does not read TIFF");
}

}  // namespace nebulite::cli
