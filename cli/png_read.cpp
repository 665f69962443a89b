// Reading PNG through libpng.
#include <csetjmp>
#include <cstring>

#include "cli/png.h"
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

struct PngReadJob {
    PngSource source;
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;
    int bitDepth = 0;
    std::vector<uint8_t>* pixels;                  // filled rows, interleaved
    std::vector<std::vector<uint8_t>>* history;    // the hiST chunks in order
    std::vector<std::vector<uint8_t>>* whole;      // the nbHD chunks in order
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
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS,
                                reinterpret_cast<png_const_bytep>(kWholeHeaderChunk), 1);
    png_read_info(png, info);
    uint32_t width = png_get_image_width(png, info);
    uint32_t height = png_get_image_height(png, info);
    if (width > kMaxSide || height > kMaxSide)
        png_error(png, "the image is larger than 300000 on a side");
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
        if (std::memcmp(chunks[i].name, kHistoryChunk, 4) == 0)
            job->history->emplace_back(chunks[i].data, chunks[i].data + chunks[i].size);
        else if (std::memcmp(chunks[i].name, kWholeHeaderChunk, 4) == 0)
            job->whole->emplace_back(chunks[i].data, chunks[i].data + chunks[i].size);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

Document decodePng(std::span<const uint8_t> bytes) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0)
        throw ImageError(formatCannotRead, "not a PNG file");
    std::vector<uint8_t> pixels;
    std::vector<std::vector<uint8_t>> history;
    std::vector<std::vector<uint8_t>> whole;
    PngReadJob job;
    job.source = {bytes.data(), bytes.size(), 0};
    job.pixels = &pixels;
    job.history = &history;
    job.whole = &whole;
    if (!runPngRead(&job))
        throw ImageError(formatCannotRead, std::string("PNG: ") + job.message.text);

    Document document;
    document.image = blankImage(job.height, job.width, job.channels, job.bitDepth);
    Image& image = document.image;
    const uint8_t* in = pixels.data();
    for (int r = 0; r < image.rows; ++r) {
        for (int c = 0; c < image.columns; ++c) {
            for (int p = 0; p < image.planes; ++p) {
                if (image.depth == 16) {
                    image.setSample(p, r, c, full16ToHost(uint32_t{in[0]} << 8 | in[1]));
                    in += 2;
                } else {
                    image.setSample(p, r, c, *in++);
                }
            }
        }
    }
    if (!history.empty()) document.resources[host::kHistoryResource] = std::move(history);
    if (!whole.empty()) document.resources[host::kWholeHeaderResource] = std::move(whole);
    return document;
}

}  // namespace nebulite::cli
