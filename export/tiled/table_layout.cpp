#include "export/tiled/table_layout.h"

#include <algorithm>

#include "codecs/gzip_encode.h"
#include "codecs/hcompress_encode.h"
#include "codecs/raw_encode.h"
#include "codecs/rice_encode.h"
#include "export/tiled/tile_grid.h"
#include "header/fits_units.h"

namespace nebulite::tiledsave {

namespace {

using codecs::Algorithm;

constexpr int kRiceBlockSize = 32;

// The worst case of `algorithm` for a whole tile of `elementBytes`-byte
// integers; 0 when the encoder refuses it.
uint64_t integerBound(Algorithm algorithm, const TileGrid& g, uint32_t elementBytes) {
    switch (algorithm) {
        case Algorithm::rice:
            return codecs::riceMaxEncodedBytes(g.tilePixels, static_cast<int>(elementBytes), kRiceBlockSize);
        case Algorithm::gzip1:
        case Algorithm::gzip2: return codecs::gzipMaxEncodedBytes(g.tilePixels, elementBytes);
        case Algorithm::hcompress:
            if (g.tileRows > codecs::kHcompressMaxSide || g.tileColumns > codecs::kHcompressMaxSide) return 0;
            return codecs::hcompressMaxEncodedBytes(static_cast<uint32_t>(g.tileRows),
                                                    static_cast<uint32_t>(g.tileColumns),
                                                    static_cast<int>(elementBytes));
        case Algorithm::none: return codecs::rawMaxEncodedBytes(g.tilePixels, elementBytes);
        default: return 0;
    }
}

}  // namespace

TableLayout tableLayoutFor(const SaveParams& p, bool quantized, bool wide) {
    TableLayout t;
    t.wide = wide;
    const uint32_t descriptor = wide ? 16 : 8;
    auto add = [&](Column c, uint32_t bytes) {
        t.order[t.columns] = c;
        t.offset[t.columns] = static_cast<uint32_t>(t.rowBytes);
        ++t.columns;
        t.rowBytes += bytes;
    };
    add(Column::compressed, descriptor);
    if (quantized) {
        add(Column::zscale, 8);
        add(Column::zzero, 8);
        add(Column::gzipFallback, descriptor);
    } else if (p.algorithm == Algorithm::none) {
        add(Column::uncompressed, descriptor);
        t.uncompressedType = formLetterFor(p.bitpix);
        t.uncompressedBytes = static_cast<uint32_t>(p.bitpix < 0 ? -p.bitpix : p.bitpix) / 8;
    }
    return t;
}

std::optional<uint64_t> maxTileBytes(const SaveParams& p, const TileGrid& g, bool quantized) {
    const auto sample = static_cast<uint32_t>(p.bitpix < 0 ? -p.bitpix : p.bitpix) / 8;
    // The encoders' bounds are exact only while their products fit: keep a
    // tile's samples within 2^40 bytes, far past any tile a host can hold.
    if (!checkedMul(g.tilePixels, 8, uint64_t{1} << 40)) return std::nullopt;
    TileShape shapes[4];
    const uint32_t n = tileShapes(p, g, shapes);
    uint64_t bound = 0;
    for (uint32_t i = 0; i < n; ++i) {
        TileGrid shape = g;
        shape.tileRows = shapes[i].rows;
        shape.tileColumns = shapes[i].columns;
        shape.tilePixels = shapes[i].rows * shapes[i].columns;
        // Quantized tiles: their integers under the algorithm, or a declined
        // tile's floats under GZIP_1.
        const uint64_t b = integerBound(p.algorithm, shape, quantized ? 4 : sample);
        if (b == 0) return std::nullopt;
        bound = std::max(bound, b);
        if (quantized) bound = std::max(bound, codecs::gzipMaxEncodedBytes(shape.tilePixels, sample));
    }
    return bound;
}

}  // namespace nebulite::tiledsave
