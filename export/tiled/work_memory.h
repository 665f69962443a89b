// The working memory of a tile-compressed save, sized from the geometry and
// the tiling alone, before the first byte is written.
//
// What is held, and why no less will do:
//  - band: the rows that cover one row of tiles, as they arrive (tileRows x
//    width x sample bytes). A tile cannot be encoded before its last row.
//  - pixels: one tile in the machine's order, the encoders' input
//    (tilePixels x sample bytes).
//  - ints: a quantized tile's integers (tilePixels x 4), floats only.
//  - scratch: HCOMPRESS's working values (hcompressEncodeScratchBytes) or
//    the noise estimate's (quantizeScratchBytes).
//  - output: the heap on its way to the sink. Each tile is encoded straight
//    into its free end, which always has room for the tile's worst case:
//    max(one tile's worst case, min(kOutputBytes, the heap's worst case)),
//    at least one block, through which the headers go too.
//  - table: the rows of up to kTableWindowBytes of the table, written in
//    place (a seek back and forth) each time they fill.
//  - deflate: zlib's state while one tile is deflated (GZIP tiles and the
//    gzip fallback of declined float tiles), at most kDeflateWorkBytes.
// The sum is the bound, and the writer reports what it really held
// (TiledWriter::peakBytes). For the default row-by-row tiling of a W-pixel
// wide image of s-byte samples that is about (3s + 4) W bytes beside the
// 180 KB output and 272 KB of zlib: a few rows, whatever the height.
#pragma once

#include <cstdint>
#include <optional>

#include "export/tiled/layout.h"
#include "header/fits_units.h"

namespace nebulite::tiledsave {

// 64 blocks (180 KB): the heap leaves in writes of this size.
constexpr uint64_t kOutputBytes = 64 * kBlockBytes;
// 32 blocks of table rows (8 to 40 bytes each) between two writes in place.
constexpr uint64_t kTableWindowBytes = 32 * kBlockBytes;
// zlib's deflate state for the tiles' settings (a 32 KiB window, memLevel 8):
// the 64 KiB window, 64 KiB each of hash heads and chains, the 64 KiB
// pending buffer and its own state of some 6 KB, with room to spare.
constexpr uint64_t kDeflateWorkBytes = 256 * 1024 + 16 * 1024;
// Each part of the block starts on this boundary (doubles, 64-bit integers).
constexpr uint64_t kPartAlignment = 16;

// The sizes for `layout` (its grid, table, maxTileBytes and heapBound set),
// or nothing when they pass what one block of memory can be.
std::optional<WorkSizes> workSizesFor(const Layout& layout);

// Rows of the table held between two writes in place.
uint64_t tableWindowRows(const Layout& layout);

}  // namespace nebulite::tiledsave
