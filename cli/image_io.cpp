#include "cli/image_io.h"

// The Windows build of the host has no libpng and reads and writes PNM only
// (image_io_nopng.cpp).
#if !defined(NEBULITE_HOST_WITHOUT_PNG)
#include <png.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>


namespace nebulite::host {

namespace {

// The host describes an image to the module with 16-bit sizes.
constexpr uint32_t kMaxSide = 32767;

std::string lowerExtension(std::string_view path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

int16_t modeForPlanes(int planes) {
    return planes == 3 ? plugInModeRGBColor : plugInModeGrayScale;
}

void requireWritable(const Image& image) {
    if (image.empty()) throw ImageError(formatBadParameters, "the document has no image");
    if (image.planes != 1 && image.planes != 3)
        throw ImageError(formatBadParameters,
                         "an image of " + std::to_string(image.planes) + " planes has no PNG or PNM form");
    if (image.depth != 8 && image.depth != 16)
        throw ImageError(formatBadParameters, "depth " + std::to_string(image.depth));
}

// ---- PNM header parsing ------------------------------------------------------

struct PnmReader {
    std::span<const uint8_t> bytes;
    size_t pos = 0;

    void skipSpaceAndComments() {
        while (pos < bytes.size()) {
            if (bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n' && bytes[pos] != '\r') ++pos;
            } else if (std::isspace(bytes[pos])) {
                ++pos;
            } else {
                return;
            }
        }
    }

    uint32_t number(const char* what) {
        skipSpaceAndComments();
        if (pos >= bytes.size() || !std::isdigit(bytes[pos]))
            throw ImageError(formatCannotRead, std::string("PNM header: no ") + what);
        uint64_t value = 0;
        while (pos < bytes.size() && std::isdigit(bytes[pos])) {
            value = value * 10 + static_cast<uint64_t>(bytes[pos] - '0');
            if (value > 0xFFFFFFFFu)
                throw ImageError(formatCannotRead, std::string("PNM header: ") + what + " too large");
            ++pos;
        }
        return static_cast<uint32_t>(value);
    }
};

#if !defined(NEBULITE_HOST_WITHOUT_PNG)
// ---- libpng glue ----------------------------------------------------------------
//
// libpng reports errors by longjmp. The functions that call setjmp keep no
// C++ objects of their own; everything they fill belongs to their callers,
// and the callers turn a failure into an exception afterwards.

struct PngMessage {
    char text[200] = "";
};

[[noreturn]] void pngError(png_structp png, png_const_charp message) {
    auto* out = static_cast<PngMessage*>(png_get_error_ptr(png));
    if (out != nullptr) std::snprintf(out->text, sizeof out->text, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

struct PngSink {
    std::vector<uint8_t>* out;
};

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    sink->out->insert(sink->out->end(), data, data + length);
}

void pngFlush(png_structp) {}

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void pngRead(png_structp png, png_bytep data, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->size - source->pos < length) png_error(png, "the file ends early");
    std::memcpy(data, source->data + source->pos, length);
    source->pos += length;
}

struct PngWriteJob {
    uint32_t width;
    uint32_t height;
    int colorType;
    int bitDepth;
    std::vector<png_bytep>* rows;
    std::vector<png_unknown_chunk>* chunks;
    std::vector<uint8_t>* out;
    PngMessage message;
};

bool runPngWrite(PngWriteJob* job) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job->message, pngError, pngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    PngSink sink{job->out};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &sink, pngWrite, pngFlush);
    png_set_IHDR(png, info, job->width, job->height, job->bitDepth, job->colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!job->chunks->empty()) {
        // An unsafe-to-copy chunk is written only when asked for by name.
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS,
                                    reinterpret_cast<png_const_bytep>(kHistoryChunk), 1);
        png_set_unknown_chunks(png, info, job->chunks->data(), static_cast<int>(job->chunks->size()));
        for (int i = 0; i < static_cast<int>(job->chunks->size()); ++i)
            png_set_unknown_chunk_location(png, info, i, PNG_HAVE_IHDR);
    }
    png_write_info(png, info);
    png_write_image(png, job->rows->data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct PngReadJob {
    PngSource source;
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;
    int bitDepth = 0;
    std::vector<uint8_t>* pixels;                  // filled rows, interleaved
    std::vector<std::vector<uint8_t>>* history;    // the hiST chunks in order
    PngMessage message;
};

// Reads the header, sizes the pixels (through the caller's vector), reads
// the rows, then collects the hiST chunks from before and after the data.
bool runPngRead(PngReadJob* job) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job->message, pngError, pngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &job->source, pngRead);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS,
                                reinterpret_cast<png_const_bytep>(kHistoryChunk), 1);
    png_read_info(png, info);
    uint32_t width = png_get_image_width(png, info);
    uint32_t height = png_get_image_height(png, info);
    if (width > kMaxSide || height > kMaxSide)
        png_error(png, "the image is larger than 32767 on a side");
    int colorType = png_get_color_type(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (colorType & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    job->width = width;
    job->height = height;
    job->channels = png_get_channels(png, info);
    job->bitDepth = png_get_bit_depth(png, info);
    if ((job->channels != 1 && job->channels != 3) || (job->bitDepth != 8 && job->bitDepth != 16))
        png_error(png, "unexpected pixel layout");
    size_t rowBytes = png_get_rowbytes(png, info);
    job->pixels->assign(rowBytes * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        png_read_row(png, job->pixels->data() + static_cast<size_t>(y) * rowBytes, nullptr);
    png_read_end(png, info);
    png_unknown_chunkp chunks = nullptr;
    int count = png_get_unknown_chunks(png, info, &chunks);
    for (int i = 0; i < count; ++i) {
        if (std::memcmp(chunks[i].name, kHistoryChunk, 4) != 0) continue;
        job->history->emplace_back(chunks[i].data, chunks[i].data + chunks[i].size);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}
#endif

}  // namespace

ImageFormat formatForPath(std::string_view path) {
    std::string ext = lowerExtension(path);
    if (ext == "png") return ImageFormat::png;
    if (ext == "pgm") return ImageFormat::pgm;
    if (ext == "ppm") return ImageFormat::ppm;
    if (ext == "pnm") return ImageFormat::pnm;
    if (ext == "fits" || ext == "fit" || ext == "fts") return ImageFormat::fits;
    return ImageFormat::unknown;
}

// ---- PNM ---------------------------------------------------------------------

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
        return static_cast<uint16_t>(v << 8 | v >> 8);
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

inline uint32_t bigEndian16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }

// Samples of `Bytes` bytes, `Planes` to a pixel, into the planar store.
// Each row is checked against maxval first (a max over the row, which the
// compiler vectorises), then rescaled through `table` when maxval is not
// the host's own range, or copied as it is when it is.
template <typename T, int Bytes, int Planes, bool Scaled>
void decodePnmSamples(const uint8_t* data, size_t firstRow, size_t rowCount, Image& image, std::vector<T>& store,
                      uint32_t maxval, const std::vector<T>& table) {
    auto columns = static_cast<size_t>(image.columns);
    size_t planeSize = static_cast<size_t>(image.rows) * columns;
    size_t rowSamples = columns * Planes;
    // A file whose maxval is the largest its sample size holds has no
    // sample above it.
    bool check = maxval != (Bytes == 1 ? 0xFFu : 0xFFFFu);
    auto fetch = [](const uint8_t* p) -> uint32_t {
        if constexpr (Bytes == 1)
            return p[0];
        else
            return bigEndian16(p);
    };
    for (size_t r = firstRow; r < firstRow + rowCount; ++r) {
        const uint8_t* in = data + (r - firstRow) * rowSamples * Bytes;
        if (check) {
            uint32_t top = 0;
            for (size_t i = 0; i < rowSamples; ++i) top = std::max(top, fetch(in + i * Bytes));
            if (top > maxval) {
                size_t i = 0;
                while (fetch(in + i * Bytes) <= maxval) ++i;
                throw ImageError(formatCannotRead, "PNM sample " + std::to_string(fetch(in + i * Bytes)) +
                                                       " above maxval " + std::to_string(maxval));
            }
        }
        for (size_t p = 0; p < size_t{Planes}; ++p) {
            T* out = store.data() + p * planeSize + r * columns;
            const uint8_t* at = in + p * Bytes;
            for (size_t c = 0; c < columns; ++c) {
                uint32_t v = fetch(at + c * Planes * Bytes);
                if constexpr (Scaled)
                    out[c] = table[v];
                else
                    out[c] = static_cast<T>(v);
            }
        }
    }
}

// What the header says, and where the samples start.
struct PnmLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t maxval = 0;
    int16_t planes = 1;
    size_t dataOffset = 0;

    size_t sampleBytes() const { return maxval <= 255 ? 1 : 2; }
    size_t rowBytes() const { return size_t{width} * static_cast<size_t>(planes) * sampleBytes(); }
    // Up to 6 GiB (32767 x 32767 x 3 x 2): more than a 32-bit size holds.
    uint64_t dataBytes() const { return uint64_t{rowBytes()} * height; }
};

