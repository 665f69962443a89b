// The table's rows: a tile's descriptors and scale values in the row's
// bytes, big-endian, P or Q as the layout says. A descriptor is the array's
// element count and its byte offset from the heap's start; an empty array
// is (0, 0).
#pragma once

#include <cstdint>
#include <span>

#include "export/tiled/layout.h"
#include "export/tiled/tile_encoder.h"

namespace nebulite::tiledsave {

// Fills `row` (layout.table.rowBytes) for a tile whose array starts at
// `heapOffset`: its own column's descriptor, every other array column's
// (0, 0), and for quantized tables its ZSCALE and ZZERO.
void fillTableRow(const TableLayout& table, const EncodedTile& tile, uint64_t heapOffset, std::span<uint8_t> row);

}  // namespace nebulite::tiledsave
