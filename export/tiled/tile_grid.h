// The tiling of a save: the tile size resolved (the default rows, or
// HCOMPRESS's bands as fpack chooses them; a tile longer than its axis
// holds the axis, as cfitsio writes it) and the grid of tiles it makes.
#pragma once

#include "export/tiled/layout.h"
#include "export/tiled/save_params.h"

namespace nebulite::tiledsave {

// badTile for a tile of 0 on one side only, tooLarge when the counts pass
// 64 bits. The geometry is checked before (planSave).
SaveError resolveGrid(const SaveParams& params, TileGrid& grid);

// The tile of table row `row` (from 0): its first column and row within
// its plane, its size, and its plane.
struct TileRect {
    uint64_t x = 0;
    uint64_t y = 0;
    uint64_t columns = 0;
    uint64_t rows = 0;
    uint64_t plane = 0;
};
TileRect tileRect(const SaveParams& params, const TileGrid& grid, uint64_t row);

// The shapes the tiles take: whole, cut at the right edge, cut at the
// bottom, cut at both. Working sizes are taken over all of them, since an
// encoder's scratch need not shrink with the tile (the noise estimate
// takes a tile narrower than 9 pixels as one long row).
struct TileShape {
    uint64_t rows = 0;
    uint64_t columns = 0;
};
uint32_t tileShapes(const SaveParams& params, const TileGrid& grid, TileShape (&shapes)[4]);

}  // namespace nebulite::tiledsave
