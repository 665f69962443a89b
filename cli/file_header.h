// The header `nebulite info` shows, read from the file itself: the module
// gives a host no view of the header it holds until the samples are read,
// so the tool reads the file's headers and, for an image in an extension,
// merges them by the module's own merge plan (header/merge_plan.h); the
// identification card goes where the reader puts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nebulite::cli {

// The header the document keeps, and which HDU of the file the image is:
// the primary's own, or, after a primary without data, the first image
// extension's merged with the primary's descriptive cards.
struct ImageHeader {
    int hdu = 0;
    std::string extname;
    std::string compression = "none";  // how the file stores its FITS bytes: none, gzip, or the tile
                                       // algorithm (ZCMPTYPE) of a tile-compressed image
    std::string tiling;                // a tile-compressed image's tiles, e.g. "8192x1"
    std::string quantization;          // and how its floats were quantized ("none" when lossless)
    std::vector<std::string> cards;  // 80 columns each, up to and including END
};

std::optional<ImageHeader> imageHeader(const std::string& path);

// One HDU of a file as `nebulite info` lists it.
struct HduListing {
    int index = 0;
    // "primary", "IMAGE", "BINTABLE", "TABLE", "compressed image" (a
    // BINTABLE with ZIMAGE = T whose table header reads), or XTENSION's
    // value for any other extension.
    std::string type;
    std::string extname;     // empty without EXTNAME
    int64_t extver = 1;      // 1 without EXTVER, as the convention has it
    int64_t bitpix = 0;      // a compressed image's own: ZBITPIX
    std::vector<int64_t> axes;  // NAXIS1, NAXIS2, ...; a compressed image's ZNAXISn
    std::string compression;    // a compressed image's ZCMPTYPE, else empty
};

struct HduList {
    std::vector<HduListing> hdus;
    // Empty when every HDU was listed up to the file's end; else why the
    // listing stopped (a header cut short, a data unit whose size cannot
    // be told, bytes that start no header).
    std::string incomplete;
};

// Every HDU of the file, read with the module's header reader (a gzip file
// through zlib, as the module reads it).
HduList listHdus(const std::string& path);

// A card as text for a terminal: control characters made visible, the
// rest in the module's code page (Windows-1252) shown as UTF-8.
std::string printableCard(const std::string& card);

}  // namespace nebulite::cli
