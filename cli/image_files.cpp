#include "cli/image_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cli/png.h"
#include "cli/pnm.h"
#include "cli/tiff.h"

namespace nebulite::cli {

namespace {

std::string lowerExtension(std::string_view path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Whatever is left of `file`, appended to `bytes`; the size known up front
// is read in one call, anything past it (a file still growing, a pipe) after.
void readRest(std::FILE* file, std::vector<uint8_t>& bytes, const std::string& path) {
    size_t have = bytes.size();
    for (;;) {
        if (bytes.capacity() == have) bytes.reserve(std::max<size_t>(have * 2, 1 << 16));
        bytes.resize(bytes.capacity());
        size_t got = std::fread(bytes.data() + have, 1, bytes.size() - have, file);
        have += got;
        if (have < bytes.size()) break;
    }
    bytes.resize(have);
    if (std::ferror(file)) throw ImageError(readErr, "cannot read " + path + ": " + std::strerror(errno));
}

}  // namespace

ImageFormat formatForPath(std::string_view path) {
    std::string ext = lowerExtension(path);
    if (ext == "png") return ImageFormat::png;
    if (ext == "pgm") return ImageFormat::pgm;
    if (ext == "ppm") return ImageFormat::ppm;
    if (ext == "pnm") return ImageFormat::pnm;
    if (ext == "tif" || ext == "tiff") return ImageFormat::tiff;
    if (ext == "fits" || ext == "fit" || ext == "fts") return ImageFormat::fits;
    return ImageFormat::unknown;
}

int16_t modeForPlanes(int planes) {
    return planes == 3 ? plugInModeRGBColor : plugInModeGrayScale;
}

Image blankImage(int64_t rows, int64_t columns, int planes, int depth) {
    Image image;
    image.rows = static_cast<int32_t>(rows);
    image.columns = static_cast<int32_t>(columns);
    image.planes = static_cast<int16_t>(planes);
    image.depth = static_cast<int16_t>(depth);
    image.mode = modeForPlanes(planes);
    image.allocate();
    return image;
}

void requireWritable(const Image& image) {
    if (image.empty()) throw ImageError(formatBadParameters, "the document has no image");
    if (image.planes != 1 && image.planes != 3)
        throw ImageError(formatBadParameters,
                         "an image of " + std::to_string(image.planes) + " planes has no PNG, PNM or TIFF form");
    if (image.depth != 8 && image.depth != 16)
        throw ImageError(formatBadParameters, "depth " + std::to_string(image.depth));
}

namespace {

// A file to write from its start, emptied only when it holds something
// (host::openToWrite says why).
std::FILE* openToWrite(const std::string& path) {
    if (std::FILE* existing = std::fopen(path.c_str(), "r+b")) {
        if (std::fseek(existing, 0, SEEK_END) == 0 && std::ftell(existing) == 0) {
            std::rewind(existing);
            return existing;
        }
        std::fclose(existing);
    }
    return std::fopen(path.c_str(), "wb");
}

}  // namespace

FilePtr openFile(const std::string& path, const char* mode, OSErr code, const char* verb) {
    FilePtr file(std::strcmp(mode, "wb") == 0 ? openToWrite(path) : std::fopen(path.c_str(), mode));
    if (!file) throw ImageError(code, std::string("cannot ") + verb + " " + path + ": " + std::strerror(errno));
    return file;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    FilePtr file = openFile(path, "rb", readErr, "open");
    std::vector<uint8_t> bytes;
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > 0 && size < SIZE_MAX) {
        bytes.reserve(static_cast<size_t>(size) + 1);  // + 1: the read that finds the end
        host::adviseHugePages(bytes.data(), bytes.capacity());
    }
    readRest(file.get(), bytes, path);
    return bytes;
}

void writeFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
    FilePtr file = openFile(path, "wb", writErr, "create");
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0) ok = false;
    if (!ok) throw ImageError(writErr, "cannot write " + path + ": " + std::strerror(errno));
}

Document loadImage(const std::string& path) {
    switch (formatForPath(path)) {
        case ImageFormat::png: return loadPng(path);
        case ImageFormat::tiff: return loadTiff(path);
        case ImageFormat::pgm:
        case ImageFormat::ppm:
        case ImageFormat::pnm: return loadPnm(path);
        default:
            throw ImageError(formatBadParameters, path + ": not a .png, .pgm, .ppm, .pnm, .tif or .tiff file");
    }
}

void saveImage(const Document& document, const std::string& path) {
    switch (formatForPath(path)) {
        case ImageFormat::png: savePng(document, path); return;
        case ImageFormat::tiff: saveTiff(document, path); return;
        case ImageFormat::pgm: savePgm(document, path); return;
        case ImageFormat::ppm: savePpm(document, path); return;
        case ImageFormat::pnm: savePnm(document, path); return;
        default:
            throw ImageError(formatBadParameters, path + ": not a .png, .pgm, .ppm, .pnm, .tif or .tiff file");
    }
}

}  // namespace nebulite::cli
