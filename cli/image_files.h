// The image files the CLI reads and writes, picked by the file name's
// extension from one table (image_formats.h): PNG, binary PNM (PGM, PPM),
// PFM and TIFF, each in its own pair of files (pnm_*, png_*, pfm_*, tiff_*). They turn
// host documents into files and back; the module never sees them.
//
// 16-bit documents hold the host's 0..32768 samples (sample_scaling.h);
// 32-bit documents floats, which PFM and TIFF keep as they are.
// PNM files keep them as they are (maxval 32768); PNG and TIFF files need
// 0..65535, so the samples are scaled on the way out and back on the way
// in, exactly. PNG and TIFF files also carry the document's 'hist' records
// (the FITS header the module keeps), so that an image opened, edited
// elsewhere and saved again gets its header back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/document.h"
#include "platform/host_sdk.h"

namespace nebulite::cli {

using host::Document;
using host::Image;

// What went wrong, with the result code the CLI reports for it.
class ImageError : public std::runtime_error {
public:
    ImageError(OSErr code, const std::string& what) : std::runtime_error(what), code_(code) {}
    OSErr code() const { return code_; }

private:
    OSErr code_;
};

enum class ImageFormat { unknown, png, pgm, ppm, pnm, pfm, tiff, fits };
ImageFormat formatForPath(std::string_view path);

// By the file name's extension, through the table's reader and writer. A
// name of no known kind is refused with the extensions this build takes.
Document loadImage(const std::string& path);
void saveImage(const Document& document, const std::string& path);

std::vector<uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, std::span<const uint8_t> bytes);

// ---- For the formats -------------------------------------------------------------

// The editor's largest document, which the host describes to the module
// with 32-bit geometry.
inline constexpr uint32_t kMaxSide = 300000;

int16_t modeForPlanes(int planes);

// An image of that geometry, grey or RGB by its planes, every sample 0.
Image blankImage(int64_t rows, int64_t columns, int planes, int depth);

// Grey or RGB, 8 or 16 bits, not empty: what every format here can hold;
// 32-bit floating point too where `floats` says the format holds them
// (else refused with the formats that do).
void requireWritable(const Image& image, bool floats = false);

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The file opened with fopen's `mode`, or an ImageError with `code`:
// "cannot <verb> <path>: <reason>". "wb" leaves an empty file untruncated
// (host::openToWrite says why).
FilePtr openFile(const std::string& path, const char* mode, OSErr code, const char* verb);

}  // namespace nebulite::cli
