// One row of a compressed table decoded into the tile's pixels as the
// uncompressed image would hold them: big-endian samples of the image's
// BITPIX (floats for quantized tiles), the tile's own pixels in FITS order.
// Which column holds the tile, the algorithm, unquantizing and the integer
// rules (nulls, unsigned PLIO, clipped lossy HCOMPRESS) are all decided
// here, so the row assembly only places tile rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/gzip_tile.h"
#include "codecs/quantize.h"
#include "import/tiled/tiled_header.h"

namespace nebulite::tiled {

// A row's arrays, as the caller read them from the heap (empty when the
// descriptor count is 0 or the column is absent).
struct TileArrays {
    std::span<const uint8_t> row;           // the row's NAXIS1 bytes (for ZSCALE, ZZERO, ZBLANK)
    std::span<const uint8_t> compressed;    // COMPRESSED_DATA
    std::span<const uint8_t> gzipped;       // GZIP_COMPRESSED_DATA
    std::span<const uint8_t> uncompressed;  // UNCOMPRESSED_DATA
};

// Working memory for tiles of up to `pixels` pixels; sized once per image.
struct TileWorkspaceSize {
    size_t wide = 0;   // int64_t values
    size_t ints = 0;   // int32_t values
    size_t reals = 0;  // double values
    size_t bytes = 0;  // bytes
};
TileWorkspaceSize tileWorkspaceSize(const TiledImage& image);

struct TileWorkspace {
    std::span<int64_t> wide;
    std::span<int32_t> ints;
    std::span<double> reals;
    std::span<uint8_t> bytes;
    // Where zlib gets its working memory for GZIP tiles (its own malloc
    // when left empty; the module passes its allocator).
    codecs::InflateMemory inflate{};
};

enum class TileResult : uint8_t {
    ok,
    truncated,    // a tile stream ends early
    corrupt,      // a tile stream breaks its algorithm's rules, or is the wrong length
    unsupported,  // a parameter this reader does not take (BYTEPIX 8, a tiny HCOMPRESS tile)
    noMemory,     // zlib could not get its working memory
    noData,       // the row has no array at all
    ratio,        // the tile claims more pixels than its bytes can hold
};

// True when tiles of this image can be decoded from a heap of its size: no
// tile is larger than the whole heap allows under the algorithm's ratio
// limit. Asked before the workspace is sized from the tiling.
bool plausibleTiling(const TiledImage& image);

// Bytes per sample of the restored image.
constexpr uint32_t sampleBytes(const TiledImage& image) {
    return static_cast<uint32_t>(image.bitpix < 0 ? -image.bitpix : image.bitpix) / 8;
}

// Decodes table row `row` (from 0) into `out`: the tile's pixels (see
// tileGeometry) x sampleBytes bytes. The tile's own bytes come first: a
// nonempty COMPRESSED_DATA, else UNCOMPRESSED_DATA, else the gzip fallback.
TileResult decodeTile(const TiledImage& image, uint64_t row, const TileArrays& arrays, const TileWorkspace& work,
                      std::span<uint8_t> out);

// A quantized tile's integers (in the workspace) and how they become its
// floats, as decodeTile has them just before unquantizing.
struct QuantizedTile {
    bool held = false;
    std::span<const int32_t> ints;
    codecs::Unquantize params;
};

// decodeTile, except that a tile stored quantized stops at its integers:
// `quantized` holds them and `out` is left alone. Any other tile is decoded
// into `out` (quantized.held false). Every check of decodeTile is made but
// unquantizing's own (seed and row), which the codecs make.
TileResult decodeTileUpToQuantized(const TiledImage& image, uint64_t row, const TileArrays& arrays,
                                   const TileWorkspace& work, std::span<uint8_t> out, QuantizedTile& quantized);

}  // namespace nebulite::tiled
