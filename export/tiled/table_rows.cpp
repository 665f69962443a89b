#include "export/tiled/table_rows.h"

#include <bit>
#include <cstring>

#include "codecs/big_endian.h"

namespace nebulite::tiledsave {

void fillTableRow(const TableLayout& table, const EncodedTile& tile, uint64_t heapOffset, std::span<uint8_t> row) {
    std::memset(row.data(), 0, row.size());
    for (uint32_t i = 0; i < table.columns; ++i) {
        uint8_t* at = row.data() + table.offset[i];
        const Column c = table.order[i];
        if (c == Column::zscale || c == Column::zzero) {
            const double v = c == Column::zscale ? tile.zscale : tile.zzero;
            codecs::storeBE64(at, std::bit_cast<uint64_t>(v));
            continue;
        }
        if (c != tile.column || tile.elements == 0) continue;
        // The layout chose P only for heaps whose every offset and count
        // fits 31 bits.
        if (table.wide) {
            codecs::storeBE64(at, tile.elements);
            codecs::storeBE64(at + 8, heapOffset);
        } else {
            codecs::storeBE32(at, static_cast<uint32_t>(tile.elements));
            codecs::storeBE32(at + 4, static_cast<uint32_t>(heapOffset));
        }
    }
}

}  // namespace nebulite::tiledsave
