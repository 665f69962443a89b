// Writing TIFF through libtiff: the planar store interleaved a row at a
// time, 16-bit samples scaled to 0..65535, 32-bit floats as they are, the
// header and the open record in private tags.
#include <cstring>
#include <utility>

#include "cli/sample_scaling.h"
#include "cli/tiff.h"
#include "cli/tiff_support.h"

namespace nebulite::cli {

namespace {

using namespace tiff_support;

// One row from the planar store, planes interleaved, in the machine's byte
// order (libtiff marks the file's order in its header).
void interleaveRow(const Image& image, int row, uint8_t* out) {
    auto columns = static_cast<size_t>(image.columns);
    auto planes = static_cast<size_t>(image.planes);
    for (size_t p = 0; p < planes; ++p) {
        size_t first = image.index(static_cast<int>(p), row, 0);
        if (image.depth == 32) {
            const float* in = image.real.data() + first;
            for (size_t c = 0; c < columns; ++c) std::memcpy(out + (c * planes + p) * 4, in + c, 4);
        } else if (image.depth == 16) {
            const uint16_t* in = image.wide.data() + first;
            for (size_t c = 0; c < columns; ++c) {
                uint16_t v = hostToFull16(in[c]);
                std::memcpy(out + (c * planes + p) * 2, &v, 2);
            }
        } else {
            const uint8_t* in = image.narrow.data() + first;
            for (size_t c = 0; c < columns; ++c) out[c * planes + p] = in[c];
        }
    }
}

}  // namespace

void saveTiff(const Document& document, const std::string& path) {
    const Image& image = document.image;
    requireWritable(image, true);
    Messages messages;
    TiffPtr tiff = openTiff(path, "w", messages);
    if (!tiff) throw ImageError(writErr, withLibtiffMessage("TIFF: cannot start the file", messages));
    TIFF* t = tiff.get();
    auto fail = [&](const char* what) {
        throw ImageError(writErr, withLibtiffMessage(std::string("TIFF: ") + what, messages));
    };
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.columns)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.rows)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(image.depth)) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(image.planes)) &&
              TIFFSetField(t, TIFFTAG_SAMPLEFORMAT,
                           static_cast<uint16_t>(image.depth == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT)) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                           static_cast<uint16_t>(image.planes == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK)) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG)) &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, static_cast<uint16_t>(ORIENTATION_TOPLEFT)) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<uint16_t>(COMPRESSION_NONE)) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0)) &&
              TIFFSetField(t, TIFFTAG_SOFTWARE, "nebulite " NEBULITE_VERSION);
    if (auto it = document.resources.find(host::kHistoryResource); ok && it != document.resources.end()) {
        std::vector<uint8_t> packed = packHistory(it->second);
        ok = TIFFSetField(t, kHistoryTag, static_cast<uint32_t>(packed.size()), packed.data()) != 0;
    }
    for (const auto& [tag, type] : {std::pair{kWholeHeaderTag, host::kWholeHeaderResource},
                                    std::pair{kOpenRecordTag, host::kOpenRecordResource}}) {
        if (auto it = document.resources.find(type); ok && it != document.resources.end() && !it->second.empty()) {
            const host::ResourceRecord& record = it->second.front();
            ok = TIFFSetField(t, tag, static_cast<uint32_t>(record.size()), record.data()) != 0;
        }
    }
    if (auto it = document.resources.find(host::kOpenRecordResource);
        ok && it != document.resources.end() && !it->second.empty()) {
        const host::ResourceRecord& opened = it->second.front();
        ok = TIFFSetField(t, kOpenRecordTag, static_cast<uint32_t>(opened.size()), opened.data()) != 0;
    }
    if (!ok) fail("cannot describe the image");
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(t)));
    if (row.size() < static_cast<size_t>(image.columns) * static_cast<size_t>(image.planes) *
                         static_cast<size_t>(image.depth / 8))
        fail("unexpected row size");
    for (int r = 0; r < image.rows; ++r) {
        interleaveRow(image, r, row.data());
        if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(r), 0) < 0) fail("cannot write the rows");
    }
    // The last strip and the directory go out here: a full disk shows now.
    if (TIFFFlush(t) != 1) fail("cannot write the file");
    TIFF* done = tiff.release();
    TIFFClose(done);
    if (!messages.lastError.empty()) fail("cannot write the file");
}

}  // namespace nebulite::cli
