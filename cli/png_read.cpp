// Reading PNG through libpng: the header first, then a check that the file
// can hold the image it claims, and only then the image and its rows.
#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstring>

#include "cli/png.h"
#include "codecs/big_endian.h"
#include "cli/png_glue.h"
#include "cli/sample_scaling.h"

namespace nebulite::cli {

namespace {

using namespace png_glue;

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

// libpng's structures for one read, freed whatever way the read ends. It
// lives in decodePng's frame, above the functions that call setjmp, so a
// longjmp out of libpng skips none of its destructors.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngSource source{};
    PngMessage message;
    ~PngReader() {
        if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    }
};

// What the header says, after the transforms that make every kind grey or
// RGB of 8 or 16 bits.
struct PngShape {
    uint32_t width = 0;
    uint32_t height = 0;
    int fileBitsPerPixel = 0;  // as stored, before the transforms
    int channels = 0;
    int bitDepth = 0;
    bool interlaced = false;
    size_t rowBytes = 0;  // one row after the transforms
};

// The header and the transforms. Every chunk lies inside the file (see
// pngImageDataBytes), so no chunk may cost more memory than the file has
// bytes; sizes past the host's are refused on sight.
bool readPngHeader(PngReader* reader, PngShape* shape) {
    reader->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader->message, pngError, pngWarning);
    if (reader->png == nullptr) return false;
    png_structp png = reader->png;
    reader->info = png_create_info_struct(png);
    if (reader->info == nullptr) return false;
    png_infop info = reader->info;
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, &reader->source, pngRead);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(png, std::max<size_t>(reader->source.size, kPngChunkFloor));
    // Of the ancillary chunks only the 'hist' records matter (and tRNS, which
    // libpng always reads): text and profiles are skipped, never inflated.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    for (const auto& [type, name] : kResourceChunks)
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, reinterpret_cast<png_const_bytep>(name), 1);
    png_read_info(png, info);
    shape->width = png_get_image_width(png, info);
    shape->height = png_get_image_height(png, info);
    if (shape->width > kMaxSide || shape->height > kMaxSide)
        png_error(png, "the image is larger than 300000 on a side");
    int colorType = png_get_color_type(png, info);
    shape->fileBitsPerPixel = png_get_bit_depth(png, info) * png_get_channels(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    // A palette's transparency becomes alpha as the palette expands; alpha
    // is dropped from every kind alike. (Grey and RGB keep their tRNS as a
    // colour key, which libpng leaves alone unless asked.)
    bool paletteAlpha = colorType == PNG_COLOR_TYPE_PALETTE && png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if ((colorType & PNG_COLOR_MASK_ALPHA) != 0 || paletteAlpha) png_set_strip_alpha(png);
    // Every pass of an interlaced image, not just the first.
    int passes = png_set_interlace_handling(png);
    shape->interlaced = passes > 1;
    png_read_update_info(png, info);
    shape->channels = png_get_channels(png, info);
    shape->bitDepth = png_get_bit_depth(png, info);
    if ((shape->channels != 1 && shape->channels != 3) || (shape->bitDepth != 8 && shape->bitDepth != 16))
        png_error(png, "unexpected pixel layout");
    shape->rowBytes = png_get_rowbytes(png, info);
    return true;
}

// One interleaved row of the file into row `r` of the planar image.
void storeRow(const uint8_t* in, int r, Image& image) {
    for (int c = 0; c < image.columns; ++c) {
        for (int p = 0; p < image.planes; ++p) {
            if (image.depth == 16) {
                image.setSample(p, r, c, full16ToHost(codecs::loadBE16(in)));
                in += 2;
            } else {
                image.setSample(p, r, c, *in++);
            }
        }
    }
}

// Where the rows go on their way into the image: one row buffer, or for an
// interlaced image (whose passes each visit every row band) the whole
// interleaved image and a pointer to each of its rows. Sized by the caller.
struct RowBuffers {
    std::vector<uint8_t> bytes;
    std::vector<png_bytep> rows;
};

