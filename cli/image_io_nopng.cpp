// PNG in a host build without libpng (the Windows build): a clear refusal
// instead of a missing symbol, so the PNM paths of the CLI still work.
#include "cli/image_io.h"

#if defined(NEBULITE_HOST_WITHOUT_PNG)

namespace nebulite::host {

std::vector<uint8_t> encodePng(const Document&) {
    throw ImageError(formatBadParameters, "this build of the host writes PNM only, not PNG");
}

Document decodePng(std::span<const uint8_t>) {
    throw ImageError(formatCannotRead, "this build of the host reads PNM only, not PNG");
}

}  // namespace nebulite::host

#endif
