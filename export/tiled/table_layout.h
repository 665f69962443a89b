// The compressed table's columns and the most a tile takes in its heap.
//
// Columns, as fpack writes them: COMPRESSED_DATA (bytes) always; for
// quantized floats ZSCALE and ZZERO (doubles) and GZIP_COMPRESSED_DATA for
// the tiles the quantizer declines; for NOCOMPRESS UNCOMPRESSED_DATA of the
// image's own type, with COMPRESSED_DATA left empty. fpack adds the gzip
// column only once a tile needs it; a streaming write fixes the row before
// the first tile, so a quantized table always has it (8 bytes a row).
#pragma once

#include <cstdint>
#include <optional>

#include "export/tiled/layout.h"

namespace nebulite::tiledsave {

// The columns of a table of these samples, with P or Q descriptors.
TableLayout tableLayoutFor(const SaveParams& params, bool quantized, bool wide);

// The most bytes any tile's array can take (the worst case of every
// encoding the tile may get, from the encoders' own bounds), or nothing
// when a tile is beyond what the encoders take.
std::optional<uint64_t> maxTileBytes(const SaveParams& params, const TileGrid& grid, bool quantized);

// P descriptors hold signed 32-bit counts and offsets (cfitsio and our
// reader take them so); past that the heap needs Q.
constexpr uint64_t kMaxNarrowHeap = INT32_MAX;

// The TFORM letter of an element of `bitpix`.
constexpr char formLetterFor(int32_t bitpix) {
    switch (bitpix) {
        case 8: return 'B';
        case 16: return 'I';
        case 32: return 'J';
        case 64: return 'K';
        case -32: return 'E';
        case -64: return 'D';
        default: return 0;
    }
}

}  // namespace nebulite::tiledsave
