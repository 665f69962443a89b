// One tile-compressed save laid out before its first byte is written: the
// tile grid, the table's columns and row, where the headers, the table and
// the heap go in the file, the most any tile can take in the heap, and the
// working memory. Everything a streaming write needs to reserve its place
// follows from the geometry and the tiling alone.
#pragma once

#include <cstdint>

#include "export/tiled/save_params.h"

namespace nebulite::tiledsave {

struct TileGrid {
    uint64_t tileRows = 0;     // ZTILE2 (at most the image's height)
    uint64_t tileColumns = 0;  // ZTILE1 (at most its width)
    uint64_t across = 0;       // tiles along a row
    uint64_t down = 0;         // tiles down a plane
    uint64_t count = 0;        // tiles of the image: the table's rows
    uint64_t tilePixels = 0;   // pixels of a whole (not edge) tile
};

// The table's columns, in the order fpack writes them.
enum class Column : uint8_t { compressed, zscale, zzero, gzipFallback, uncompressed };

struct TableLayout {
    bool wide = false;           // Q descriptors (two 64-bit integers) instead of P (two 32-bit)
    uint32_t columns = 0;
    Column order[4] = {};
    uint32_t offset[4] = {};     // byte offset of each column in a row
    char uncompressedType = 0;   // UNCOMPRESSED_DATA's elements: B I J K E D
    uint32_t uncompressedBytes = 0;
    uint64_t rowBytes = 0;       // NAXIS1

    // The byte offset of `c` in a row, or -1 when the table has no such column.
    int64_t offsetOf(Column c) const {
        for (uint32_t i = 0; i < columns; ++i)
            if (order[i] == c) return offset[i];
        return -1;
    }
};

// The working memory of the write, each part sized from the geometry and
// the tiling (see work_memory.h for why each is needed and its bound).
struct WorkSizes {
    uint64_t band = 0;     // one band of tiles as stored: tileRows x width x sample bytes
    uint64_t pixels = 0;   // one tile in the machine's order: tilePixels x sample bytes
    uint64_t ints = 0;     // a quantized tile's integers: tilePixels x 4
    uint64_t scratch = 0;  // the encoder's or the quantizer's scratch
    uint64_t output = 0;   // the heap on its way out: at least one tile's worst case
    uint64_t table = 0;    // the table's rows held before they are written in place
    uint64_t block = 0;    // the one block holding all of the above
    uint64_t deflate = 0;  // zlib's working memory while a tile is deflated
    uint64_t total = 0;    // block + deflate and the blocks' bookkeeping: the most the writer holds at once
};

struct Layout {
    SaveParams params;           // as asked, the tile filled in
    TileGrid grid;
    bool floatImage = false;
    bool quantized = false;      // float samples scaled to integers
    uint32_t sampleBytes = 0;    // |BITPIX| / 8
    int32_t riceBytePix = 0;
    TableLayout table;
    uint64_t maxTileBytes = 0;   // the most one tile's array takes in the heap
    uint64_t heapBound = 0;      // tiles x maxTileBytes
    uint64_t imageCards = 0;     // cards of the image header that go into the table header
    bool addExtname = false;     // EXTNAME = 'COMPRESSED_IMAGE', for an image without a name
    uint64_t headerCards = 0;    // the table header's cards, END included
    uint64_t headerBytes = 0;    // in whole blocks
    uint64_t tableStart = 0;     // the table's first byte in the file
    uint64_t tableBytes = 0;     // NAXIS1 x NAXIS2
    uint64_t dataBytes = 0;      // the image's uncompressed data unit
    uint64_t rowBytes = 0;       // one image row as stored
    WorkSizes work;
};

}  // namespace nebulite::tiledsave
