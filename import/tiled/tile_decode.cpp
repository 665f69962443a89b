#include "import/tiled/tile_decode.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "codecs/big_endian.h"
#include "codecs/gzip_tile.h"
#include "codecs/hcompress.h"
#include "codecs/plio.h"
#include "codecs/quantize.h"
#include "codecs/raw_tile.h"
#include "codecs/rice.h"
#include "import/tiled/tile_table.h"
#include "header/fits_units.h"

namespace nebulite::tiled {

namespace {

using codecs::Algorithm;
using codecs::CodecResult;
using codecs::loadBE;
using codecs::storeBE;

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

// A big-endian integer element: signed, except 8-bit samples (unsigned).
inline int64_t integerElement(const uint8_t* p, size_t bytes) {
    const uint64_t bits = loadBE(p, static_cast<uint32_t>(bytes));
    const int shift = bytes == 1 ? 0 : 64 - 8 * static_cast<int>(bytes);
    return shift == 0 ? static_cast<int64_t>(bits) : static_cast<int64_t>(bits << shift) >> shift;
}

// The range a BITPIX holds: 8-bit samples are unsigned.
struct Range {
    int64_t low;
    int64_t high;
};
constexpr Range rangeOf(int32_t bitpix) {
    switch (bitpix) {
        case 8: return {0, 255};
        case 16: return {INT16_MIN, INT16_MAX};
        case 32: return {INT32_MIN, INT32_MAX};
        default: return {INT64_MIN, INT64_MAX};
    }
}

void storeFloat(uint8_t* p, double v, int32_t bitpix) {
    if (bitpix == -32)
        storeBE(p, std::bit_cast<uint32_t>(static_cast<float>(v)), 4);
    else
        storeBE(p, std::bit_cast<uint64_t>(v), 8);
}

// How an integer image's decoded values become its samples: its null value
// mapped to BLANK, the PLIO rule, the clamp to the BITPIX's range.
struct IntegerRules {
    Range range;
    int64_t shift = 0;
    bool mapNull = false;
    int64_t null = 0;
    int64_t blank = 0;
};

IntegerRules integerRulesOf(const TiledImage& image, std::span<const uint8_t> row) {
    IntegerRules r{rangeOf(image.bitpix)};
    // CFITSIO's PLIO writer stores an unsigned 16-bit image's values as they
    // are, not offset by BZERO as every other algorithm does.
    r.shift = image.algorithm == Algorithm::plio && image.bitpix == 16 && image.bzero == 32768.0 ? 32768 : 0;
    const bool hasNull = image.zblankColumn.present || image.zblankKeyword;
    r.null = scalarInteger(row, image.zblankColumn, image.zblank);
    r.mapNull = hasNull && image.blankKeyword && r.null != image.blank;
    r.blank = image.blank;
    return r;
}

// Samples of sizeof(Bits) bytes, big-endian, from values of any width.
template <typename Bits, typename Value>
void storeIntegersAs(std::span<const Value> values, const IntegerRules& r, uint8_t* out) {
    for (size_t i = 0; i < values.size(); ++i) {
        int64_t v = values[i];
        if (r.mapNull && v == r.null)
            v = r.blank;
        else
            v = std::clamp(v - r.shift, r.range.low, r.range.high);
        codecs::storeBigEndian<Bits>(out + i * sizeof(Bits), static_cast<Bits>(v));
    }
}

// The integer image's pixels, with its null value and the PLIO rule applied.
template <typename Value>
void storeIntegers(const TiledImage& image, std::span<const Value> values, std::span<const uint8_t> row,
                   std::span<uint8_t> out) {
    const IntegerRules r = integerRulesOf(image, row);
    switch (sampleBytes(image)) {
        case 1: storeIntegersAs<uint8_t>(values, r, out.data()); break;
        case 2: storeIntegersAs<uint16_t>(values, r, out.data()); break;
        case 4: storeIntegersAs<uint32_t>(values, r, out.data()); break;
        default: storeIntegersAs<uint64_t>(values, r, out.data()); break;
    }
}

// Where decodeCompressed left the tile's integers: work.ints (32-bit
// codecs) or work.wide, and the element width of gzip'd or raw ones.
struct Decoded {
    bool narrow = false;
    size_t gzipElement = 0;
};

// The tile's integers from COMPRESSED_DATA into work.ints or work.wide.
TileResult decodeCompressed(const TiledImage& image, std::span<const uint8_t> in, const int64_t* size, size_t n,
                            const TileWorkspace& work, Decoded& decoded) {
    const std::span<int64_t> wide = work.wide.first(n);
    const std::span<int32_t> ints = work.ints.first(n);
    size_t& gzipElement = decoded.gzipElement;
    CodecResult r = CodecResult::unsupported;
    switch (image.algorithm) {
        case Algorithm::rice:
            decoded.narrow = true;
            r = codecs::riceDecode(in, image.riceBytePix, image.riceBlockSize, ints);
            break;
        case Algorithm::plio:
            decoded.narrow = true;
            r = codecs::plioDecode(in, ints);
            break;
        case Algorithm::hcompress: {
            // Rows of the tile are along axis 2 (1 for a one-axis image).
            const auto rows = static_cast<uint32_t>(image.naxis > 1 ? size[1] : 1);
            const auto columns = static_cast<uint32_t>(size[0]);
            if (static_cast<size_t>(rows) * columns != n) return TileResult::unsupported;
            r = codecs::hcompressDecode(in, rows, columns, wide, work.bytes);
            break;
        }
        case Algorithm::gzip1:
        case Algorithm::gzip2: {
            const std::span<uint8_t> inflated = work.bytes.first(n * 8);
            const codecs::Inflated z = codecs::inflateTile(in, inflated, work.inflate);
            if (z.result != CodecResult::ok) return fromCodec(z.result);
            gzipElement = codecs::elementBytesOf(z.bytes, n);
            if (gzipElement == 0) return TileResult::corrupt;
            std::span<const uint8_t> elements = inflated.first(z.bytes);
            if (image.algorithm == Algorithm::gzip2) {
                const std::span<uint8_t> whole = work.bytes.subspan(n * 8, z.bytes);
                if (auto u = codecs::unshuffleBytes(elements, gzipElement, whole); u != CodecResult::ok)
                    return fromCodec(u);
                elements = whole;
            }
            // Lossless float bits pass through as integers of their width.
            for (size_t i = 0; i < n; ++i) wide[i] = integerElement(elements.data() + i * gzipElement, gzipElement);
            return TileResult::ok;
        }
        case Algorithm::none: {
            // astropy's NOCOMPRESS: raw big-endian samples in COMPRESSED_DATA.
            if (in.size() != n * sampleBytes(image)) return TileResult::corrupt;
            gzipElement = sampleBytes(image);
            for (size_t i = 0; i < n; ++i) wide[i] = integerElement(in.data() + i * gzipElement, gzipElement);
            return TileResult::ok;
        }
        case Algorithm::unknown: break;
    }
    return fromCodec(r);
}

// Raw float or integer elements (a gzip fallback tile, UNCOMPRESSED_DATA,
// lossless float tiles) of `element` bytes into the image's samples.
TileResult storeRaw(const TiledImage& image, const uint8_t* in, size_t element, bool floatElements, size_t n,
                    std::span<uint8_t> out) {
    const uint32_t bytes = sampleBytes(image);
    for (size_t i = 0; i < n; ++i) {
        const uint64_t bits = loadBE(in + i * element, static_cast<uint32_t>(element));
        double real = 0.0;
        int64_t integer = 0;
        if (floatElements) {
            if (element == 4) real = std::bit_cast<float>(static_cast<uint32_t>(bits));
            else if (element == 8) real = std::bit_cast<double>(bits);
            else return TileResult::corrupt;
            // Floats in an integer image's tile: NaN has no integer; 0 stands for it.
            integer = std::isnan(real) ? 0 : static_cast<int64_t>(std::clamp(real, -9.2e18, 9.2e18));
        } else {
            integer = integerElement(in + i * element, element);
            real = static_cast<double>(integer);
        }
        uint8_t* dst = out.data() + i * bytes;
        if (image.bitpix < 0) {
            // Same width: the bits themselves, NaN patterns included.
            if (floatElements && element == bytes)
                storeBE(dst, bits, bytes);
            else
                storeFloat(dst, real, image.bitpix);
        } else {
            const Range range = rangeOf(image.bitpix);
            storeBE(dst, static_cast<uint64_t>(std::clamp(integer, range.low, range.high)), bytes);
        }
    }
    return TileResult::ok;
}

codecs::Dither ditherOf(Quantization q) {
    switch (q) {
        case Quantization::subtractive1: return codecs::Dither::subtractive1;
        case Quantization::subtractive2: return codecs::Dither::subtractive2;
        default: return codecs::Dither::none;
    }
}

// How table row `row` (from 0) of a quantized image turns its integers into floats.
codecs::Unquantize unquantizeOf(const TiledImage& image, std::span<const uint8_t> rowBytes, uint64_t row) {
    codecs::Unquantize p;
    p.scale = scalarReal(rowBytes, image.zscaleColumn, image.zscale);
    p.zero = scalarReal(rowBytes, image.zzeroColumn, image.zzero);
    p.dither = ditherOf(image.quantization);
    p.hasNull = image.zblankColumn.present || image.zblankKeyword;
    p.nullValue = static_cast<int32_t>(scalarInteger(rowBytes, image.zblankColumn, image.zblank));
    p.ditherSeed = image.ditherSeed;
    p.tileRow = row + 1;
    return p;
}

}  // namespace

TileWorkspaceSize tileWorkspaceSize(const TiledImage& image) {
    const auto n = static_cast<size_t>(image.maxTilePixels);
    size_t bytes = 2 * n * 8;  // inflated, then unshuffled
    if (image.algorithm == Algorithm::hcompress) {
        const auto rows = static_cast<uint32_t>(image.naxis > 1 ? image.tile[1] : 1);
        bytes = std::max(bytes, codecs::hcompressScratchBytes(rows, static_cast<uint32_t>(image.tile[0])));
    }
    return {n, n, n, bytes};
}

bool plausibleTiling(const TiledImage& image) {
    const auto decoded = checkedMul(image.maxTilePixels, sampleBytes(image), UINT64_MAX);
    return decoded && *decoded <= SIZE_MAX / 32 &&
           codecs::plausibleTileRatio(image.algorithm, image.heapBytes, *decoded);
}

TileResult decodeTileUpToQuantized(const TiledImage& image, uint64_t row, const TileArrays& arrays,
                                   const TileWorkspace& work, std::span<uint8_t> out, QuantizedTile& quantized) {
    quantized = QuantizedTile{};
    int64_t start[kMaxTiledAxes];
    int64_t size[kMaxTiledAxes];
    const auto n = static_cast<size_t>(tileGeometry(image, row, start, size));
    const uint32_t bytes = sampleBytes(image);
    if (out.size() < n * bytes || work.wide.size() < n || work.ints.size() < n || work.reals.size() < n ||
        work.bytes.size() < tileWorkspaceSize(image).bytes)
        return TileResult::unsupported;
    out = out.first(n * bytes);

    if (!arrays.compressed.empty()) {
        if (!codecs::plausibleTileRatio(image.algorithm, arrays.compressed.size(), uint64_t{n} * bytes))
            return TileResult::ratio;
        Decoded decoded;
        if (TileResult r = decodeCompressed(image, arrays.compressed, size, n, work, decoded); r != TileResult::ok)
            return r;
        const std::span<const int64_t> values = work.wide.first(n);
        const std::span<int32_t> ints = work.ints.first(n);
        if (image.bitpix > 0) {
            if (decoded.narrow)
                storeIntegers<int32_t>(image, ints, arrays.row, out);
            else
                storeIntegers<int64_t>(image, values, arrays.row, out);
            return TileResult::ok;
        }
        if (image.quantization == Quantization::lossless || image.algorithm == Algorithm::none) {
            // GZIP of the floats themselves, or NOCOMPRESS as astropy writes it
            // (raw samples in COMPRESSED_DATA, whatever ZQUANTIZ says). Rice
            // and PLIO make no lossless floats.
            if (decoded.narrow || decoded.gzipElement != bytes) return TileResult::corrupt;
            for (size_t i = 0; i < n; ++i) storeBE(out.data() + i * bytes, static_cast<uint64_t>(values[i]), bytes);
            return TileResult::ok;
        }
        if (!decoded.narrow) {
            for (size_t i = 0; i < n; ++i) {
                // Quantized values are 32-bit; a wider one is a damaged tile.
                if (values[i] < INT32_MIN || values[i] > INT32_MAX) return TileResult::corrupt;
                ints[i] = static_cast<int32_t>(values[i]);
            }
        }
        quantized.held = true;
        quantized.ints = ints;
        quantized.params = unquantizeOf(image, arrays.row, row);
        return TileResult::ok;
    }
    if (!arrays.uncompressed.empty()) {
        const HeapColumn& c = image.uncompressed;
        const bool floats = c.type == 'E' || c.type == 'D';
        if (arrays.uncompressed.size() != n * c.elementBytes) return TileResult::corrupt;
        return storeRaw(image, arrays.uncompressed.data(), c.elementBytes, floats, n, out);
    }
    if (!arrays.gzipped.empty()) {
        if (!codecs::plausibleTileRatio(Algorithm::gzip1, arrays.gzipped.size(), uint64_t{n} * bytes))
            return TileResult::ratio;
        const std::span<uint8_t> inflated = work.bytes.first(n * 8);
        const codecs::Inflated z = codecs::inflateTile(arrays.gzipped, inflated, work.inflate);
        if (z.result != CodecResult::ok) return fromCodec(z.result);
        const size_t element = codecs::elementBytesOf(z.bytes, n);
        if (element == 0) return TileResult::corrupt;
        // The raw pixels of the image's own type: floats for a float image.
        return storeRaw(image, inflated.data(), element, image.bitpix < 0, n, out);
    }
    return TileResult::noData;
}

TileResult decodeTile(const TiledImage& image, uint64_t row, const TileArrays& arrays, const TileWorkspace& work,
                      std::span<uint8_t> out) {
    QuantizedTile quantized;
    const TileResult r = decodeTileUpToQuantized(image, row, arrays, work, out, quantized);
    if (r != TileResult::ok || !quantized.held) return r;
    const size_t bytes = sampleBytes(image);
    return fromCodec(
        codecs::unquantizeBigEndian(quantized.ints, quantized.params, bytes, out.first(quantized.ints.size() * bytes)));
}

}  // namespace nebulite::tiled
