// TiledRows' first pass for the range: the tiles the rows of the planes
// would decode, each taken only as far as its range needs.
#include "import/tiled/tile_range.h"
#include "import/tiled/tiled_rows.h"

namespace nebulite {

bool TiledRows::physicalRange(PluginState& state, const WideRules& rules, std::span<const uint32_t> planes,
                              WideRange& range) {
    if (!tiled::tileRangeApplies(image_, rules)) return false;
    if (state.result != noErr) return true;
    const int64_t depth = image_.naxis > 2 ? image_.axes[2] : 1;
    for (const uint32_t p : planes) {
        // The rows stop at the planes the image has, so does this.
        if (!band_.held() || p >= depth) {
            recordError(state, eofErr);
            return true;
        }
    }
    // The band's memory holds a whole tile when no tile buffer was needed.
    const std::span<uint8_t> samples = tile_.held() ? std::span<uint8_t>(tile_.data(), static_cast<size_t>(work_.tile))
                                                    : std::span<uint8_t>(band_.data(), static_cast<size_t>(work_.band));
    bandY_ = bandZ_ = -1;
    const tiled::TileWorkspace work = workspace();
    for (uint64_t row = 0; row < image_.rows && state.result == noErr; ++row) {
        if (!tiled::tileInPlanes(image_, row, planes)) continue;
        const tiled::TileArrays arrays = readArrays(state, row);
        if (state.result != noErr) break;
        const tiled::TileResult r = tiled::widenByTile(image_, row, arrays, work, samples, planes, rules, range);
        if (r != tiled::TileResult::ok) recordError(state, tileError(r));
    }
    return true;
}

}  // namespace nebulite
