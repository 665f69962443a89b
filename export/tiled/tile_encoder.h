// One tile from the band of stored rows to its array in the heap: its
// samples gathered out of the band into the machine's order, floats
// quantized (or kept), then encoded by the tile's algorithm straight into
// the caller's output, with the column it belongs in and its table values.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/gzip_encode.h"
#include "export/tiled/layout.h"
#include "export/tiled/tile_grid.h"

namespace nebulite::tiledsave {

// The working memory one tile needs (see work_memory.h). `pixels` starts
// on a boundary fit for 8-byte values.
struct TileWork {
    std::span<uint8_t> pixels;
    std::span<int32_t> ints;
    std::span<uint8_t> scratch;
    codecs::DeflateMemory deflate;
};

struct EncodedTile {
    SaveError error = SaveError::none;  // encodeFailed, or noMemory when zlib got none
    Column column = Column::compressed;  // where the array goes
    uint64_t bytes = 0;                  // bytes written to the front of `out`
    uint64_t elements = 0;               // the descriptor's count
    double zscale = 0.0;                 // quantized tiles: ZSCALE, ZZERO; declined ones 0, 0
    double zzero = 0.0;
    bool anyNull = false;
};

// Encodes the tile `rect` (table row `row`, from 0) whose rows stand in
// `band` (the band's first row is the tile's first, layout.rowBytes apart)
// into `out`, which holds at least layout.maxTileBytes.
EncodedTile encodeTile(const Layout& layout, const TileRect& rect, uint64_t row, int32_t ditherSeed,
                       std::span<const uint8_t> band, const TileWork& work, std::span<uint8_t> out);

}  // namespace nebulite::tiledsave
