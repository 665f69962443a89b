#include "options/resolve_save.h"

#include <algorithm>
#include <array>

#include "options/validate.h"

namespace nebulite::options {

namespace {

// HCOMPRESS cannot code a tile under 4 pixels either way.
constexpr uint32_t kSmallestHcompressSide = 4;

bool leavesSliver(uint32_t length, uint32_t tile) {
    uint32_t rest = length % tile;
    return rest != 0 && rest < kSmallestHcompressSide;
}

int16_t bitpixFor(const SaveOptions& options, const SaveFacts& document) {
    if (document.depth == 8) return 8;
    if (document.depth == 16) return 16;
    if (options.floatBitpix == FloatBitpix::original && document.keptBitpix) return *document.keptBitpix;
    return -32;
}

Message tileFor(const SaveOptions& options, const SaveFacts& document, ResolvedSave& out) {
    const uint32_t rows = document.rows;
    const uint32_t columns = document.columns;
    if (options.compression == Compression::hcompress) {
        if (rows < kSmallestHcompressSide || columns < kSmallestHcompressSide)
            return compose("HCOMPRESS needs an image of at least 4x4 pixels, not ", rows, "x", columns);
        if (options.tile) {
            std::optional<uint32_t> tileRows = hcompressTileLength(options.tile->rows, rows);
            std::optional<uint32_t> tileColumns = hcompressTileLength(options.tile->columns, columns);
            if (!tileRows || !tileColumns)
                return compose("HCOMPRESS tiles of ", options.tile->rows, "x", options.tile->columns, " leave a last tile "
                               "under 4 pixels wide in an image of ", rows, "x", columns, ": choose another tile size");
            out.tileRows = *tileRows;
            out.tileColumns = *tileColumns;
        } else {
            out.tileRows = hcompressDefaultRows(rows);
            out.tileColumns = columns;
        }
        return {};
    }
    // A tile larger than the image holds the image, as cfitsio writes it.
    if (options.tile) {
        out.tileRows = options.tile->rows;
        out.tileColumns = options.tile->columns;
    } else {
        out.tileRows = 1;
        out.tileColumns = std::max<uint32_t>(columns, 1);
    }
    return {};
}

}  // namespace

uint32_t hcompressDefaultRows(uint32_t rows) {
    if (rows <= 30) return rows;
    constexpr std::array<uint32_t, 9> kBands = {16, 24, 20, 30, 28, 26, 22, 18, 14};
    for (uint32_t band : kBands)
        if (!leavesSliver(rows, band)) return band;
    return 17;
}

std::optional<uint32_t> hcompressTileLength(uint32_t asked, uint32_t length) {
    if (asked == 0) return std::nullopt;
    if (!leavesSliver(length, asked)) return asked;
    uint32_t whole = length / asked;
    uint32_t rest = length % asked;
    uint32_t tile = asked + (rest + whole - 1) / whole;
    if (leavesSliver(length, tile)) return std::nullopt;
    return tile;
}

SaveResolution resolve(const SaveOptions& options, const SaveFacts& document) {
    SaveResolution r;
    SaveOptions asked = canonical(options);
    if (Message m = validate(asked); !m.empty()) {
        r.message = m;
        return r;
    }
    ResolvedSave& out = r.resolved;
    out.chosen = asked;
    out.bitpix = bitpixFor(asked, document);
    out.flipRows = document.keptHeader ? document.openedFlipped : asked.orientation == Orientation::sky;
    out.compression = asked.compression;
    if (asked.compression == Compression::none) return r;

    if (Message m = tileFor(asked, document, out); !m.empty()) {
        r.message = m;
        return r;
    }
    out.chosen.tile = TileSize{out.tileRows, out.tileColumns};

    if (out.bitpix < 0) {
        // cfitsio (and fpack: "-q 0 only allowed with GZIP") keeps floats
        // exactly only by gzip; RICE and HCOMPRESS code integers.
        bool gzip = asked.compression == Compression::gzip1 || asked.compression == Compression::gzip2;
        if (asked.quantize == 0.0 && !gzip)
            return SaveResolution{{}, compose("floating-point samples are compressed exactly by GZIP_1 or GZIP_2 only: "
                                              "give a quantize level above 0 to use ",
                                              asked.compression == Compression::rice ? "RICE_1" : "HCOMPRESS_1")};
        out.quantize = asked.quantize;
    }
    return r;
}

}  // namespace nebulite::options
