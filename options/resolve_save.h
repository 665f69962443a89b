// Save options measured against the document: the BITPIX written, the rows'
// order, and the tiling a compressed save uses.
#pragma once

#include <cstdint>
#include <optional>

#include "options/file_facts.h"
#include "options/fixed_text.h"
#include "options/save_options.h"

namespace nebulite::options {

struct ResolvedSave {
    // Nothing automatic left (the tile spelled out), canonical.
    SaveOptions chosen;
    int16_t bitpix = 8;
    bool flipRows = false;
    Compression compression = Compression::none;
    // Tile size in rows and columns of one plane (a cube's tiles are one
    // plane deep); 0 x 0 for an uncompressed save.
    uint32_t tileRows = 0;
    uint32_t tileColumns = 0;
    // Applies to floating-point BITPIX only; 0 otherwise.
    double quantize = 0.0;
};

struct SaveResolution {
    ResolvedSave resolved;
    Message message;

    bool ok() const { return message.empty(); }
};

SaveResolution resolve(const SaveOptions& options, const SaveFacts& document);

// HCOMPRESS's default band of rows for an image of `rows` rows, as fpack
// and cfitsio choose it: the whole image up to 30 rows, else 16 rows unless
// that leaves a last band of 1 to 3 rows (too small to transform), then the
// first of 24, 20, 30, 28, 26, 22, 18, 14 that does not, else 17.
uint32_t hcompressDefaultRows(uint32_t rows);

// A tile length along an axis of `length` pixels for HCOMPRESS, as cfitsio
// settles it: a tile that would leave a last tile of 1 to 3 pixels is
// lengthened once, by the sliver shared over the whole tiles; if a sliver
// is still left, there is no such tiling (nothing). A tile longer than the
// axis stays as asked: it holds the whole axis.
std::optional<uint32_t> hcompressTileLength(uint32_t asked, uint32_t length);

}  // namespace nebulite::options