// `bytes` holds at least the whole header; `complete` says whether it is
// the whole file too (else a header running to the end of `bytes` may
// continue past it, and nullopt asks for more).
std::optional<PnmLayout> parsePnmHeader(std::span<const uint8_t> bytes, bool complete) {
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) {
        if (!complete && bytes.size() < 2) return std::nullopt;
        throw ImageError(formatCannotRead, "not a binary PGM or PPM file (P5 or P6)");
    }
    PnmReader reader{bytes, 2};
    PnmLayout layout;
    try {
        layout.width = reader.number("width");
        layout.height = reader.number("height");
        layout.maxval = reader.number("maxval");
    } catch (const ImageError&) {
        if (!complete && reader.pos >= bytes.size()) return std::nullopt;
        throw;
    }
    // The maxval's last digit could be followed by more of them.
    if (!complete && reader.pos >= bytes.size()) return std::nullopt;
    uint32_t width = layout.width, height = layout.height, maxval = layout.maxval;
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        throw ImageError(formatCannotRead, "PNM size " + std::to_string(width) + "x" +
                                               std::to_string(height) + " is not 1..32767 on a side");
    if (maxval == 0 || maxval > 65535)
        throw ImageError(formatCannotRead, "PNM maxval " + std::to_string(maxval) + " is not 1..65535");
    // Exactly one whitespace character ends the header.
    if (reader.pos >= bytes.size() || !std::isspace(bytes[reader.pos]))
        throw ImageError(formatCannotRead, "PNM header: no whitespace after maxval");
    layout.planes = bytes[1] == '6' ? 3 : 1;
    layout.dataOffset = reader.pos + 1;
    return layout;
}

