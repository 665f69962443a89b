// Reading TIFF through libtiff: what the file holds is checked first and
// anything but 8- or 16-bit unsigned or 32-bit floating-point grey or RGB
// refused by name; then the strips or tiles are decoded one at a time into
// the planar store.
#include <algorithm>
#include <cstring>
#include <utility>
#include <filesystem>
#include <limits>
#include <type_traits>

#include "cli/sample_scaling.h"
#include "cli/tiff.h"
#include "cli/tiff_support.h"

namespace nebulite::cli {

namespace {

using namespace tiff_support;

// What a TIFF directory says about its samples, and what the host makes of it.
struct TiffLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 1;
    uint16_t samplesPerPixel = 1;
    uint16_t planes = 1;  // the colour samples: 1 or 3; extra samples are skipped
    bool separate = false;
    bool whiteIsZero = false;
    bool floats = false;  // 32-bit IEEE samples: a 32-bit image
    bool tiled = false;
    uint32_t chunkWidth = 0;   // a tile's width, or the image's for strips
    uint32_t chunkHeight = 0;  // a tile's height, or the rows in a strip
};

[[noreturn]] void refuse(const std::string& what) {
    throw ImageError(formatCannotRead,
                     "TIFF " + what + " (nebulite reads 8- and 16-bit and 32-bit floating-point grey and RGB)");
}

std::string photometricName(uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_PALETTE: return "palette colour";
        case PHOTOMETRIC_SEPARATED: return "CMYK (separated) colour";
        case PHOTOMETRIC_YCBCR: return "YCbCr colour";
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB: return "Lab colour";
        case PHOTOMETRIC_MASK: return "a transparency mask";
        case PHOTOMETRIC_LOGL:
        case PHOTOMETRIC_LOGLUV: return "LogLuv colour";
        default: return "photometric interpretation " + std::to_string(photometric);
    }
}

std::string sampleFormatName(uint16_t format, uint16_t bits) {
    switch (format) {
        case SAMPLEFORMAT_INT: return std::to_string(bits) + "-bit signed integer samples";
        case SAMPLEFORMAT_IEEEFP: return std::to_string(bits) + "-bit floating-point samples";
        case SAMPLEFORMAT_COMPLEXINT:
        case SAMPLEFORMAT_COMPLEXIEEEFP: return "complex samples";
        default: return "samples of sample format " + std::to_string(format);
    }
}

// Extra samples are dropped only when one of them is alpha: an RGB file with
// a fourth sample of unknown meaning is not an RGB image.
bool extrasHoldAlpha(TIFF* t) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (!TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &count, &kinds)) return false;
    for (uint16_t i = 0; i < count; ++i)
        if (kinds[i] == EXTRASAMPLE_ASSOCALPHA || kinds[i] == EXTRASAMPLE_UNASSALPHA) return true;
    return false;
}

TiffLayout describe(TIFF* t) {
    TiffLayout layout;
    uint16_t photometric = 0;
    uint16_t format = SAMPLEFORMAT_UINT;
    uint16_t planar = PLANARCONFIG_CONTIG;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &layout.width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &layout.height))
        refuse("without an image size");
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric)) refuse("without a photometric interpretation");

    layout.floats = format == SAMPLEFORMAT_IEEEFP && layout.bits == 32;
    if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID && !layout.floats)
        refuse("of " + sampleFormatName(format, layout.bits));
    if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) {
        layout.planes = 1;
        layout.whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
    } else if (photometric == PHOTOMETRIC_RGB) {
        layout.planes = 3;
    } else {
        refuse("in " + photometricName(photometric));
    }
    if (layout.bits != 8 && layout.bits != 16 && !layout.floats)
        refuse("of " + std::to_string(layout.bits) + "-bit samples");
    // White at zero is a rule for levels; floats have no top to count down from.
    if (layout.floats && layout.whiteIsZero) refuse("of floating-point samples with white at zero (MinIsWhite)");
    if (layout.samplesPerPixel < layout.planes)
        refuse("with " + std::to_string(layout.samplesPerPixel) + " samples per pixel for " +
               (layout.planes == 3 ? "RGB" : "grey"));
    if (layout.samplesPerPixel > layout.planes && !extrasHoldAlpha(t))
        refuse("with " + std::to_string(layout.samplesPerPixel) + " samples per pixel and no alpha among them");
    if (layout.width == 0 || layout.height == 0 || layout.width > kMaxSide || layout.height > kMaxSide)
        throw ImageError(formatCannotRead, "TIFF size " + std::to_string(layout.width) + "x" +
                                               std::to_string(layout.height) + " is not 1.." + std::to_string(kMaxSide) + " on a side");
    layout.separate = planar == PLANARCONFIG_SEPARATE && layout.samplesPerPixel > 1;
    layout.tiled = TIFFIsTiled(t) != 0;
    if (layout.tiled) {
        if (!TIFFGetField(t, TIFFTAG_TILEWIDTH, &layout.chunkWidth) ||
            !TIFFGetField(t, TIFFTAG_TILELENGTH, &layout.chunkHeight) || layout.chunkWidth == 0 ||
            layout.chunkHeight == 0)
            refuse("with tiles of no size");
    } else {
        layout.chunkWidth = layout.width;
        uint32_t rows = layout.height;
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows);
        layout.chunkHeight = std::clamp<uint32_t>(rows, 1, layout.height);
    }
    return layout;
}

