// Binary PNM files: P5 (PGM) for one plane, P6 (PPM) for three. Written
// with maxval 255 or 32768, the host's samples as they are; read with any
// maxval up to 65535.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cli/image_files.h"

namespace nebulite::cli {

// P5 or P6, maxval 255 or 32768.
std::vector<uint8_t> encodePnm(const Image& image);
// P5 or P6 with any maxval 1..65535: 8-bit when maxval <= 255 (scaled to
// 0..255), else 16-bit (scaled to 0..32768).
Image decodePnm(std::span<const uint8_t> bytes);

// The same through a file, a chunk of rows at a time. A PNM file carries
// no FITS header: the document is its image alone, and only the image of
// a document is written.
Document loadPnm(const std::string& path);
// P5 or P6 as the image is grey or RGB.
void savePnm(const Document& document, const std::string& path);
// P5 only, refusing a colour image; P6 only, refusing a grey one: the file
// name promised the one kind.
void savePgm(const Document& document, const std::string& path);
void savePpm(const Document& document, const std::string& path);

}  // namespace nebulite::cli