// The image a header describes, before any sample is read. Called once the
// whole data is known to be there: a short file must not cost a gigabyte
// of memory to refuse.
Image pnmImage(const PnmLayout& layout) {
    if (layout.dataBytes() > static_cast<uint64_t>(PTRDIFF_MAX))
        throw ImageError(memFullErr, "a PNM image of " + std::to_string(layout.dataBytes()) +
                                         " bytes is more than this build can address");
    Image image;
    image.columns = static_cast<int32_t>(layout.width);
    image.rows = static_cast<int32_t>(layout.height);
    image.planes = layout.planes;
    image.depth = layout.maxval <= 255 ? 8 : 16;
    image.mode = modeForPlanes(image.planes);
    image.allocate();
    return image;
}

void throwShortPnm(uint64_t have, const PnmLayout& layout) {
    throw ImageError(eofErr, "PNM data: " + std::to_string(have) + " bytes of " +
                                 std::to_string(layout.dataBytes()));
}

// Decodes rows into an image a batch at a time, in order.
class PnmRowDecoder {
public:
    PnmRowDecoder(Image& image, uint32_t maxval) : image_(image), maxval_(maxval) {
        uint32_t target = image.maxSample();
        if (maxval == target) return;
        // Every sample a file can hold, rescaled once instead of per sample.
        if (image.depth == 16) {
            wideTable_.resize(size_t{maxval} + 1);
            for (uint32_t v = 0; v <= maxval; ++v) wideTable_[v] = static_cast<uint16_t>(rescale(v, maxval, target));
        } else {
            narrowTable_.resize(size_t{maxval} + 1);
            for (uint32_t v = 0; v <= maxval; ++v) narrowTable_[v] = static_cast<uint8_t>(rescale(v, maxval, target));
        }
    }

    void rows(const uint8_t* data, size_t firstRow, size_t count) {
        if (image_.depth == 16)
            dispatch<uint16_t, 2>(data, firstRow, count, image_.wide, wideTable_);
        else
            dispatch<uint8_t, 1>(data, firstRow, count, image_.narrow, narrowTable_);
    }

private:
    template <typename T, int Bytes>
    void dispatch(const uint8_t* data, size_t firstRow, size_t count, std::vector<T>& store,
                  const std::vector<T>& table) {
        bool scaled = !table.empty();
        if (image_.planes == 3) {
            if (scaled)
                decodePnmSamples<T, Bytes, 3, true>(data, firstRow, count, image_, store, maxval_, table);
            else
                decodePnmSamples<T, Bytes, 3, false>(data, firstRow, count, image_, store, maxval_, table);
        } else {
            if (scaled)
                decodePnmSamples<T, Bytes, 1, true>(data, firstRow, count, image_, store, maxval_, table);
            else
                decodePnmSamples<T, Bytes, 1, false>(data, firstRow, count, image_, store, maxval_, table);
        }
    }