// Copies one decoded strip or tile into the store: `columns` x `rows` pixels
// at (x0, y0), rows `stride` bytes apart, `step` samples to a pixel, the
// sample of plane p at offset `first + p` (contiguous) or the chunk's single
// plane `plane` (planar).
struct ChunkPlace {
    uint32_t x0, y0, columns, rows;
    size_t stride;
    size_t step;
    int firstPlane, planeCount;
};

template <typename T>
void storeChunk(const uint8_t* data, const ChunkPlace& at, const TiffLayout& layout, Image& image) {
    for (uint32_t r = 0; r < at.rows; ++r) {
        const uint8_t* row = data + r * at.stride;
        for (int k = 0; k < at.planeCount; ++k) {
            int plane = at.firstPlane + k;
            size_t out = image.index(plane, static_cast<int>(at.y0 + r), static_cast<int>(at.x0));
            for (uint32_t c = 0; c < at.columns; ++c) {
                T v;
                std::memcpy(&v, row + (c * at.step + static_cast<size_t>(k)) * sizeof(T), sizeof(T));
                if constexpr (std::is_same_v<T, float>) {
                    image.real[out + c] = v;
                } else {
                    if (layout.whiteIsZero) v = static_cast<T>(std::numeric_limits<T>::max() - v);
                    if constexpr (sizeof(T) == 2)
                        image.wide[out + c] = full16ToHost(v);
                    else
                        image.narrow[out + c] = v;
                }
            }
        }
    }
}

void readChunks(TIFF* t, const TiffLayout& layout, Image& image, Messages& messages) {
    tmsize_t size = layout.tiled ? TIFFTileSize(t) : TIFFStripSize(t);
    size_t bytesPerSample = layout.bits / 8u;
    size_t step = layout.separate ? 1 : layout.samplesPerPixel;
    size_t stride = size_t{layout.chunkWidth} * step * bytesPerSample;
    if (size <= 0 || static_cast<uint64_t>(size) < uint64_t{stride} * layout.chunkHeight)
        throw ImageError(formatCannotRead, withLibtiffMessage("TIFF strips or tiles of no usable size", messages));
    // A strip never holds more than the image; a tile may run past its edges,
    // but one far larger than the image is a damaged or hostile file.
    uint64_t imageBytes = uint64_t{layout.width} * layout.height * layout.samplesPerPixel * bytesPerSample;
    if (static_cast<uint64_t>(size) > std::max<uint64_t>(imageBytes, uint64_t{16} << 20))
        throw ImageError(formatCannotRead, "TIFF tiles of " + std::to_string(layout.chunkWidth) + "x" +
                                               std::to_string(layout.chunkHeight) + " are larger than the image");
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    // Planar files hold each sample in chunks of their own; only the colour
    // planes are read. Contiguous ones hold every sample of a pixel together.
    int passes = layout.separate ? layout.planes : 1;
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y0 = 0; y0 < layout.height; y0 += layout.chunkHeight) {
            for (uint32_t x0 = 0; x0 < layout.width; x0 += layout.chunkWidth) {
                auto sample = static_cast<uint16_t>(pass);
                tmsize_t got = layout.tiled
                                   ? TIFFReadEncodedTile(t, TIFFComputeTile(t, x0, y0, 0, sample), buffer.data(), size)
                                   : TIFFReadEncodedStrip(t, TIFFComputeStrip(t, y0, sample), buffer.data(), size);
                ChunkPlace at{x0,
                              y0,
                              std::min(layout.chunkWidth, layout.width - x0),
                              std::min(layout.chunkHeight, layout.height - y0),
                              stride,
                              step,
                              layout.separate ? pass : 0,
                              layout.separate ? 1 : layout.planes};
                // A strip or tile that decodes to fewer bytes than the rows it covers
                // would leave part of the image unset.
                if (got < 0 || static_cast<uint64_t>(got) < uint64_t{stride} * (at.rows - 1) +
                                                                   uint64_t{at.columns} * step * bytesPerSample)
                    throw ImageError(formatCannotRead,
                                     withLibtiffMessage(std::string("TIFF: cannot decode ") +
                                                            (layout.tiled ? "tile" : "strip") + " at row " +
                                                            std::to_string(y0) + ", column " + std::to_string(x0),
                                                        messages));
                if (layout.floats)
                    storeChunk<float>(buffer.data(), at, layout, image);
                else if (bytesPerSample == 2)
                    storeChunk<uint16_t>(buffer.data(), at, layout, image);
                else
                    storeChunk<uint8_t>(buffer.data(), at, layout, image);
            }
        }
    }
}

