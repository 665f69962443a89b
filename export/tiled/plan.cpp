#include "export/tiled/plan.h"

#include <cmath>

#include "codecs/rice_encode.h"
#include "export/tiled/table_header.h"
#include "export/tiled/table_layout.h"
#include "export/tiled/tile_grid.h"
#include "export/tiled/work_memory.h"
#include "header/fits_units.h"

namespace nebulite::tiledsave {

namespace {

using codecs::Algorithm;

SaveError checkGeometry(const SaveParams& p) {
    if (p.naxis != 2 && p.naxis != 3) return SaveError::badGeometry;
    if (p.width == 0 || p.height == 0) return SaveError::badGeometry;
    if (p.planes == 0 || (p.planes > 1 && p.naxis != 3)) return SaveError::badGeometry;
    const int32_t b = p.bitpix;
    if (b != 8 && b != 16 && b != 32 && b != 64 && b != -32 && b != -64) return SaveError::badBitpix;
    return SaveError::none;
}

SaveError checkAlgorithm(const SaveParams& p) {
    const Algorithm a = p.algorithm;
    if (a != Algorithm::rice && a != Algorithm::gzip1 && a != Algorithm::gzip2 && a != Algorithm::hcompress &&
        a != Algorithm::none)
        return SaveError::algorithmRefused;
    const bool wideCodec = a == Algorithm::rice || a == Algorithm::hcompress;
    if (p.bitpix == 64 && wideCodec) return SaveError::algorithmRefused;
    if (p.bitpix < 0) {
        if (p.floats == FloatStorage::lossless && wideCodec) return SaveError::algorithmRefused;
        if (p.floats == FloatStorage::quantized) {
            if (a == Algorithm::none) return SaveError::badQuantize;
            if (!std::isfinite(p.quantizeLevel)) return SaveError::badQuantize;
            const bool fromTile = p.ditherSeed == kSeedFromFirstTile;
            if (p.dither != codecs::Dither::none && !fromTile && (p.ditherSeed < 1 || p.ditherSeed > 10000))
                return SaveError::badQuantize;
        }
    }
    return SaveError::none;
}

}  // namespace

Plan planSave(const SaveParams& params, std::span<const char> imageCards) {
    Plan plan;
    Layout& L = plan.layout;
    L.params = params;
    if ((plan.error = checkGeometry(params)) != SaveError::none) return plan;
    if ((plan.error = checkAlgorithm(params)) != SaveError::none) return plan;
    if (params.algorithm == Algorithm::hcompress && L.params.dither == codecs::Dither::subtractive2)
        L.params.dither = codecs::Dither::subtractive1;

    plan.cards = examineImageCards(imageCards, params);
    if ((plan.error = plan.cards.error) != SaveError::none) return plan;

    L.floatImage = params.bitpix < 0;
    L.quantized = L.floatImage && params.floats == FloatStorage::quantized;
    L.sampleBytes = static_cast<uint32_t>(params.bitpix < 0 ? -params.bitpix : params.bitpix) / 8;
    L.riceBytePix = codecs::riceBytePixFor(params.bitpix);
    if ((plan.error = resolveGrid(params, L.grid)) != SaveError::none) return plan;
    L.params.tileRows = L.grid.tileRows;
    L.params.tileColumns = L.grid.tileColumns;

    const auto tile = maxTileBytes(L.params, L.grid, L.quantized);
    if (!tile) {
        plan.error = SaveError::badTile;
        return plan;
    }
    L.maxTileBytes = *tile;
    const auto heap = checkedMul(L.grid.count, L.maxTileBytes, UINT64_MAX);
    const auto row = checkedMul(params.width, L.sampleBytes, UINT64_MAX);
    const auto plane = row ? checkedMul(*row, params.height, UINT64_MAX) : std::nullopt;
    const auto data = plane ? checkedMul(*plane, params.planes, INT64_MAX) : std::nullopt;
    if (!heap || !data || *heap > INT64_MAX / 2) {
        plan.error = SaveError::tooLarge;
        return plan;
    }
    L.heapBound = *heap;
    L.rowBytes = *row;
    L.dataBytes = *data;
    const bool wide = params.descriptors == DescriptorWidth::always64 || L.heapBound > kMaxNarrowHeap;
    L.table = tableLayoutFor(L.params, L.quantized, wide);

    L.imageCards = plan.cards.moved;
    L.addExtname = !plan.cards.hasExtname;
    L.headerCards = tableHeaderCards(L);
    L.headerBytes = blockedCardBytes(L.headerCards);
    L.tableStart = kBlockBytes + L.headerBytes;
    // The whole file, heap at its worst, must have 63-bit positions.
    const auto table = checkedMul(L.table.rowBytes, L.grid.count, INT64_MAX);
    const auto beforeHeap = table ? checkedAdd(L.tableStart, *table, INT64_MAX) : std::nullopt;
    const auto end = beforeHeap ? checkedAdd(*beforeHeap, roundUpToBlock(L.heapBound), INT64_MAX) : std::nullopt;
    if (!end) {
        plan.error = SaveError::tooLarge;
        return plan;
    }
    L.tableBytes = *table;

    const auto work = workSizesFor(L);
    if (!work) {
        plan.error = SaveError::tooLarge;
        return plan;
    }
    L.work = *work;
    return plan;
}

}  // namespace nebulite::tiledsave
