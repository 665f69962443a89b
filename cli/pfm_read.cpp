// Reading PFM: the three header lines, then the rows a chunk at a time,
// bottom row first, each sample's four bytes in the order the scale's sign
// names, into the planar store of a 32-bit image.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include "cli/pfm.h"
#include "codecs/big_endian.h"

namespace nebulite::cli {

namespace {

// Real headers are a dozen bytes; one that runs on for a kilobyte is not a
// header, and reading it whole first keeps the parsing to one buffer.
constexpr size_t kHeaderLimit = 1024;
// The longest number a header line holds: digits of a size, or a scale
// such as -1.000000e+00 with room to spare.
constexpr size_t kTokenLimit = 64;

[[noreturn]] void refuse(const std::string& what) { throw ImageError(formatCannotRead, "PFM " + what); }

struct PfmLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    int16_t planes = 1;
    bool littleEndian = false;
    size_t dataOffset = 0;

    size_t rowBytes() const { return size_t{width} * static_cast<size_t>(planes) * 4; }
    uint64_t dataBytes() const { return uint64_t{rowBytes()} * height; }
};

bool space(uint8_t c) { return std::isspace(c) != 0; }

// The next word of the header at or after `pos` (spaces before it skipped),
// with `pos` left on the character after it; nothing when the bytes end
// inside it or before it.
std::optional<std::string_view> word(std::span<const uint8_t> bytes, size_t& pos, const char* what) {
    while (pos < bytes.size() && space(bytes[pos])) ++pos;
    const size_t start = pos;
    while (pos < bytes.size() && !space(bytes[pos])) {
        if (pos - start >= kTokenLimit) refuse(std::string("header: the ") + what + " runs on");
        ++pos;
    }
    if (pos >= bytes.size()) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(bytes.data()) + start, pos - start);
}

uint32_t sideOf(std::string_view text, const char* what) {
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || text[0] == '-' ||
        text[0] == '+')
        refuse(std::string("header: ") + what + " '" + std::string(text) + "' is not a decimal number");
    return value;
}

// The header, when `bytes` holds it whole; a refusal when it cannot be one.
// `bytes` runs to the end of the file, or to kHeaderLimit bytes of it.
PfmLayout parsePfmHeader(std::span<const uint8_t> bytes) {
    if (bytes.size() < 3 || bytes[0] != 'P' || (bytes[1] != 'F' && bytes[1] != 'f') || !space(bytes[2]))
        throw ImageError(formatCannotRead, "not a PFM file (Pf or PF)");
    PfmLayout layout;
    layout.planes = bytes[1] == 'F' ? 3 : 1;
    size_t pos = 3;
    const auto width = word(bytes, pos, "width");
    const auto height = width ? word(bytes, pos, "height") : std::nullopt;
    const auto scale = height ? word(bytes, pos, "scale") : std::nullopt;
    // A word needs the whitespace after it: the last one is the single
    // character that ends the header.
    if (!scale) refuse(bytes.size() >= kHeaderLimit ? "header longer than 1024 bytes" : "header: the file ends in it");
    layout.width = sideOf(*width, "width");
    layout.height = sideOf(*height, "height");
    if (layout.width == 0 || layout.height == 0 || layout.width > kMaxSide || layout.height > kMaxSide)
        refuse("size " + std::to_string(layout.width) + "x" + std::to_string(layout.height) + " is not 1.." +
               std::to_string(kMaxSide) + " on a side");
    double value = 0.0;
    const auto [end, error] = std::from_chars(scale->data(), scale->data() + scale->size(), value);
    if (error != std::errc() || end != scale->data() + scale->size() || !std::isfinite(value) || value == 0.0)
        refuse("header: scale '" + std::string(*scale) + "' is not a non-zero number");
    layout.littleEndian = value < 0.0;
    layout.dataOffset = pos + 1;
    return layout;
}