    Image& image_;
    uint32_t maxval_;
    std::vector<uint8_t> narrowTable_;
    std::vector<uint16_t> wideTable_;
};

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

Image decodePnm(std::span<const uint8_t> bytes) {
    PnmLayout layout = *parsePnmHeader(bytes, true);
    size_t have = bytes.size() - layout.dataOffset;
    if (have < layout.dataBytes()) throwShortPnm(have, layout);
    Image image = pnmImage(layout);
    PnmRowDecoder(image, layout.maxval).rows(bytes.data() + layout.dataOffset, 0, layout.height);
    return image;
}

#if !defined(NEBULITE_HOST_WITHOUT_PNG)
// ---- PNG -----------------------------------------------------------------------

std::vector<uint8_t> encodePng(const Document& document) {
    const Image& image = document.image;
    requireWritable(image);
    size_t sampleBytes = image.depth == 16 ? 2 : 1;
    size_t rowBytes = static_cast<size_t>(image.columns) * static_cast<size_t>(image.planes) * sampleBytes;
    std::vector<uint8_t> pixels(rowBytes * static_cast<size_t>(image.rows));
    std::vector<png_bytep> rows(static_cast<size_t>(image.rows));
    // Straight from the planar store, one plane at a time into its place
    // in the interleaved row.
    auto columns = static_cast<size_t>(image.columns);
    auto planes = static_cast<size_t>(image.planes);
    for (int r = 0; r < image.rows; ++r) {
        uint8_t* out = pixels.data() + static_cast<size_t>(r) * rowBytes;
        rows[static_cast<size_t>(r)] = out;
        for (size_t p = 0; p < planes; ++p) {
            size_t first = image.index(static_cast<int>(p), r, 0);
            if (sampleBytes == 2) {
                const uint16_t* in = image.wide.data() + first;
                for (size_t c = 0; c < columns; ++c) {
                    uint16_t w = hostToPng16(in[c]);
                    out[(c * planes + p) * 2] = static_cast<uint8_t>(w >> 8);
                    out[(c * planes + p) * 2 + 1] = static_cast<uint8_t>(w & 0xFF);
                }
            } else {
                const uint8_t* in = image.narrow.data() + first;
                for (size_t c = 0; c < columns; ++c) out[c * planes + p] = in[c];
            }
        }
    }
    // libpng copies the chunk data; the records themselves stay in the document.
    std::vector<png_unknown_chunk> chunks;
    if (auto it = document.resources.find(kHistoryResource); it != document.resources.end()) {
        for (const ResourceRecord& record : it->second) {
            png_unknown_chunk chunk{};
            std::memcpy(chunk.name, kHistoryChunk, 5);
            chunk.data = const_cast<png_bytep>(record.data());
            chunk.size = record.size();
            chunk.location = PNG_HAVE_IHDR;
            chunks.push_back(chunk);
        }
    }
    std::vector<uint8_t> out;
    PngWriteJob job{static_cast<uint32_t>(image.columns),
                    static_cast<uint32_t>(image.rows),
                    image.planes == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                    image.depth,
                    &rows,
                    &chunks,
                    &out,
                    {}};
    if (!runPngWrite(&job))
        throw ImageError(writErr, std::string("PNG encoding failed: ") + job.message.text);
    return out;
}

Document decodePng(std::span<const uint8_t> bytes) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0)
        throw ImageError(formatCannotRead, "not a PNG file");
    std::vector<uint8_t> pixels;
    std::vector<std::vector<uint8_t>> history;
    PngReadJob job;
    job.source = {bytes.data(), bytes.size(), 0};
    job.pixels = &pixels;
    job.history = &history;
    if (!runPngRead(&job))
        throw ImageError(formatCannotRead, std::string("PNG: ") + job.message.text);

    Document document;
    Image& image = document.image;
    image.columns = static_cast<int32_t>(job.width);
    image.rows = static_cast<int32_t>(job.height);
    image.planes = static_cast<int16_t>(job.channels);
    image.depth = static_cast<int16_t>(job.bitDepth);
    image.mode = modeForPlanes(image.planes);
    image.allocate();
    const uint8_t* in = pixels.data();
    for (int r = 0; r < image.rows; ++r) {
        for (int c = 0; c < image.columns; ++c) {
            for (int p = 0; p < image.planes; ++p) {
                if (image.depth == 16) {
                    image.setSample(p, r, c, png16ToHost(uint32_t{in[0]} << 8 | in[1]));
                    in += 2;
                } else {
                    image.setSample(p, r, c, *in++);
                }
            }
        }
    }
    if (!history.empty()) document.resources[kHistoryResource] = std::move(history);
    return document;
}
#endif

