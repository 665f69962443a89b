// Writing PNG through libpng.
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <utility>

#include "cli/png.h"
#include "cli/png_glue.h"
#include "cli/sample_scaling.h"

namespace nebulite::cli {

namespace {

using namespace png_glue;

struct PngSink {
    std::vector<uint8_t>* out;
};

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    sink->out->insert(sink->out->end(), data, data + length);
}

void pngFlush(png_structp) {}

// One row of the planar store, interleaved as PNG holds it (16-bit samples
// scaled to 0..65535, big-endian).
void interleaveRow(const Image& image, int r, uint8_t* out) {
    auto columns = static_cast<size_t>(image.columns);
    auto planes = static_cast<size_t>(image.planes);
    for (size_t p = 0; p < planes; ++p) {
        size_t first = image.index(static_cast<int>(p), r, 0);
        if (image.depth == 16) {
            const uint16_t* in = image.wide.data() + first;
            for (size_t c = 0; c < columns; ++c) {
                uint16_t w = hostToFull16(in[c]);
                out[(c * planes + p) * 2] = static_cast<uint8_t>(w >> 8);
                out[(c * planes + p) * 2 + 1] = static_cast<uint8_t>(w & 0xFF);
            }
        } else {
            const uint8_t* in = image.narrow.data() + first;
            for (size_t c = 0; c < columns; ++c) out[c * planes + p] = in[c];
        }
    }
}

struct PngWriteJob {
    const Image* image;
    int colorType;
    std::vector<uint8_t>* row;  // one interleaved row, sized by the caller
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
    const Image& image = *job->image;
    png_set_IHDR(png, info, static_cast<uint32_t>(image.columns), static_cast<uint32_t>(image.rows), image.depth,
                 job->colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (image.depth == 16) {
        // A 16-bit frame's low bytes are mostly noise, which no filter or
        // match search makes much smaller: libpng's default (every filter
        // tried on every row, zlib level 6) costs ten to twenty times the
        // time of one Sub filter and run-length matching at level 1, for a
        // file within a percent of the size (bench/run.sh measures both
        // beside netpbm's pnmtopng).
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_level(png, 1);
        png_set_compression_strategy(png, Z_RLE);
    }
    if (!job->chunks->empty()) {
        // An unsafe-to-copy chunk is written only when asked for by name.
        for (const auto& [type, name] : kResourceChunks)
            png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, reinterpret_cast<png_const_bytep>(name), 1);
        png_set_unknown_chunks(png, info, job->chunks->data(), static_cast<int>(job->chunks->size()));
        for (int i = 0; i < static_cast<int>(job->chunks->size()); ++i)
            png_set_unknown_chunk_location(png, info, i, PNG_HAVE_IHDR);
    }
    png_write_info(png, info);
    for (int r = 0; r < image.rows; ++r) {
        interleaveRow(image, r, job->row->data());
        png_write_row(png, job->row->data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<uint8_t> encodePng(const Document& document) {
    const Image& image = document.image;
    requireWritable(image);
    size_t sampleBytes = image.depth == 16 ? 2 : 1;
    size_t rowBytes = static_cast<size_t>(image.columns) * static_cast<size_t>(image.planes) * sampleBytes;
    std::vector<uint8_t> row(rowBytes);
    // libpng copies the chunk data; the records themselves stay in the document.
    std::vector<png_unknown_chunk> chunks;
    for (const auto& [type, name] : kResourceChunks) {
        auto it = document.resources.find(type);
        if (it == document.resources.end()) continue;
        for (const host::ResourceRecord& record : it->second) {
            png_unknown_chunk chunk{};
            std::memcpy(chunk.name, name, 5);
            chunk.data = const_cast<png_bytep>(record.data());
            chunk.size = record.size();
            chunk.location = PNG_HAVE_IHDR;
            chunks.push_back(chunk);
        }
    }
    // Room for the samples as they are: noisy frames hardly compress, and
    // pages reserved but never written cost nothing.
    std::vector<uint8_t> out;
    out.reserve(rowBytes * static_cast<size_t>(image.rows) + (size_t{1} << 16));
    PngWriteJob job{&image, image.planes == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, &row, &chunks, &out, {}};
    if (!runPngWrite(&job))
        throw ImageError(writErr, std::string("PNG encoding failed: ") + job.message.text);
    return out;
}

void savePng(const Document& document, const std::string& path) { writeFileBytes(path, encodePng(document)); }

}  // namespace nebulite::cli
