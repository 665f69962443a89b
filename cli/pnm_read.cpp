// Reading binary PNM: the header, then the samples a chunk of rows at a
// time, checked against maxval and scaled into the host's range.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>

#include "cli/pnm.h"
#include "codecs/big_endian.h"
#include "cli/sample_scaling.h"

namespace nebulite::cli {

namespace {

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

inline uint32_t bigEndian16(const uint8_t* p) { return codecs::loadBE16(p); }

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
                                               std::to_string(height) + " is not 1.." + std::to_string(kMaxSide) + " on a side");
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
    return blankImage(layout.height, layout.width, layout.planes, layout.maxval <= 255 ? 8 : 16);
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

Image decodePnm(std::span<const uint8_t> bytes) {
    PnmLayout layout = *parsePnmHeader(bytes, true);
    size_t have = bytes.size() - layout.dataOffset;
    if (have < layout.dataBytes()) throwShortPnm(have, layout);
    Image image = pnmImage(layout);
    PnmRowDecoder(image, layout.maxval).rows(bytes.data() + layout.dataOffset, 0, layout.height);
    return image;
}

// A PNM file straight into the image, a chunk of rows at a time through a
// buffer that stays in the cache: no copy of the whole file is ever held,
// so the image is the only large block the read touches.
Document loadPnm(const std::string& path) {
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
    Document document;
    document.image = std::move(image);
    return document;
}

}  // namespace nebulite::cli
