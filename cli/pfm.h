// PFM files, netpbm's Portable Float Map: the 32-bit documents' plain form,
// their floats exactly. 'Pf' for one plane, 'PF' for three, interleaved;
// 4-byte IEEE samples, rows from the bottom of the image to its top. The
// third header line is a scale whose sign gives the byte order (negative:
// little-endian) and whose magnitude names a unit the samples are counted
// in: the samples are read as they are, whatever the unit.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cli/image_files.h"

namespace nebulite::cli {

// 'Pf' or 'PF', little-endian (scale -1), from a 32-bit grey or RGB image.
std::vector<uint8_t> encodePfm(const Image& image);
// Either byte order; a 32-bit image.
Image decodePfm(std::span<const uint8_t> bytes);

// The same through a file, a chunk of rows at a time. A PFM file carries no
// FITS header: the document is its image alone.
Document loadPfm(const std::string& path);
void savePfm(const Document& document, const std::string& path);

}  // namespace nebulite::cli
