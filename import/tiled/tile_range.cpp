#include "import/tiled/tile_range.h"

#include <bit>
#include <cmath>

#include "codecs/unquantize_range.h"
#include "import/tiled/tile_table.h"

namespace nebulite::tiled {

namespace {

using codecs::CodecResult;

TileResult fromCodec(CodecResult r) {
    switch (r) {
        case CodecResult::ok: return TileResult::ok;
        case CodecResult::truncated: return TileResult::truncated;
        case CodecResult::corrupt: return TileResult::corrupt;
        case CodecResult::unsupported: return TileResult::unsupported;
        case CodecResult::noMemory: return TileResult::noMemory;
    }
    return TileResult::corrupt;
}

// The pixels of one plane of a tile: [first, first + count).
struct Slice {
    size_t first = 0;
    size_t count = 0;
};

// A stored value's physical value under `rules`, the sample's bits as the
// row would hold them: the very conversion widenRange makes.
double physicalOf(double stored, const WideRules& rules) {
    if (rules.sampleBytes == 4) return physicalValue(std::bit_cast<uint32_t>(static_cast<float>(stored)), rules);
    return physicalValue(std::bit_cast<uint64_t>(stored), rules);
}

// Widens `range` by a quantized slice's physical values, from its stored
// range. Physical values are monotonic in the stored ones (one multiply,
// one add), so the stored extremes give the physical ones, unless one of
// them is not finite: then the values between may be, and `whole` asks for
// the slice to be unquantized and read whole.
TileResult widenByQuantized(const QuantizedTile& q, size_t floatBytes, Slice s, const WideRules& rules,
                            WideRange& range, bool& whole) {
    codecs::UnquantizedRange stored;
    const TileResult r = fromCodec(codecs::unquantizedRange(q.ints, q.params, floatBytes, s.first, s.count, stored));
    if (r != TileResult::ok || !stored.any) return r;
    const double a = physicalOf(stored.low, rules);
    const double b = physicalOf(stored.high, rules);
    whole = std::isnan(a) || std::isnan(b);
    if (whole) return TileResult::ok;
    range.lo = std::min(range.lo, std::min(a, b));
    range.hi = std::max(range.hi, std::max(a, b));
    return TileResult::ok;
}

}  // namespace

bool tileRangeApplies(const TiledImage& image, const WideRules& rules) {
    const uint32_t bytes = sampleBytes(image);
    return (bytes == 4 || bytes == 8) && rules.sampleBytes == static_cast<int>(bytes) &&
           rules.isFloat == (image.bitpix < 0);
}

bool tileInPlanes(const TiledImage& image, uint64_t row, std::span<const uint32_t> planes) {
    int64_t start[kMaxTiledAxes];
    int64_t size[kMaxTiledAxes];
    tileGeometry(image, row, start, size);
    for (uint32_t a = 3; a < image.naxis; ++a)
        if (start[a] != 0) return false;
    const int64_t z0 = image.naxis > 2 ? start[2] : 0;
    const int64_t depth = image.naxis > 2 ? size[2] : 1;
    for (const uint32_t p : planes)
        if (p >= z0 && p < z0 + depth) return true;
    return false;
}

TileResult widenByTile(const TiledImage& image, uint64_t row, const TileArrays& arrays, const TileWorkspace& work,
                       std::span<uint8_t> samples, std::span<const uint32_t> planes, const WideRules& rules,
                       WideRange& range) {
    if (!tileRangeApplies(image, rules)) return TileResult::unsupported;
    // The rows never read such a tile, nor find it damaged.
    if (!tileInPlanes(image, row, planes)) return TileResult::ok;
    QuantizedTile quantized;
    TileResult r = decodeTileUpToQuantized(image, row, arrays, work, samples, quantized);
    if (r != TileResult::ok) return r;
    int64_t start[kMaxTiledAxes];
    int64_t size[kMaxTiledAxes];
    tileGeometry(image, row, start, size);
    // The tile's pixels run along its first axis, then its second, then
    // its planes, those of the first cube (index 0 on the axes past the
    // third) before any other: plane p is its (p - z0)th run of
    // size[0] x size[1] pixels.
    const auto planePixels = static_cast<size_t>(size[0] * (image.naxis > 1 ? size[1] : 1));
    const int64_t z0 = image.naxis > 2 ? start[2] : 0;
    const int64_t depth = image.naxis > 2 ? size[2] : 1;
    const size_t bytes = sampleBytes(image);
    bool unquantized = !quantized.held;
    for (const uint32_t p : planes) {
        if (p < z0 || p >= z0 + depth) continue;
        const Slice s{static_cast<size_t>(p - z0) * planePixels, planePixels};
        if (!unquantized) {
            bool whole = false;
            r = widenByQuantized(quantized, bytes, s, rules, range, whole);
            if (r != TileResult::ok) return r;
            if (!whole) continue;
            // The whole tile's samples, as its rows would have them.
            r = fromCodec(codecs::unquantizeBigEndian(quantized.ints, quantized.params, bytes,
                                                      samples.first(quantized.ints.size() * bytes)));
            if (r != TileResult::ok) return r;
            unquantized = true;
        }
        widenRange(samples.data() + s.first * bytes, s.count, rules, range);
    }
    return TileResult::ok;
}

}  // namespace nebulite::tiled
