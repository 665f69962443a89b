// PNG files through libpng: grey or RGB, 8 or 16 bits, plus the document's
// 'hist' records in private "hiST" chunks, one per record, and its
// whole-header record in a private "nbHD" chunk. png_absent.cpp
// stands in where libpng is not there (the Windows build).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "cli/image_files.h"

namespace nebulite::cli {

// The chunk that carries the 'hist' records: ancillary, private, reserved
// bit clear, unsafe to copy (an editor that changes the pixels should not
// carry a FITS header it does not understand).
inline constexpr char kHistoryChunk[5] = "hiST";
// The chunk that carries the whole-header record, the same kind of chunk.
inline constexpr char kWholeHeaderChunk[5] = "nbHD";

// Grey or RGB, 8 or 16 bits, plus the 'hist' records.
std::vector<uint8_t> encodePng(const Document& document);
// Any PNG: palettes become RGB, low bit depths 8 bits, alpha is dropped.
Document decodePng(std::span<const uint8_t> bytes);

}  // namespace nebulite::cli