// The most bytes one byte of a compression's data can decode to. A file
// that claims more samples than its bytes could decode to is refused
// before the image is allocated, so that a few kilobytes claiming a
// 30000 x 30000 image cost no gigabytes to refuse.
uint64_t largestExpansion(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE: return 1;
        case COMPRESSION_PACKBITS: return kPackBitsMaxExpansion;
        case COMPRESSION_LZW: return kLzwMaxExpansion;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return kDeflateTiffMaxExpansion;
        default: return kOtherCodecMaxExpansion;
    }
}

void refuseImpossibleSize(TIFF* t, const TiffLayout& layout, const std::string& path) {
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    uint64_t needed = uint64_t{layout.width} * layout.height * layout.samplesPerPixel * (layout.bits / 8u);
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return;
    // An uncompressed file must hold every sample (a short one is refused
    // with end of file, as a short FITS file is).
    if (compression == COMPRESSION_NONE && size < needed)
        throw ImageError(eofErr, "TIFF data: the file has " + std::to_string(size) + " bytes for " +
                                     std::to_string(needed) + " bytes of samples");
    if (needed / largestExpansion(compression) > size)
        throw ImageError(formatCannotRead, "TIFF: " + std::to_string(size) + " bytes cannot hold the " +
                                               std::to_string(layout.width) + "x" + std::to_string(layout.height) +
                                               " image the header claims (" + std::to_string(needed) +
                                               " bytes of samples)");
}

}  // namespace

Document loadTiff(const std::string& path) {
    Messages messages;
    // "m": read, not map: a mapped file counts against the process as it is
    // touched, doubling the peak for an uncompressed file.
    TiffPtr tiff = openTiff(path, "rm", messages);
    if (!tiff) throw ImageError(formatCannotRead, withLibtiffMessage("cannot open as TIFF", messages));
    TIFF* t = tiff.get();
    TiffLayout layout = describe(t);
    refuseImpossibleSize(t, layout, path);

    Document document;
    document.image = blankImage(layout.height, layout.width, layout.planes, layout.bits);
    Image& image = document.image;
    readChunks(t, layout, image, messages);

    uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(t, kHistoryTag, &count, &data) && data != nullptr) {
        auto records = unpackHistory({static_cast<const uint8_t*>(data), count});
        if (records && !records->empty()) document.resources[host::kHistoryResource] = std::move(*records);
    }
    // The whole-header record and the open record, each as its bytes.
    for (const auto& [tag, type] : {std::pair{kWholeHeaderTag, host::kWholeHeaderResource},
                                    std::pair{kOpenRecordTag, host::kOpenRecordResource}}) {
        if (TIFFGetField(t, tag, &count, &data) && data != nullptr && count > 0) {
            auto* bytes = static_cast<const uint8_t*>(data);
            document.resources[type] = {host::ResourceRecord(bytes, bytes + count)};
        }
    }
    if (TIFFGetField(t, kOpenRecordTag, &count, &data) && data != nullptr && count > 0) {
        auto* bytes = static_cast<const uint8_t*>(data);
        document.resources[host::kOpenRecordResource] = {host::ResourceRecord(bytes, bytes + count)};
    }
    return document;
}

}  // namespace nebulite::cli
