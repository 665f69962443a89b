// PNG files through libpng: grey or RGB, 8 or 16 bits, plus the document's
// 'hist' records in private "hiST" chunks, one per record, its
// whole-header record in a private "nbHD" chunk and the record of how the
// module opened it in "nbOP". Built only where libpng
// is (not in the Windows build; image_formats.h says so).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cli/image_files.h"

namespace nebulite::cli {

// The chunk that carries the 'hist' records: ancillary, private, reserved
// bit clear, unsafe to copy (an editor that changes the pixels should not
// carry a FITS header it does not understand).
inline constexpr char kHistoryChunk[5] = "hiST";
// The chunk that carries the whole-header record, the same kind of chunk.
inline constexpr char kWholeHeaderChunk[5] = "nbHD";
// The record of how the module opened the document ('NbOp': its rows turned
// over, its stretch), so that a save writes the rows back the file's way.
inline constexpr char kOpenRecordChunk[5] = "nbOP";
// The chunks above with the document resources they carry, in file order.
inline constexpr std::pair<ResType, const char*> kResourceChunks[] = {
    {host::kWholeHeaderResource, kWholeHeaderChunk},
    {host::kHistoryResource, kHistoryChunk},
    {host::kOpenRecordResource, kOpenRecordChunk},
};

// Grey or RGB, 8 or 16 bits, plus the 'hist' records.
std::vector<uint8_t> encodePng(const Document& document);
// Any PNG: palettes become RGB, low bit depths 8 bits, alpha is dropped,
// interlaced images are read pass by pass.
Document decodePng(std::span<const uint8_t> bytes);

// The same through a file: libpng decodes from memory, so the file is read
// whole first.
Document loadPng(const std::string& path);
void savePng(const Document& document, const std::string& path);

// ---- What a file can hold ----------------------------------------------------------

// Deflate's largest expansion: a 258-byte match coded in two bits. A PNG's
// rows can never inflate to more than this many times its image data, so
// a header that claims more is refused before anything is allocated.
inline constexpr uint64_t kDeflateMaxExpansion = 1032;

// No chunk lies outside the file, so libpng may allocate no chunk larger
// than the file, or than this for a small file.
inline constexpr size_t kPngChunkFloor = size_t{1} << 20;

// The bytes of image data (the IDAT chunks) of a PNG, once every chunk up
// to IEND is found to lie inside the file; an ImageError naming the first
// that does not. (The signature is the caller's.)
uint64_t pngImageDataBytes(std::span<const uint8_t> bytes);

// An ImageError unless `imageDataBytes` of deflate data can inflate to a
// `width` x `height` image of `bitsPerPixel` (as stored).
void requirePngCanHold(uint64_t imageDataBytes, uint32_t width, uint32_t height, int bitsPerPixel);

}  // namespace nebulite::cli
