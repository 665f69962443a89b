#include "cli/image_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cli/image_formats.h"

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
    if (ext.empty()) return ImageFormat::unknown;
    for (const ImageFileFormat& f : kImageFormats)
        for (std::string_view e : f.extensions)
            if (e == ext) return f.format;
    for (std::string_view e : kFitsExtensions)
        if (e == ext) return ImageFormat::fits;
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

void requireWritable(const Image& image, bool floats) {
    if (image.empty()) throw ImageError(formatBadParameters, "the document has no image");
    if (image.planes != 1 && image.planes != 3)
        throw ImageError(formatBadParameters, "an image of " + std::to_string(image.planes) + " planes has no " +
                                                  std::string(kImageNameList) + " form");
    if (image.depth == 32 && !floats)
        throw ImageError(formatBadParameters, "a 32-bit floating-point image is written only as " +
                                                  std::string(kFloatExtensionList) + " (" +
                                                  std::string(kFloatNameList) + ")");
    if (image.depth != 8 && image.depth != 16 && image.depth != 32)
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

namespace {

// The row of the file's extension, refusing a file of no known kind and
// one this build has no library for.
const ImageFileFormat& builtFormatFor(const std::string& path, const char* verb, OSErr absentCode) {
    const ImageFileFormat* format = imageFileFormat(formatForPath(path));
    if (format == nullptr)
        throw ImageError(formatBadParameters, path + ": not a " + std::string(kImageExtensionList) + " file");
    if (!format->built())
        throw ImageError(absentCode, std::string("this build of nebulite ") + verb + " only " +
                                         std::string(kImageExtensionList) + " files, not " + std::string(format->name));
    return *format;
}

}  // namespace

Document loadImage(const std::string& path) {
    return builtFormatFor(path, "reads", formatCannotRead).codec.read(path);
}

void saveImage(const Document& document, const std::string& path) {
    builtFormatFor(path, "writes", formatBadParameters).codec.write(document, path);
}

}  // namespace nebulite::cli
