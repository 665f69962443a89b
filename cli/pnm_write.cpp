// Writing binary PNM: the host's samples as they are, rows encoded a chunk
// at a time.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/pnm.h"
#include "codecs/big_endian.h"
#include "cli/sample_scaling.h"

namespace nebulite::cli {

namespace {

std::string pnmHeader(const Image& image) {
    return (image.planes == 3 ? "P6\n" : "P5\n") + std::to_string(image.columns) + " " +
           std::to_string(image.rows) + "\n" + std::to_string(image.maxSample()) + "\n";
}

size_t pnmRowBytes(const Image& image) {
    return static_cast<size_t>(image.columns) * static_cast<size_t>(image.planes) *
           static_cast<size_t>(image.depth / 8);
}

// One row of PNM data from the planar store: planes interleaved, 16-bit
// samples big-endian. A sample above the range (a module's fault) would make
// the file invalid; it is written at the top of the range. These loops run
// once per sample of every image the CLI writes, so they stay free of
// per-sample tests the compiler cannot lift out.
void encodePnmRow(const Image& image, int row, uint8_t* out) {
    auto columns = static_cast<size_t>(image.columns);
    size_t first = image.index(0, row, 0);
    size_t planeSize = static_cast<size_t>(image.rows) * columns;
    if (image.depth == 8) {
        // 8-bit samples cannot exceed 255.
        const uint8_t* in = image.narrow.data() + first;
        if (image.planes == 1) {
            std::memcpy(out, in, columns);
            return;
        }
        const uint8_t* g = in + planeSize;
        const uint8_t* b = g + planeSize;
        for (size_t c = 0; c < columns; ++c) {
            out[3 * c] = in[c];
            out[3 * c + 1] = g[c];
            out[3 * c + 2] = b[c];
        }
        return;
    }
    const uint16_t* in = image.wide.data() + first;
    auto big = [](uint16_t v) {
        v = std::min<uint16_t>(v, static_cast<uint16_t>(kHostMax16));
        return codecs::bigEndianOf(v);
    };
    if (image.planes == 1) {
        for (size_t c = 0; c < columns; ++c) {
            uint16_t v = big(in[c]);
            std::memcpy(out + 2 * c, &v, 2);
        }
        return;
    }
    const uint16_t* g = in + planeSize;
    const uint16_t* b = g + planeSize;
    for (size_t c = 0; c < columns; ++c) {
        uint16_t v[3] = {big(in[c]), big(g[c]), big(b[c])};
        std::memcpy(out + 6 * c, v, 6);
    }
}

// Rows are encoded a chunk at a time into a buffer small enough to stay in
// the cache, and each chunk goes to `sink` (the file, or the bytes of
// encodePnm) in one piece.
template <typename Sink>
void encodePnmChunks(const Image& image, Sink&& sink) {
    constexpr size_t kChunkBytes = size_t{1} << 20;
    size_t rowBytes = pnmRowBytes(image);
    size_t chunkRows = std::max<size_t>(1, kChunkBytes / rowBytes);
    std::vector<uint8_t> buffer(chunkRows * rowBytes);
    for (int r = 0; r < image.rows;) {
        int count = static_cast<int>(std::min<size_t>(chunkRows, static_cast<size_t>(image.rows - r)));
        for (int i = 0; i < count; ++i)
            encodePnmRow(image, r + i, buffer.data() + static_cast<size_t>(i) * rowBytes);
        sink(buffer.data(), static_cast<size_t>(count) * rowBytes);
        r += count;
    }
}

}  // namespace

std::vector<uint8_t> encodePnm(const Image& image) {
    requireWritable(image);
    std::string header = pnmHeader(image);
    std::vector<uint8_t> out;
    out.reserve(header.size() + pnmRowBytes(image) * static_cast<size_t>(image.rows));
    out.assign(header.begin(), header.end());
    encodePnmChunks(image, [&](const uint8_t* bytes, size_t size) { out.insert(out.end(), bytes, bytes + size); });
    return out;
}

void savePnm(const Document& document, const std::string& path) {
    const Image& image = document.image;
    requireWritable(image);
    FilePtr file = openFile(path, "wb", writErr, "create");
    std::string header = pnmHeader(image);
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    encodePnmChunks(image, [&](const uint8_t* bytes, size_t size) {
        // Big writes bypass the stream's buffer; a failed one stops the rest.
        if (ok) ok = std::fwrite(bytes, 1, size, file.get()) == size;
    });
    if (!ok) throw ImageError(writErr, "cannot write " + path + ": " + std::strerror(errno));
    if (std::fclose(file.release()) != 0)
        throw ImageError(writErr, "cannot write " + path + ": " + std::strerror(errno));
}

void savePgm(const Document& document, const std::string& path) {
    if (document.image.planes != 1)
        throw ImageError(formatBadParameters, "a colour image cannot be written as PGM (use .ppm or --gray)");
    savePnm(document, path);
}

void savePpm(const Document& document, const std::string& path) {
    if (document.image.planes != 3)
        throw ImageError(formatBadParameters, "a grey image cannot be written as PPM (use .pgm or .pnm)");
    savePnm(document, path);
}

}  // namespace nebulite::cli
