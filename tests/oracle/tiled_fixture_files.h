// The committed fpack files of tests/data/tiled, read without cfitsio: a
// file's bytes, an HDU's header cards, and a compressed table described by
// the module's own header code. Shared by the tests that check the tile
// decoder and the tile ranges against what funpack and astropy made of them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_table.h"
#include "import/tiled/tiled_header.h"

namespace tiled_fixtures {

using nebulite::tiled::parseTiledHeader;
using nebulite::tiled::TiledHeaderError;
using nebulite::tiled::tiledHeaderErrorName;
using nebulite::tiled::TiledImage;

inline const std::filesystem::path kFolder = std::filesystem::path(NEBULITE_SOURCE_DIR) / "tests" / "data" / "tiled";

constexpr size_t kBlock = 2880;
constexpr size_t kCard = 80;

inline std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One HDU's header in a file: its cards before END, and where its data begin.
struct Header {
    std::string cards;
    uint32_t count = 0;
    size_t dataStart = 0;
};

inline bool readHeader(const std::vector<uint8_t>& file, size_t at, Header& header) {
    for (size_t pos = at; pos + kCard <= file.size(); pos += kCard) {
        const std::string card(reinterpret_cast<const char*>(file.data() + pos), kCard);
        if (card.compare(0, 8, "END     ") == 0) {
            header.dataStart = (pos + kCard + kBlock - 1) / kBlock * kBlock;
            return true;
        }
        header.cards += card;
        ++header.count;
    }
    return false;
}

// The table of extension `hdu` (from 1): fpack's files hold an empty
// primary and then only compressed tables, so each table's own
// description says how far its data unit reaches.
inline bool findTable(const std::vector<uint8_t>& file, int hdu, Header& header, TiledImage& image) {
    Header primary;
    if (!readHeader(file, 0, primary)) return false;
    if (primary.cards.find("NAXIS   =                    0") == std::string::npos) {
        ADD_FAILURE() << "the primary holds data";
        return false;
    }
    size_t at = primary.dataStart;
    for (int n = 1;; ++n) {
        header = Header{};
        image = TiledImage{};
        if (!readHeader(file, at, header)) return false;
        const TiledHeaderError e = parseTiledHeader(header.cards.data(), header.count, image);
        if (e != TiledHeaderError::none) {
            ADD_FAILURE() << "extension " << n << ": " << tiledHeaderErrorName(e);
            return false;
        }
        if (n == hdu) return true;
        at = header.dataStart + (image.dataBytes + kBlock - 1) / kBlock * kBlock;
    }
}

// Table row `row`'s arrays, for a data unit at `data`; false when a
// descriptor is damaged.
inline bool tileArrays(const TiledImage& image, const uint8_t* data, uint64_t row,
                       nebulite::tiled::TileArrays& arrays) {
    using namespace nebulite::tiled;
    const std::span<const uint8_t> rowBytes(data + row * image.rowBytes, image.rowBytes);
    arrays = TileArrays{rowBytes, {}, {}, {}};
    std::span<const uint8_t>* targets[3] = {&arrays.compressed, &arrays.gzipped, &arrays.uncompressed};
    const HeapColumn* columns[3] = {&image.compressed, &image.gzipCompressed, &image.uncompressed};
    for (int k = 0; k < 3; ++k) {
        HeapArray a;
        const DescriptorCheck check = heapArray(rowBytes, *columns[k], image.heapBytes, a);
        if (check != DescriptorCheck::ok && check != DescriptorCheck::absent) return false;
        *targets[k] = std::span<const uint8_t>(data + image.heapOffset + a.offset, a.bytes);
    }
    return true;
}

}  // namespace tiled_fixtures