// ---- Files ---------------------------------------------------------------------------

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openFile(const std::string& path, const char* mode, OSErr code, const char* verb) {
    FilePtr file(std::fopen(path.c_str(), mode));
    if (!file) throw ImageError(code, std::string("cannot ") + verb + " " + path + ": " + std::strerror(errno));
    return file;
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

// A PNM file straight into the image, a chunk of rows at a time through a
// buffer that stays in the cache: no copy of the whole file is ever held,
// so the image is the only large block the read touches.
Image loadPnm(const std::string& path) {
    FilePtr file = openFile(path, "rb", readErr, "open");
    auto readInto = [&](uint8_t* at, size_t size) {
        size_t got = std::fread(at, 1, size, file.get());
        if (got < size && std::ferror(file.get()))
            throw ImageError(readErr, "cannot read " + path + ": " + std::strerror(errno));
        return got;
    };
    // The header is a few dozen bytes unless comments make it longer.
    constexpr size_t kHeaderPiece = 4096;
    std::vector<uint8_t> head;
    std::optional<PnmLayout> layout;
    while (!layout) {
        size_t have = head.size();
        head.resize(have + kHeaderPiece);
        size_t got = readInto(head.data() + have, kHeaderPiece);
        head.resize(have + got);
        layout = parsePnmHeader(head, got < kHeaderPiece);
    }
    size_t rowBytes = layout->rowBytes();
    size_t carried = head.size() - layout->dataOffset;  // samples read along with the header
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && (size < layout->dataOffset || size - layout->dataOffset < layout->dataBytes()))
        throwShortPnm(size < layout->dataOffset ? 0 : size - layout->dataOffset, *layout);

    Image image = pnmImage(*layout);
    PnmRowDecoder decoder(image, layout->maxval);
    constexpr size_t kChunkBytes = size_t{1} << 20;
    size_t chunkRows = std::max<size_t>(1, kChunkBytes / rowBytes);
    std::vector<uint8_t> chunk(std::max(chunkRows * rowBytes, carried));
    std::memcpy(chunk.data(), head.data() + layout->dataOffset, carried);
    size_t filled = carried;
    for (size_t row = 0; row < layout->height;) {
        size_t rows = std::min<size_t>(chunkRows, layout->height - row);
        size_t want = rows * rowBytes;
        if (filled < want) {
            filled += readInto(chunk.data() + filled, want - filled);
            if (filled < want) throwShortPnm(row * rowBytes + filled, *layout);
        }
        decoder.rows(chunk.data(), row, rows);
        std::memmove(chunk.data(), chunk.data() + want, filled - want);
        filled -= want;
        row += rows;
    }
    return image;
}

void savePnm(const Image& image, const std::string& path) {
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

}  // namespace

std::vector<uint8_t> readFileBytes(const std::string& path) {
    FilePtr file = openFile(path, "rb", readErr, "open");
    std::vector<uint8_t> bytes;
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > 0 && size < SIZE_MAX) {
        bytes.reserve(static_cast<size_t>(size) + 1);  // + 1: the read that finds the end
        adviseHugePages(bytes.data(), bytes.capacity());
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
    ImageFormat format = formatForPath(path);
    switch (format) {
        case ImageFormat::png: return decodePng(readFileBytes(path));
        case ImageFormat::pgm:
        case ImageFormat::ppm:
        case ImageFormat::pnm: {
            Document document;
            document.image = loadPnm(path);
            return document;
        }
        default:
            throw ImageError(formatBadParameters, path + ": not a .png, .pgm, .ppm or .pnm file");
    }
}

void saveImage(const Document& document, const std::string& path) {
    const Image& image = document.image;
    switch (formatForPath(path)) {
        case ImageFormat::png: writeFileBytes(path, encodePng(document)); return;
        case ImageFormat::pgm:
            if (image.planes != 1)
                throw ImageError(formatBadParameters, "a colour image cannot be written as PGM (use .ppm or --gray)");
            savePnm(image, path);
            return;
        case ImageFormat::ppm:
            if (image.planes != 3)
                throw ImageError(formatBadParameters, "a grey image cannot be written as PPM (use .pgm or .pnm)");
            savePnm(image, path);
            return;
        case ImageFormat::pnm: savePnm(image, path); return;
        default:
            throw ImageError(formatBadParameters, path + ": not a .png, .pgm, .ppm or .pnm file");
    }
}

}  // namespace nebulite::host
