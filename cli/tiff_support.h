// What the TIFF reader and writer share: opening a file with libtiff's
// messages collected for the one-line error instead of printed, and the
// header tag made known to libtiff.
#pragma once

#include <tiffio.h>

#include <memory>
#include <string>

namespace nebulite::cli::tiff_support {

// libtiff's last error message for one open file.
struct Messages {
    std::string lastError;
};

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// The file opened for reading ("r") or made anew ("w"), with the header
// tag registered and libtiff's errors into `messages`; warnings (unknown
// tags and the like) are dropped. A file the system cannot open is an
// ImageError with readErr or writErr, as for the other formats; one that
// libtiff cannot take is null, with its reason in `messages`.
TiffPtr openTiff(const std::string& path, const char* mode, Messages& messages);

// "<what>: <libtiff's message>", or `what` alone when libtiff said nothing.
std::string withLibtiffMessage(const std::string& what, const Messages& messages);

}  // namespace nebulite::cli::tiff_support
