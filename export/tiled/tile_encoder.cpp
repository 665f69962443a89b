#include "export/tiled/tile_encoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <cstring>

#include "codecs/big_endian.h"
#include "codecs/hcompress_encode.h"
#include "codecs/quantize_encode.h"
#include "codecs/raw_encode.h"
#include "codecs/rice_encode.h"

namespace nebulite::tiledsave {

namespace {

using codecs::Algorithm;
using codecs::CodecResult;
using codecs::Encoded;

constexpr int kRiceBlockSize = 32;

// The unsigned integer of a sample's width, for its byte order.
template <typename T>
using BitsOf = std::conditional_t<sizeof(T) == 1, uint8_t,
               std::conditional_t<sizeof(T) == 2, uint16_t, std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;

// The tile's samples out of the band, in the machine's order, row after row.
template <typename T>
std::span<const T> gather(const Layout& layout, const TileRect& rect, std::span<const uint8_t> band,
                          std::span<uint8_t> storage) {
    // The storage came from an allocation aligned for any sample type.
    T* dst = static_cast<T*>(static_cast<void*>(storage.data()));
    size_t k = 0;
    for (uint64_t y = 0; y < rect.rows; ++y) {
        const uint8_t* src = band.data() + y * layout.rowBytes + rect.x * sizeof(T);
        for (uint64_t x = 0; x < rect.columns; ++x, ++k)
            dst[k] = std::bit_cast<T>(codecs::loadBigEndian<BitsOf<T>>(src + x * sizeof(T)));
    }
    return {dst, k};
}

template <typename T>
Encoded encodeIntegers(Algorithm algorithm, std::span<const T> px, const TileRect& rect, const TileWork& work,
                       std::span<uint8_t> out) {
    switch (algorithm) {
        case Algorithm::gzip1:
        case Algorithm::gzip2: return codecs::gzipEncode(px, algorithm, out, work.deflate);
        case Algorithm::none: return codecs::rawEncode(px, out);
        case Algorithm::rice:
            if constexpr (sizeof(T) <= 4) return codecs::riceEncode(px, kRiceBlockSize, out);
            break;
        case Algorithm::hcompress:
            if constexpr (sizeof(T) <= 4)
                return codecs::hcompressEncode(px, static_cast<uint32_t>(rect.rows), static_cast<uint32_t>(rect.columns),
                                               out, work.scratch);
            break;
        default: break;
    }
    return {CodecResult::unsupported, 0};
}

EncodedTile finished(const Encoded& e, Column column, uint64_t elementBytes) {
    EncodedTile t;
    t.column = column;
    if (e.result != CodecResult::ok) {
        t.error = e.result == CodecResult::noMemory ? SaveError::noMemory : SaveError::encodeFailed;
        return t;
    }
    t.bytes = e.bytes;
    t.elements = e.bytes / elementBytes;
    return t;
}

template <typename T>
EncodedTile encodeIntegerTile(const Layout& layout, const TileRect& rect, std::span<const uint8_t> band,
                              const TileWork& work, std::span<uint8_t> out) {
    const std::span<const T> px = gather<T>(layout, rect, band, work.pixels);
    const Algorithm a = layout.params.algorithm;
    if (a == Algorithm::none) return finished(encodeIntegers(a, px, rect, work, out), Column::uncompressed, sizeof(T));
    return finished(encodeIntegers(a, px, rect, work, out), Column::compressed, 1);
}

// True when some finite sample lies within `step` of the largest finite T.
template <typename T>
bool nearRangeEnd(std::span<const T> px, double step) {
    const double edge = static_cast<double>(std::numeric_limits<T>::max()) - step;
    for (const T x : px)
        if (std::isfinite(x) && std::fabs(static_cast<double>(x)) > edge) return true;
    return false;
}

template <typename T>
EncodedTile encodeFloatTile(const Layout& layout, const TileRect& rect, uint64_t row, int32_t seed,
                            std::span<const uint8_t> band, const TileWork& work, std::span<uint8_t> out) {
    const std::span<const T> px = gather<T>(layout, rect, band, work.pixels);
    const Algorithm a = layout.params.algorithm;
    if (!layout.quantized) {
        if (a == Algorithm::none) return finished(codecs::rawEncode(px, out), Column::uncompressed, sizeof(T));
        return finished(codecs::gzipEncode(px, a, out, work.deflate), Column::compressed, 1);
    }
    codecs::QuantizeParams q;
    q.level = layout.params.quantizeLevel;
    q.dither = layout.params.dither;
    q.ditherSeed = seed;
    q.tileRow = row + 1;
    const std::span<int32_t> ints = work.ints.first(px.size());
    const codecs::Quantized z = codecs::quantize(px, static_cast<size_t>(rect.columns), static_cast<size_t>(rect.rows),
                                                 q, ints, work.scratch);
    if (z.result != CodecResult::ok) {
        EncodedTile t;
        t.error = SaveError::encodeFailed;
        return t;
    }
    // The table says ZBLANK whether or not a NaN comes (its header is fixed
    // before the first tile), so a tile without NaNs must not hold the null
    // value either. Only a tile spanning some 2^31 steps, centred by a
    // rounded zero, can reach it; such a tile is kept exactly instead.
    bool declined = !z.quantized;
    if (!declined && !z.anyNull)
        declined = std::find(ints.begin(), ints.end(), codecs::kQuantizeNullValue) != ints.end();
    // A value within a step of the type's largest would come back up to
    // half a step further out, past it: an infinity for a finite sample
    // (fpack's files do that). Such a tile is kept exactly too.
    if (!declined) declined = nearRangeEnd(px, z.scale);
    if (declined) {
        // fpack keeps such a tile (constant, a straight ramp, a range the
        // integers cannot span) exactly: its floats gzipped in the fallback
        // column, ZSCALE and ZZERO 0.
        return finished(codecs::gzipEncode(px, Algorithm::gzip1, out, work.deflate), Column::gzipFallback, 1);
    }
    EncodedTile t = finished(encodeIntegers(a, std::span<const int32_t>(ints), rect, work, out), Column::compressed, 1);
    t.zscale = z.scale;
    t.zzero = z.zero;
    t.anyNull = z.anyNull;
    return t;
}

}  // namespace

EncodedTile encodeTile(const Layout& layout, const TileRect& rect, uint64_t row, int32_t ditherSeed,
                       std::span<const uint8_t> band, const TileWork& work, std::span<uint8_t> out) {
    switch (layout.params.bitpix) {
        case 8: return encodeIntegerTile<uint8_t>(layout, rect, band, work, out);
        case 16: return encodeIntegerTile<int16_t>(layout, rect, band, work, out);
        case 32: return encodeIntegerTile<int32_t>(layout, rect, band, work, out);
        case 64: return encodeIntegerTile<int64_t>(layout, rect, band, work, out);
        case -32: return encodeFloatTile<float>(layout, rect, row, ditherSeed, band, work, out);
        case -64: return encodeFloatTile<double>(layout, rect, row, ditherSeed, band, work, out);
        default: break;
    }
    EncodedTile t;
    t.error = SaveError::encodeFailed;
    return t;
}

}  // namespace nebulite::tiledsave
