// TIFF files through libtiff: 8- and 16-bit grey and RGB, and 32-bit
// floating-point grey and RGB (SampleFormat IEEE) for 32-bit documents,
// whose floats go as they are. 16-bit samples
// are scaled between the host's 0..32768 and the file's 0..65535 exactly
// as for PNG, so a round trip is exact, and the document's 'hist' records
// (the FITS header) travel in a private tag, so that a later save of the
// TIFF brings the header back. Built only where libtiff is (not in the
// Windows build; image_formats.h says so).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/image_files.h"

namespace nebulite::cli {

// Written uncompressed, contiguous, in strips.
void saveTiff(const Document& document, const std::string& path);

// The first image of the file: 8- or 16-bit unsigned grey (either
// photometric) or RGB, 32-bit floating-point grey (black at zero) or RGB, contiguous or planar, in strips or tiles, any
// compression libtiff decodes. Extra samples are dropped when one of them
// is alpha. Everything else is refused with a line that names what the
// file holds.
Document loadTiff(const std::string& path);

// ---- What a file can hold ---------------------------------------------------------

// The most bytes one byte of compressed data decodes to, by compression.
// PackBits: a two-byte run stands for at most 128 bytes.
inline constexpr uint64_t kPackBitsMaxExpansion = 64;
// LZW: every code is at least 9 bits and stands for at most the table's
// 4096 bytes (4096 x 8 / 9 < 4096).
inline constexpr uint64_t kLzwMaxExpansion = 4096;
// Deflate: a 258-byte match coded in two bits.
inline constexpr uint64_t kDeflateTiffMaxExpansion = 1032;
// Any other codec (JPEG, zstd, LZMA, WebP...): zstd's largest, a 128 KiB
// block from four bytes; real images compress far less than that in all
// of them.
inline constexpr uint64_t kOtherCodecMaxExpansion = 32768;

// ---- The header tag ----------------------------------------------------------------

// In the range TIFF leaves to private use without registration.
inline constexpr uint32_t kHistoryTag = 65111;
// The whole-header record, its bytes as they are (its preamble names it).
inline constexpr uint32_t kWholeHeaderTag = 65112;
// The record of how the module opened the document ('NbOp'), its bytes as
// they are: the power of two a 32-bit document's values were taken by, the
// rows turned over, which a save needs to give the file's samples back.
inline constexpr uint32_t kOpenRecordTag = 65113;

// The tag's bytes: "hist", then each record as a 4-byte big-endian length
// and its bytes.
std::vector<uint8_t> packHistory(std::span<const host::ResourceRecord> records);
// The records, or null when the bytes do not start with "hist" (another
// program's use of the tag); an ImageError when they do but a length runs
// past the end.
std::optional<std::vector<host::ResourceRecord>> unpackHistory(std::span<const uint8_t> bytes);

}  // namespace nebulite::cli
