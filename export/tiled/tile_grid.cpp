#include "export/tiled/tile_grid.h"

#include <algorithm>

#include "header/fits_units.h"
#include "options/resolve_save.h"

namespace nebulite::tiledsave {

SaveError resolveGrid(const SaveParams& p, TileGrid& grid) {
    grid = {};
    uint64_t rows = p.tileRows;
    uint64_t columns = p.tileColumns;
    if ((rows == 0) != (columns == 0)) return SaveError::badTile;
    if (rows == 0) {
        columns = p.width;
        if (p.algorithm == codecs::Algorithm::hcompress) {
            // fpack's bands: the whole image up to 30 rows, else 16 rows or
            // the first height that leaves no sliver under 4 rows.
            if (p.height > UINT32_MAX) return SaveError::tooLarge;
            rows = options::hcompressDefaultRows(static_cast<uint32_t>(p.height));
        } else {
            rows = 1;
        }
    }
    grid.tileRows = std::min(rows, p.height);
    grid.tileColumns = std::min(columns, p.width);
    grid.across = (p.width - 1) / grid.tileColumns + 1;
    grid.down = (p.height - 1) / grid.tileRows + 1;
    const auto perPlane = checkedMul(grid.across, grid.down, UINT64_MAX);
    const auto count = perPlane ? checkedMul(*perPlane, p.planes, UINT64_MAX) : std::nullopt;
    const auto pixels = checkedMul(grid.tileRows, grid.tileColumns, UINT64_MAX);
    if (!count || !pixels) return SaveError::tooLarge;
    grid.count = *count;
    grid.tilePixels = *pixels;
    return SaveError::none;
}

TileRect tileRect(const SaveParams& p, const TileGrid& grid, uint64_t row) {
    TileRect r;
    const uint64_t tx = row % grid.across;
    const uint64_t ty = row / grid.across % grid.down;
    r.plane = row / grid.across / grid.down;
    r.x = tx * grid.tileColumns;
    r.y = ty * grid.tileRows;
    r.columns = std::min(grid.tileColumns, p.width - r.x);
    r.rows = std::min(grid.tileRows, p.height - r.y);
    return r;
}

uint32_t tileShapes(const SaveParams& p, const TileGrid& grid, TileShape (&shapes)[4]) {
    const uint64_t lastRows = p.height - (grid.down - 1) * grid.tileRows;
    const uint64_t lastColumns = p.width - (grid.across - 1) * grid.tileColumns;
    uint32_t n = 0;
    for (uint64_t rows : {grid.tileRows, lastRows})
        for (uint64_t columns : {grid.tileColumns, lastColumns}) shapes[n++] = {rows, columns};
    return n;
}

}  // namespace nebulite::tiledsave