bool readPngRows(PngReader* reader, const PngShape* shape, RowBuffers* buffers, Image* image) {
    png_structp png = reader->png;
    if (setjmp(png_jmpbuf(png))) return false;
    if (shape->interlaced) {
        png_read_image(png, buffers->rows.data());
        for (uint32_t y = 0; y < shape->height; ++y) storeRow(buffers->rows[y], static_cast<int>(y), *image);
    } else {
        for (uint32_t y = 0; y < shape->height; ++y) {
            png_read_row(png, buffers->bytes.data(), nullptr);
            storeRow(buffers->bytes.data(), static_cast<int>(y), *image);
        }
    }
    png_read_end(png, reader->info);
    return true;
}


}  // namespace

uint64_t pngImageDataBytes(std::span<const uint8_t> bytes) {
    uint64_t imageData = 0;
    size_t pos = 8;
    while (bytes.size() - pos >= 8) {
        const uint8_t* at = bytes.data() + pos;
        uint64_t length = codecs::loadBE32(at);
        std::string name;
        for (int i = 4; i < 8; ++i)
            name += std::isalpha(at[i]) != 0 ? static_cast<char>(at[i]) : '?';
        if (length + 12 > bytes.size() - pos)
            throw ImageError(formatCannotRead, "PNG: the " + name + " chunk claims " + std::to_string(length) +
                                                   " bytes, more than the file holds");
        if (name == "IHDR" && length >= 8) {
            uint32_t width = codecs::loadBE32(at + 8), height = codecs::loadBE32(at + 12);
            if (width > kMaxSide || height > kMaxSide)
                throw ImageError(formatCannotRead, "PNG: the image is " + std::to_string(width) + "x" +
                                                       std::to_string(height) + ", larger than " + std::to_string(kMaxSide) + " on a side");
        }
        if (name == "IDAT") imageData += length;
        if (name == "IEND") break;
        pos += static_cast<size_t>(length) + 12;
    }
    return imageData;
}

void requirePngCanHold(uint64_t imageDataBytes, uint32_t width, uint32_t height, int bitsPerPixel) {
    // The fewest bytes the image's rows inflate to, filter bytes aside.
    uint64_t rowBits = uint64_t{width} * static_cast<uint64_t>(bitsPerPixel);
    uint64_t least = rowBits / 8 * height;
    if (least / kDeflateMaxExpansion > imageDataBytes)
        throw ImageError(formatCannotRead, "PNG: " + std::to_string(imageDataBytes) +
                                               " bytes of image data cannot hold the " + std::to_string(width) +
                                               "x" + std::to_string(height) + " image the header claims");
}

Document decodePng(std::span<const uint8_t> bytes) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0)
        throw ImageError(formatCannotRead, "not a PNG file");
    uint64_t imageData = pngImageDataBytes(bytes);
    PngReader reader;
    reader.source = {bytes.data(), bytes.size(), 0};
    PngShape shape;
    if (!readPngHeader(&reader, &shape))
        throw ImageError(formatCannotRead, std::string("PNG: ") + reader.message.text);
    requirePngCanHold(imageData, shape.width, shape.height, shape.fileBitsPerPixel);

    Document document;
    document.image = blankImage(shape.height, shape.width, shape.channels, shape.bitDepth);
    RowBuffers buffers;
    if (shape.interlaced) {
        buffers.bytes.resize(shape.rowBytes * shape.height);
        buffers.rows.resize(shape.height);
        for (uint32_t y = 0; y < shape.height; ++y) buffers.rows[y] = buffers.bytes.data() + size_t{y} * shape.rowBytes;
    } else {
        buffers.bytes.resize(shape.rowBytes);
    }
    if (!readPngRows(&reader, &shape, &buffers, &document.image))
        throw ImageError(formatCannotRead, std::string("PNG: ") + reader.message.text);

    png_unknown_chunkp chunks = nullptr;
    int count = png_get_unknown_chunks(reader.png, reader.info, &chunks);
    for (int i = 0; i < count; ++i)
        for (const auto& [type, name] : kResourceChunks)
            if (std::memcmp(chunks[i].name, name, 4) == 0)
                document.resources[type].emplace_back(chunks[i].data, chunks[i].data + chunks[i].size);
    return document;
}

Document loadPng(const std::string& path) { return decodePng(readFileBytes(path)); }

}  // namespace nebulite::cli
