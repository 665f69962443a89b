// The range of a tile-compressed image's physical values, a tile at a time,
// for the first pass of a read that maps the image over its own range: the
// smallest and largest defined value the rows would give, without the rows.
// A quantized tile is decoded to its integers and only the pixels at its
// extreme integers are unquantized (codecs/unquantize_range.h); any other
// tile is decoded as for its rows. Exact: the range equals what widenRange
// finds over the rows of the same planes.
#pragma once

#include <cstdint>
#include <span>

#include "import/sample_conversion.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tiled_header.h"

namespace nebulite::tiled {

// Whether the range can be found this way: samples of 4 or 8 bytes (the
// ones WideRules describe) whose rules are the image's.
bool tileRangeApplies(const TiledImage& image, const WideRules& rules);

// Whether table row `row` (from 0) holds pixels of the rows a read of
// `planes` (the file's planes, from 0) takes: a tile of the first cube
// (index 0 along every axis past the third) that covers one of them.
bool tileInPlanes(const TiledImage& image, uint64_t row, std::span<const uint32_t> planes);

// Widens `range` by the physical values (`rules`) of the pixels of table row
// `row` that lie in `planes`. `samples` is the tile's buffer (see
// decodeTile), overwritten. Checks what decodeTile checks and fails as it
// would.
TileResult widenByTile(const TiledImage& image, uint64_t row, const TileArrays& arrays, const TileWorkspace& work,
                       std::span<uint8_t> samples, std::span<const uint32_t> planes, const WideRules& rules,
                       WideRange& range);

}  // namespace nebulite::tiled
