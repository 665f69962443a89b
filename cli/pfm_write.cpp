// Writing PFM: the image's floats as they are, little-endian (scale -1.0,
// as most writers make them, so that a file is the same on every machine),
// bottom row first, a chunk of rows at a time.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "cli/pfm.h"
#include "codecs/big_endian.h"

namespace nebulite::cli {

namespace {

void requireFloats(const Image& image) {
    requireWritable(image, true);
    if (image.depth != 32)
        throw ImageError(formatBadParameters, "a " + std::to_string(image.depth) +
                                                  "-bit image has no PFM form (PFM holds 32-bit floating point)");
}

std::string pfmHeader(const Image& image) {
    return (image.planes == 3 ? "PF\n" : "Pf\n") + std::to_string(image.columns) + " " + std::to_string(image.rows) +
           "\n-1.0\n";
}

size_t pfmRowBytes(const Image& image) {
    return static_cast<size_t>(image.columns) * static_cast<size_t>(image.planes) * 4;
}

// Image row `row`, planes interleaved, little-endian.
void encodePfmRow(const Image& image, int row, uint8_t* out) {
    const auto columns = static_cast<size_t>(image.columns);
    const auto planes = static_cast<size_t>(image.planes);
    for (size_t p = 0; p < planes; ++p) {
        const float* in = image.real.data() + image.index(static_cast<int>(p), row, 0);
        for (size_t c = 0; c < columns; ++c) {
            uint32_t bits = std::bit_cast<uint32_t>(in[c]);
            if constexpr (std::endian::native == std::endian::big) bits = codecs::swapBytes(bits);
            std::memcpy(out + (c * planes + p) * 4, &bits, 4);
        }
    }
}

// Rows go to `sink` a chunk at a time, the image's last row first.
template <typename Sink>
void encodePfmChunks(const Image& image, Sink&& sink) {
    constexpr size_t kChunkBytes = size_t{1} << 20;
    const size_t rowBytes = pfmRowBytes(image);
    const size_t chunkRows = std::max<size_t>(1, kChunkBytes / rowBytes);
    std::vector<uint8_t> buffer(chunkRows * rowBytes);
    for (int done = 0; done < image.rows;) {
        const int count = static_cast<int>(std::min<size_t>(chunkRows, static_cast<size_t>(image.rows - done)));
        for (int i = 0; i < count; ++i)
            encodePfmRow(image, image.rows - 1 - (done + i), buffer.data() + static_cast<size_t>(i) * rowBytes);
        sink(buffer.data(), static_cast<size_t>(count) * rowBytes);
        done += count;
    }
}

}  // namespace

std::vector<uint8_t> encodePfm(const Image& image) {
    requireFloats(image);
    const std::string header = pfmHeader(image);
    std::vector<uint8_t> out;
    out.reserve(header.size() + pfmRowBytes(image) * static_cast<size_t>(image.rows));
    out.assign(header.begin(), header.end());
    encodePfmChunks(image, [&](const uint8_t* bytes, size_t size) { out.insert(out.end(), bytes, bytes + size); });
    return out;
}

void savePfm(const Document& document, const std::string& path) {
    const Image& image = document.image;
    requireFloats(image);
    FilePtr file = openFile(path, "wb", writErr, "create");
    const std::string header = pfmHeader(image);
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    encodePfmChunks(image, [&](const uint8_t* bytes, size_t size) {
        if (ok) ok = std::fwrite(bytes, 1, size, file.get()) == size;
    });
    if (!ok) throw ImageError(writErr, "cannot write " + path + ": " + std::strerror(errno));
    if (std::fclose(file.release()) != 0)
        throw ImageError(writErr, "cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace nebulite::cli