// The image a header describes, before any sample is read. Called once the
// whole data is known to be there.
Image pfmImage(const PfmLayout& layout) {
    if (layout.dataBytes() > static_cast<uint64_t>(PTRDIFF_MAX))
        throw ImageError(memFullErr, "a PFM image of " + std::to_string(layout.dataBytes()) +
                                         " bytes is more than this build can address");
    return blankImage(layout.height, layout.width, layout.planes, 32);
}

void throwShortPfm(uint64_t have, const PfmLayout& layout) {
    throw ImageError(eofErr, "PFM data: " + std::to_string(have) + " bytes of " + std::to_string(layout.dataBytes()));
}

// Rows `first`.. of the file (0 the bottom) from `data` into the image.
void decodePfmRows(const uint8_t* data, size_t first, size_t count, const PfmLayout& layout, Image& image) {
    const bool swap = layout.littleEndian != (std::endian::native == std::endian::little);
    const auto columns = static_cast<size_t>(layout.width);
    const auto planes = static_cast<size_t>(layout.planes);
    for (size_t k = 0; k < count; ++k) {
        const uint8_t* in = data + k * layout.rowBytes();
        const auto row = static_cast<int>(layout.height - 1 - (first + k));
        for (size_t p = 0; p < planes; ++p) {
            float* out = image.real.data() + image.index(static_cast<int>(p), row, 0);
            for (size_t c = 0; c < columns; ++c) {
                uint32_t bits = 0;
                std::memcpy(&bits, in + (c * planes + p) * 4, 4);
                out[c] = std::bit_cast<float>(swap ? codecs::swapBytes(bits) : bits);
            }
        }
    }
}

}  // namespace

Image decodePfm(std::span<const uint8_t> bytes) {
    const PfmLayout layout = parsePfmHeader(bytes.first(std::min(bytes.size(), kHeaderLimit)));
    const size_t have = bytes.size() - layout.dataOffset;
    if (have < layout.dataBytes()) throwShortPfm(have, layout);
    Image image = pfmImage(layout);
    decodePfmRows(bytes.data() + layout.dataOffset, 0, layout.height, layout, image);
    return image;
}

// The rows go straight into the image through a buffer that stays in the
// cache: no copy of the whole file is held.
Document loadPfm(const std::string& path) {
    FilePtr file = openFile(path, "rb", readErr, "open");
    auto readInto = [&](uint8_t* at, size_t size) {
        size_t got = 0;
        while (got < size) {
            const size_t n = std::fread(at + got, 1, size - got, file.get());
            if (n == 0) break;
            got += n;
        }
        if (got < size && std::ferror(file.get()))
            throw ImageError(readErr, "cannot read " + path + ": " + std::strerror(errno));
        return got;
    };
    std::vector<uint8_t> head(kHeaderLimit);
    head.resize(readInto(head.data(), head.size()));
    const PfmLayout layout = parsePfmHeader(head);
    const size_t rowBytes = layout.rowBytes();
    const size_t carried = head.size() - layout.dataOffset;  // samples read along with the header
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && (size < layout.dataOffset || size - layout.dataOffset < layout.dataBytes()))
        throwShortPfm(size < layout.dataOffset ? 0 : size - layout.dataOffset, layout);

    Document document;
    document.image = pfmImage(layout);
    constexpr size_t kChunkBytes = size_t{1} << 20;
    const size_t chunkRows = std::max<size_t>(1, kChunkBytes / rowBytes);
    std::vector<uint8_t> chunk(std::max(chunkRows * rowBytes, carried));
    std::memcpy(chunk.data(), head.data() + layout.dataOffset, carried);
    size_t filled = carried;
    for (size_t row = 0; row < layout.height;) {
        const size_t rows = std::min<size_t>(chunkRows, layout.height - row);
        const size_t want = rows * rowBytes;
        if (filled < want) {
            filled += readInto(chunk.data() + filled, want - filled);
            if (filled < want) throwShortPfm(row * rowBytes + filled, layout);
        }
        decodePfmRows(chunk.data(), row, rows, layout, document.image);
        std::memmove(chunk.data(), chunk.data() + want, filled - want);
        filled -= want;
        row += rows;
    }
    return document;
}

}  // namespace nebulite::cli
