#include "export/tiled/work_memory.h"

#include <algorithm>
#include <cstddef>

#include "codecs/hcompress_encode.h"
#include "codecs/quantize_encode.h"
#include "export/tiled/counted_memory.h"
#include "export/tiled/tile_grid.h"

namespace nebulite::tiledsave {

namespace {

constexpr uint64_t aligned(uint64_t n) { return (n + kPartAlignment - 1) / kPartAlignment * kPartAlignment; }

// Memory a span can address on every target the module builds for.
constexpr uint64_t kMaxBlock = uint64_t{SIZE_MAX} / 2 < (uint64_t{1} << 46) ? uint64_t{SIZE_MAX} / 2 : uint64_t{1} << 46;

}  // namespace

uint64_t tableWindowRows(const Layout& layout) {
    const uint64_t rows = std::max<uint64_t>(1, kTableWindowBytes / layout.table.rowBytes);
    return std::min(rows, layout.grid.count);
}

std::optional<WorkSizes> workSizesFor(const Layout& layout) {
    WorkSizes w;
    const TileGrid& g = layout.grid;
    const SaveParams& p = layout.params;
    const auto band = checkedMul(g.tileRows, layout.rowBytes, kMaxBlock);
    const auto pixels = checkedMul(g.tilePixels, layout.sampleBytes, kMaxBlock);
    const auto ints = checkedMul(g.tilePixels, layout.quantized ? 4 : 0, kMaxBlock);
    const auto table = checkedMul(tableWindowRows(layout), layout.table.rowBytes, kMaxBlock);
    if (!band || !pixels || !ints || !table || g.tileRows > SIZE_MAX || g.tileColumns > SIZE_MAX) return std::nullopt;
    w.band = *band;
    w.pixels = *pixels;
    w.ints = *ints;
    w.table = *table;
    if (g.tileRows > codecs::kHcompressMaxSide || g.tileColumns > codecs::kHcompressMaxSide) {
        if (p.algorithm == codecs::Algorithm::hcompress) return std::nullopt;
    }
    TileShape shapes[4];
    const uint32_t n = tileShapes(p, g, shapes);
    for (uint32_t i = 0; i < n; ++i) {
        const TileShape s = shapes[i];
        if (p.algorithm == codecs::Algorithm::hcompress) {
            const size_t b = codecs::hcompressEncodeScratchBytes(static_cast<uint32_t>(s.rows),
                                                                 static_cast<uint32_t>(s.columns));
            if (b == 0) return std::nullopt;
            w.scratch = std::max<uint64_t>(w.scratch, b);
        }
        if (layout.quantized)
            w.scratch = std::max<uint64_t>(w.scratch, codecs::quantizeScratchBytes(static_cast<size_t>(s.columns),
                                                                                  static_cast<size_t>(s.rows),
                                                                                  layout.sampleBytes));
    }
    w.output = std::max({uint64_t{kBlockBytes}, layout.maxTileBytes, std::min(kOutputBytes, layout.heapBound)});
    uint64_t block = 0;
    for (uint64_t part : {w.band, w.pixels, w.ints, w.scratch, w.output, w.table}) {
        const auto next = checkedAdd(block, aligned(part), kMaxBlock);
        if (!next) return std::nullopt;
        block = *next;
    }
    w.block = block;
    const bool deflates = layout.quantized || p.algorithm == codecs::Algorithm::gzip1 ||
                          p.algorithm == codecs::Algorithm::gzip2;
    w.deflate = deflates ? kDeflateWorkBytes : 0;
    // The writer keeps each block's size in 16 bytes in front of it (zlib's
    // five blocks' share is within kDeflateWorkBytes).
    w.total = w.block + CountedMemory::kOverhead + w.deflate;
    return w;
}

}  // namespace nebulite::tiledsave
