// The tile codecs against fpack and funpack.
//
// Each case writes an image with cfitsio, compresses it with fpack (a
// separate program) under one algorithm and quantization, then takes every
// tile's raw bytes out of the table and decodes them with our codecs alone.
// The pixels must equal funpack's expansion of the same file exactly: bit
// for bit for floats, quantized or not. The test links only the codecs and
// cfitsio (to write inputs and read the reference), never the module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "codecs/gzip_tile.h"
#include "codecs/hcompress.h"
#include "codecs/plio.h"
#include "codecs/quantize.h"
#include "codecs/raw_tile.h"
#include "codecs/rice.h"
#include "tests/oracle/tile_oracle.h"

namespace {

using namespace tile_oracle;
using namespace nebulite::codecs;

#define FITS_OK(call)                                                        \
    do {                                                                     \
        int status = 0;                                                      \
        call;                                                                \
        ASSERT_EQ(status, 0) << #call << ": " << cfitsioError(status);       \
    } while (0)

// ---- Inputs ------------------------------------------------------------------

using Generator = std::function<double(int64_t x, int64_t y, std::mt19937_64& random)>;

double noise(std::mt19937_64& r, double sigma) {
    std::normal_distribution<double> d(0.0, sigma);
    return d(r);
}

// A sky of Gaussian noise around `level` with a few bright stars.
Generator sky(double level, double sigma) {
    return [=](int64_t x, int64_t y, std::mt19937_64& r) {
        double v = level + noise(r, sigma);
        const double dx = static_cast<double>(x % 40) - 20, dy = static_cast<double>(y % 30) - 15;
        v += 40 * sigma * std::exp(-(dx * dx + dy * dy) / 8.0);
        return v;
    };
}

// Rows that are constant, rows of full-range random values and noise rows:
// Rice's three kinds of block.
Generator blockKinds(double low, double high) {
    return [=](int64_t x, int64_t y, std::mt19937_64& r) {
        switch (y % 3) {
            case 0: return low + 7;
            case 1: return std::uniform_real_distribution<double>(low, high)(r);
            default: return (low + high) / 2 + noise(r, 30) + static_cast<double>(x % 5);
        }
    };
}

struct ImageSpec {
    int bitpix;
    std::vector<long> axes;
    Generator value;
    double bzero = 0.0;      // written as BZERO (unsigned 16-bit: 32768)
    bool withNaNs = false;   // every 97th pixel NaN (floats)
    bool withZeros = false;  // every 13th pixel exactly 0.0 (floats)
};

void writeImage(const std::string& path, const ImageSpec& wanted) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_create_file(&f, ("!" + path).c_str(), &status);
    std::vector<long> axes = wanted.axes;
    fits_create_img(f, wanted.bitpix, static_cast<int>(axes.size()), axes.data(), &status);
    if (wanted.bzero != 0.0) {
        double zero = wanted.bzero, one = 1.0;
        fits_update_key(f, TDOUBLE, "BZERO", &zero, nullptr, &status);
        fits_update_key(f, TDOUBLE, "BSCALE", &one, nullptr, &status);
    }
    const char* text = "tile test";
    fits_update_key(f, TSTRING, "OBJECT", const_cast<char*>(text), "kept through compression", &status);
    int64_t n = 1;
    for (long a : axes) n *= a;
    std::mt19937_64 random(static_cast<uint64_t>(n) * 7919u + static_cast<uint64_t>(wanted.bitpix + 100));
    std::vector<double> pixels(static_cast<size_t>(n));
    const double lo = wanted.bitpix == 8 ? 0 : wanted.bitpix == 16 ? -32768 : wanted.bitpix == 32 ? -2147483648.0 : -1e300;
    const double hi = wanted.bitpix == 8 ? 255 : wanted.bitpix == 16 ? 32767 : wanted.bitpix == 32 ? 2147483647.0 : 1e300;
    for (int64_t i = 0; i < n; ++i) {
        double v = wanted.value(i % axes[0], i / axes[0], random);
        if (wanted.bitpix > 0) v = std::clamp(std::round(v), lo, hi) + wanted.bzero;
        if (wanted.withZeros && i % 13 == 5) v = 0.0;
        if (wanted.withNaNs && i % 97 == 3) v = std::numeric_limits<double>::quiet_NaN();
        pixels[static_cast<size_t>(i)] = v;
    }
    // Physical values through BZERO, as a writer of unsigned data does.
    double nan = std::numeric_limits<double>::quiet_NaN();
    if (wanted.bitpix < 0)
        fits_write_imgnull(f, TDOUBLE, 1, n, pixels.data(), &nan, &status);
    else
        fits_write_img(f, TDOUBLE, 1, n, pixels.data(), &status);
    fits_close_file(f, &status);
    if (status != 0) ADD_FAILURE() << "writing " << path << ": " << cfitsioError(status);
}

// ---- Decoding every tile with our codecs --------------------------------------------

// The image as our codecs rebuild it: stored integers (before BZERO) for
// integer images, floats for float images (NaN for nulls).
struct Decoded {
    std::vector<int64_t> integers;
    std::vector<double> floats;
    std::string failure;
};

// A tile's integers from its COMPRESSED_DATA bytes under the table's algorithm.
CodecResult decodeIntegers(const CompressedTable& t, const std::vector<uint8_t>& in, const std::vector<int64_t>& dims,
                           std::vector<int64_t>& out, size_t& gzipElementBytes) {
    const size_t n = out.size();
    const std::span<const uint8_t> bytes(in);
    if (t.cmptype == "RICE_1" || t.cmptype == "RICE_ONE") {
        std::vector<int32_t> v(n);
        const auto r = riceDecode(bytes, static_cast<int>(t.param("BYTEPIX", kRiceDefaultBytePix)),
                                  static_cast<int>(t.param("BLOCKSIZE", kRiceDefaultBlockSize)), v);
        std::copy(v.begin(), v.end(), out.begin());
        return r;
    }
    if (t.cmptype == "PLIO_1") {
        std::vector<int32_t> v(n);
        const auto r = plioDecode(bytes, v);
        std::copy(v.begin(), v.end(), out.begin());
        return r;
    }
    if (t.cmptype == "HCOMPRESS_1") {
        const auto rows = static_cast<uint32_t>(dims.size() > 1 ? dims[1] : 1);
        const auto columns = static_cast<uint32_t>(dims[0]);
        std::vector<uint8_t> scratch(hcompressScratchBytes(rows, columns));
        return hcompressDecode(bytes, rows, columns, out, scratch);
    }
    if (t.cmptype == "GZIP_1" || t.cmptype == "GZIP_2") {
        std::vector<uint8_t> inflated(n * 8);
        const Inflated r = inflateTile(bytes, inflated);
        if (r.result != CodecResult::ok) return r.result;
        const size_t eb = elementBytesOf(r.bytes, n);
        if (eb == 0) return CodecResult::corrupt;
        inflated.resize(r.bytes);
        if (t.cmptype == "GZIP_2") {
            std::vector<uint8_t> shuffled = inflated;
            if (auto u = unshuffleBytes(shuffled, eb, inflated); u != CodecResult::ok) return u;
        }
        gzipElementBytes = eb;
        if (t.zbitpix < 0 && (t.zquantiz == "NONE" || (t.zscaleKey == std::nullopt && t.rows[0].zscale == std::nullopt))) {
            // Raw IEEE floats: kept as their bit patterns.
            for (size_t i = 0; i < n; ++i) {
                uint64_t bits = 0;
                for (size_t b = 0; b < eb; ++b) bits = bits << 8 | inflated[i * eb + b];
                out[i] = static_cast<int64_t>(bits);
            }
            return CodecResult::ok;
        }
        if (eb == 8) return bigEndianToInt64(inflated, out);
        std::vector<int32_t> v(n);
        const auto r2 = bigEndianToInt32(inflated, eb, v);
        std::copy(v.begin(), v.end(), out.begin());
        return r2;
    }
    return CodecResult::unsupported;
}

double floatFromBits(uint64_t bits, size_t bytes) {
    if (bytes == 4) {
        float f;
        const auto b = static_cast<uint32_t>(bits);
        std::memcpy(&f, &b, 4);
        return f;
    }
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

Decoded decodeTable(const CompressedTable& t) {
    Decoded d;
    const size_t naxes = t.znaxis.size();
    size_t total = 1;
    std::vector<int64_t> tilesPerAxis(naxes);
    size_t tileCount = 1;
    for (size_t k = 0; k < naxes; ++k) {
        total *= static_cast<size_t>(t.znaxis[k]);
        tilesPerAxis[k] = (t.znaxis[k] + t.ztile[k] - 1) / t.ztile[k];
        tileCount *= static_cast<size_t>(tilesPerAxis[k]);
    }
    if (tileCount != t.rows.size()) {
        d.failure = "row count " + std::to_string(t.rows.size()) + " for " + std::to_string(tileCount) + " tiles";
        return d;
    }
    const bool isFloat = t.zbitpix < 0;
    if (isFloat)
        d.floats.assign(total, 0.0);
    else
        d.integers.assign(total, 0);
    for (size_t row = 0; row < t.rows.size(); ++row) {
        const TileRow& r = t.rows[row];
        // The tile's first pixel and its (possibly partial) size, axis 1 fastest.
        std::vector<int64_t> start(naxes), dims(naxes);
        size_t rest = row, n = 1;
        for (size_t k = 0; k < naxes; ++k) {
            start[k] = static_cast<int64_t>(rest % static_cast<size_t>(tilesPerAxis[k])) * t.ztile[k];
            rest /= static_cast<size_t>(tilesPerAxis[k]);
            dims[k] = std::min(t.ztile[k], t.znaxis[k] - start[k]);
            n *= static_cast<size_t>(dims[k]);
        }
        std::vector<int64_t> tile(n);
        std::vector<double> values(n);
        CodecResult result = CodecResult::ok;
        bool quantized = isFloat && (r.zscale || t.zscaleKey);
        size_t eb = 0;
        bool rawFloats = false;
        if (!r.compressed.empty()) {
            result = decodeIntegers(t, r.compressed, dims, tile, eb);
            rawFloats = isFloat && eb != 0 && !quantized;
        } else if (!r.raw.empty()) {
            // UNCOMPRESSED_DATA: big-endian elements of the column's own type.
            for (size_t i = 0; i < n && (i + 1) * r.rawElementBytes <= r.raw.size(); ++i) {
                uint64_t bits = 0;
                for (size_t b = 0; b < r.rawElementBytes; ++b) bits = bits << 8 | r.raw[i * r.rawElementBytes + b];
                if (r.rawType == 'E' || r.rawType == 'D')
                    values[i] = floatFromBits(bits, r.rawElementBytes);
                else {
                    const int shift = 64 - 8 * static_cast<int>(r.rawElementBytes);
                    tile[i] = static_cast<int64_t>(bits << shift) >> shift;
                    values[i] = static_cast<double>(tile[i]);
                }
            }
            quantized = false;
        } else if (!r.gzipped.empty()) {
            // A tile the declared algorithm could not take: gzip of its raw pixels.
            std::vector<uint8_t> inflated(n * 8);
            const Inflated z = inflateTile(r.gzipped, inflated);
            result = z.result;
            eb = elementBytesOf(z.bytes, n);
            for (size_t i = 0; i < n && eb != 0; ++i) {
                uint64_t bits = 0;
                for (size_t b = 0; b < eb; ++b) bits = bits << 8 | inflated[i * eb + b];
                tile[i] = static_cast<int64_t>(bits);
            }
            rawFloats = isFloat;
            quantized = false;
        }
        if (result != CodecResult::ok) {
            d.failure = "row " + std::to_string(row + 1) + ": " + codecResultName(result);
            return d;
        }
        if (isFloat && quantized) {
            Unquantize p;
            p.scale = r.zscale.value_or(t.zscaleKey.value_or(1.0));
            p.zero = r.zzero.value_or(t.zzeroKey.value_or(0.0));
            p.dither = t.zquantiz == "SUBTRACTIVE_DITHER_2"   ? Dither::subtractive2
                       : t.zquantiz == "SUBTRACTIVE_DITHER_1" ? Dither::subtractive1
                                                               : Dither::none;
            const auto blank = r.zblank ? r.zblank : t.zblankKey;
            p.hasNull = blank.has_value();
            p.nullValue = static_cast<int32_t>(blank.value_or(0));
            p.ditherSeed = t.zdither0.value_or(1);
            p.tileRow = row + 1;
            std::vector<int32_t> ints(n);
            for (size_t i = 0; i < n; ++i) ints[i] = static_cast<int32_t>(tile[i]);
            if (t.zbitpix == -32) {
                std::vector<float> f(n);
                result = unquantize(ints, p, f);
                for (size_t i = 0; i < n; ++i) values[i] = f[i];
            } else {
                result = unquantize(ints, p, values);
            }
        } else if (rawFloats) {
            for (size_t i = 0; i < n; ++i) values[i] = floatFromBits(static_cast<uint64_t>(tile[i]), eb);
        } else if (isFloat && r.raw.empty()) {
            for (size_t i = 0; i < n; ++i) values[i] = static_cast<double>(tile[i]);
        }
        if (!isFloat && t.cmptype == "HCOMPRESS_1" && t.zbitpix == 16)
            for (int64_t& v : tile) v = std::clamp<int64_t>(v, INT16_MIN, INT16_MAX);
        // Unsigned 16-bit PLIO tiles hold the unsigned values themselves.
        if (!isFloat && t.cmptype == "PLIO_1" && t.zbitpix == 16 && t.bzero == 32768.0)
            for (int64_t& v : tile) v -= 32768;
        // Into the image, tile row by tile row.
        for (size_t i = 0; i < n; ++i) {
            size_t q = i, index = 0, stride = 1;
            for (size_t k = 0; k < naxes; ++k) {
                const size_t c = q % static_cast<size_t>(dims[k]);
                q /= static_cast<size_t>(dims[k]);
                index += (static_cast<size_t>(start[k]) + c) * stride;
                stride *= static_cast<size_t>(t.znaxis[k]);
            }
            if (isFloat)
                d.floats[index] = values[i];
            else
                d.integers[index] = tile[i];
        }
    }
    return d;
}

// funpack's expansion, read raw: stored integers, or floats with NaN nulls.
// `path` may name an HDU in cfitsio's way ("file.fits[1]").
bool readReference(const std::string& path, int zbitpix, Decoded& ref) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_open_file(&f, path.c_str(), READONLY, &status);
    int naxis = 0;
    long axes[9] = {};
    fits_get_img_dim(f, &naxis, &status);
    fits_get_img_size(f, 9, axes, &status);
    int64_t n = 1;
    for (int i = 0; i < naxis; ++i) n *= axes[i];
    int anynul = 0;
    if (zbitpix > 0) {
        fits_set_bscale(f, 1.0, 0.0, &status);
        ref.integers.assign(static_cast<size_t>(n), 0);
        // TLONG (64-bit here): cfitsio reads compressed HDUs into it, not into TLONGLONG.
        static_assert(sizeof(long) == 8);
        std::vector<long> v(static_cast<size_t>(n));
        fits_read_img(f, TLONG, 1, n, nullptr, v.data(), &anynul, &status);
        std::copy(v.begin(), v.end(), ref.integers.begin());
    } else if (zbitpix == -32) {
        std::vector<float> v(static_cast<size_t>(n));
        float nan = std::numeric_limits<float>::quiet_NaN();
        fits_read_img(f, TFLOAT, 1, n, &nan, v.data(), &anynul, &status);
        ref.floats.assign(v.begin(), v.end());
    } else {
        ref.floats.assign(static_cast<size_t>(n), 0.0);
        double nan = std::numeric_limits<double>::quiet_NaN();
        fits_read_img(f, TDOUBLE, 1, n, &nan, ref.floats.data(), &anynul, &status);
    }
    fits_close_file(f, &status);
    if (status != 0) ADD_FAILURE() << path << ": " << cfitsioError(status);
    return status == 0;
}

void expectSame(const Decoded& ours, const Decoded& ref) {
    ASSERT_EQ(ours.integers.size(), ref.integers.size());
    ASSERT_EQ(ours.floats.size(), ref.floats.size());
    size_t shown = 0, differ = 0;
    for (size_t i = 0; i < ref.integers.size(); ++i)
        if (ours.integers[i] != ref.integers[i] && ++differ <= 5)
            ADD_FAILURE() << "pixel " << i << ": ours " << ours.integers[i] << ", funpack " << ref.integers[i];
    for (size_t i = 0; i < ref.floats.size(); ++i) {
        const double a = ours.floats[i], b = ref.floats[i];
        const bool same = (std::isnan(a) && std::isnan(b)) || a == b;
        if (!same && ++shown <= 5) ADD_FAILURE() << "pixel " << i << ": ours " << a << ", funpack " << b;
        differ += same ? 0 : 1;
    }
    EXPECT_EQ(differ, 0u);
}

// ---- The cases ---------------------------------------------------------------

struct Case {
    const char* name;
    ImageSpec image;
    const char* fpackOptions;
    const char* expectCmptype;  // ZCMPTYPE fpack writes
    const char* expectQuantiz;  // ZQUANTIZ, or "" when absent
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

const Case kCases[] = {
    // Rice: every BYTEPIX, the three block kinds, partial 2-D edge tiles, unsigned data.
    {"rice16_rows", {16, {300, 40}, sky(1000, 20)}, "-r", "RICE_1", ""},
    {"rice16_block_kinds", {16, {257, 30}, blockKinds(-32768, 32767)}, "-r", "RICE_1", ""},
    {"rice16_tiles_32x16_edges", {16, {100, 50}, sky(500, 15)}, "-r -t 32,16", "RICE_1", ""},
    {"rice16_unsigned", {16, {128, 20}, sky(40000 - 32768, 30), 32768.0}, "-r", "RICE_1", ""},
    {"rice8", {8, {211, 17}, blockKinds(0, 255)}, "-r", "RICE_1", ""},
    {"rice32", {32, {150, 25}, blockKinds(-2147483648.0, 2147483647.0)}, "-r -t 64,8", "RICE_1", ""},
    {"rice32_sky", {32, {333, 12}, sky(1e6, 300)}, "-r", "RICE_1", ""},
    {"rice16_whole_image", {16, {120, 90}, sky(200, 5)}, "-r -w", "RICE_1", ""},
    {"rice16_cube", {16, {40, 30, 3}, sky(300, 10)}, "-r -t 16,16,1", "RICE_1", ""},
    // GZIP_1 and GZIP_2 on every integer width.
    {"gzip1_16", {16, {200, 30}, sky(1000, 20)}, "-g", "GZIP_1", ""},
    {"gzip1_8", {8, {90, 20}, blockKinds(0, 255)}, "-g1 -t 30,7", "GZIP_1", ""},
    {"gzip1_32", {32, {120, 20}, sky(1e5, 100)}, "-g", "GZIP_1", ""},
    {"gzip2_16", {16, {200, 30}, sky(1000, 20)}, "-g2", "GZIP_2", ""},
    {"gzip2_32", {32, {120, 20}, blockKinds(-2147483648.0, 2147483647.0)}, "-g2 -t 50,6", "GZIP_2", ""},
    // HCOMPRESS: lossless 16 and 32 bits, edge tiles, lossy relative and absolute scale.
    {"hcompress16", {16, {100, 50}, sky(1000, 20)}, "-h", "HCOMPRESS_1", ""},
    {"hcompress16_tiles", {16, {150, 70}, sky(800, 10)}, "-h -t 64,32", "HCOMPRESS_1", ""},
    {"hcompress32", {32, {64, 64}, blockKinds(-2147483648.0, 2147483647.0)}, "-h", "HCOMPRESS_1", ""},
    {"hcompress16_lossy", {16, {100, 50}, sky(1000, 20)}, "-h -s 2.5", "HCOMPRESS_1", ""},
    {"hcompress16_lossy_absolute", {16, {97, 45}, sky(1000, 20)}, "-h -s -30", "HCOMPRESS_1", ""},
    {"hcompress32_lossy", {32, {80, 60}, sky(1e5, 200)}, "-h -s 4", "HCOMPRESS_1", ""},
    {"hcompress8", {8, {64, 40}, sky(100, 10)}, "-h", "HCOMPRESS_1", ""},
    // PLIO: values above 4095 (the SH instruction), 8-bit, unsigned 16-bit.
    {"plio16", {16, {150, 20}, [](int64_t x, int64_t y, std::mt19937_64&) {
                    return x % 17 < 5 ? 0.0 : static_cast<double>((x / 17 + y) % 4 == 0 ? 5000 + y : 7);
                }}, "-p", "PLIO_1", ""},
    {"plio8", {8, {100, 10}, [](int64_t x, int64_t, std::mt19937_64& r) {
                   return x % 9 < 3 ? 0.0 : static_cast<double>(r() % 256);
               }}, "-p", "PLIO_1", ""},
    {"plio16_unsigned", {16, {64, 8}, [](int64_t x, int64_t, std::mt19937_64&) {
                             return x % 7 == 0 ? -32768.0 : static_cast<double>(x * 100 - 32768);
                         }, 32768.0}, "-p", "PLIO_1", ""},
    // NOCOMPRESS: the UNCOMPRESSED_DATA column.
    {"nocompress16", {16, {50, 10}, sky(100, 10)}, "-d", "NOCOMPRESS", ""},
    {"nocompress32", {32, {50, 10}, sky(1e5, 100)}, "-d", "NOCOMPRESS", ""},
    // Quantized floats: dither 1 (default), no dither, dither 2 with exact zeros, fixed seeds.
    {"float32_rice_dither1", {-32, {200, 30}, sky(100, 3)}, "-r -q 4", "RICE_1", "SUBTRACTIVE_DITHER_1"},
    {"float32_rice_no_dither", {-32, {200, 30}, sky(100, 3)}, "-r -q0 4", "RICE_1", "NO_DITHER"},
    {"float32_rice_dither2_zeros", {-32, {200, 30}, sky(100, 3), 0, false, true}, "-r -qz 4", "RICE_ONE",
     "SUBTRACTIVE_DITHER_2"},
    {"float32_seed_9999_rows_wrap", {-32, {64, 40}, sky(10, 1)}, "-r -q9999 8", "RICE_1", "SUBTRACTIVE_DITHER_1"},
    {"float32_one_tile_past_wrap", {-32, {120, 120}, sky(10, 1)}, "-r -w -q 4", "RICE_1", "SUBTRACTIVE_DITHER_1"},
    {"float32_dither2_one_tile_past_wrap", {-32, {120, 120}, sky(10, 1), 0, false, true}, "-r -w -qz17 4",
     "RICE_ONE", "SUBTRACTIVE_DITHER_2"},
    {"float32_nans", {-32, {150, 20}, sky(50, 2), 0, true}, "-r -q 4", "RICE_1", "SUBTRACTIVE_DITHER_1"},
    {"float32_nans_dither2", {-32, {150, 20}, sky(50, 2), 0, true, true}, "-r -qz 4", "RICE_ONE",
     "SUBTRACTIVE_DITHER_2"},
    {"float64_rice", {-64, {150, 20}, sky(1e4, 5)}, "-r -q 4", "RICE_1", "SUBTRACTIVE_DITHER_1"},
    {"float64_gzip2_quantized", {-64, {150, 20}, sky(1e4, 5)}, "-g2 -q 4", "GZIP_2", "SUBTRACTIVE_DITHER_1"},
    {"float32_gzip1_quantized", {-32, {150, 20}, sky(1e4, 5)}, "-g -q 4", "GZIP_1", "SUBTRACTIVE_DITHER_1"},
    {"float32_hcompress_quantized", {-32, {100, 50}, sky(100, 3)}, "-h -q 4", "HCOMPRESS_1",
     "SUBTRACTIVE_DITHER_1"},
    {"float32_absolute_q", {-32, {100, 30}, sky(100, 3)}, "-r -q -0.5", "RICE_1", "SUBTRACTIVE_DITHER_1"},
    // Tiles that cannot be quantized go to GZIP_COMPRESSED_DATA.
    {"float32_gzip_fallback_rows", {-32, {100, 12}, [](int64_t x, int64_t y, std::mt19937_64& r) {
                                        if (y % 4 == 0) return 3.25;  // constant row
                                        if (y % 4 == 1) return x % 2 ? 1e30 : -1e30;
                                        return 100 + noise(r, 3);
                                    }}, "-r -q 4", "RICE_1", "SUBTRACTIVE_DITHER_1"},
    // Lossless floats.
    {"float32_lossless_gzip1", {-32, {100, 20}, sky(100, 3), 0, true}, "-g -q 0", "GZIP_1", "NONE"},
    {"float32_lossless_gzip2", {-32, {100, 20}, sky(100, 3)}, "-g2 -q 0", "GZIP_2", "NONE"},
    {"float64_lossless_gzip2", {-64, {100, 20}, sky(100, 3)}, "-g2 -q 0", "GZIP_2", "NONE"},
    // fpack -d still writes ZQUANTIZ for floats, though the tiles are raw floats.
    {"float32_nocompress", {-32, {50, 10}, sky(100, 3)}, "-d", "NOCOMPRESS", "SUBTRACTIVE_DITHER_1"},
    // Integers quantized as floats (-i2f) after fpack has looked at the noise.
    {"int16_i2f", {16, {200, 40}, sky(1000, 40)}, "-i2f -q 4", "RICE_1", "SUBTRACTIVE_DITHER_1"},
};

class TileCodecs : public ::testing::TestWithParam<Case> {};

TEST_P(TileCodecs, MatchFunpack) {
    if (!toolExists("fpack") || !toolExists("funpack")) GTEST_SKIP() << "fpack/funpack not installed";
    const Case& c = GetParam();
    TempDir dir;
    const std::string plain = dir.file("image.fits"), packed = dir.file("image.fits.fz"),
                      unpacked = dir.file("unpacked.fits");
    writeImage(plain, c.image);
    ASSERT_EQ(run(std::string("fpack ") + c.fpackOptions + " -O " + packed + " " + plain), 0) << c.fpackOptions;
    ASSERT_EQ(run("funpack -O " + unpacked + " " + packed), 0);

    auto table = readTable(packed, 2);
    ASSERT_TRUE(table);
    // The case is what it says: the algorithm and quantization fpack chose.
    EXPECT_EQ(table->cmptype, c.expectCmptype);
    EXPECT_EQ(table->zquantiz, c.expectQuantiz);

    Decoded ours = decodeTable(*table);
    ASSERT_EQ(ours.failure, "");
    Decoded ref;
    ASSERT_TRUE(readReference(unpacked, table->zbitpix, ref));
    expectSame(ours, ref);
}

INSTANTIATE_TEST_SUITE_P(Fpack, TileCodecs, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A real image (the bundled M51 sample, 16-bit unsigned through BZERO)
// compressed by fpack under every algorithm that takes it.
TEST(TileCodecs, RealImageUnderEveryAlgorithm) {
    if (!toolExists("fpack") || !toolExists("funpack")) GTEST_SKIP() << "fpack/funpack not installed";
    const std::string sample = std::string(NEBULITE_SOURCE_DIR) + "/samples/m51-64x48.fits";
    TempDir dir;
    int count = 0;
    for (const char* options : {"-r", "-r -t 16,16", "-g", "-g2", "-h", "-h -s 2", "-p", "-d", "-i2f -q 4", "-i2f -qz 2"}) {
        SCOPED_TRACE(options);
        const std::string stem = dir.file("m51-" + std::to_string(++count));
        ASSERT_EQ(run(std::string("fpack ") + options + " -O " + stem + ".fz " + sample), 0);
        ASSERT_EQ(run("funpack -O " + stem + ".fits " + stem + ".fz"), 0);
        auto table = readTable(stem + ".fz", 2);
        ASSERT_TRUE(table);
        Decoded ours = decodeTable(*table);
        ASSERT_EQ(ours.failure, "");
        Decoded ref;
        ASSERT_TRUE(readReference(stem + ".fits", table->zbitpix, ref));
        expectSame(ours, ref);
    }
}

// The compressed files astropy ships in its test data (one of them a real
// 440 x 300 image), against cfitsio reading the compressed HDU itself.
TEST(TileCodecs, AstropyTestFiles) {
    const std::string folder = "/usr/lib/python3/dist-packages/astropy/io/fits/tests/data/";
    if (!fs::exists(folder + "comp.fits")) GTEST_SKIP() << "python3-astropy's test data not installed";
    for (const char* name : {"comp.fits", "compressed_image.fits", "compressed_float_bzero.fits"}) {
        SCOPED_TRACE(name);
        auto table = readTable(folder + name, 2);
        ASSERT_TRUE(table);
        Decoded ours = decodeTable(*table);
        ASSERT_EQ(ours.failure, "");
        Decoded ref;
        ASSERT_TRUE(readReference(folder + name + "[1]", table->zbitpix, ref));
        expectSame(ours, ref);
    }
}

// Damaged tiles: every proper prefix of a real tile is refused (the bits it
// lacks are never taken for zeros), and a tile with any byte flipped decodes
// or is refused, never read or written out of bounds (the sanitizer build
// runs this too).
TEST(TileCodecs, CutAndFlippedTilesAreRefusedOrDecoded) {
    if (!toolExists("fpack")) GTEST_SKIP() << "fpack not installed";
    struct Road {
        const char* options;
        int bitpix;
    };
    const Road roads[] = {{"-r", 16}, {"-r", 8}, {"-r", 32}, {"-h", 16}, {"-h -s 4", 32}, {"-p", 16}, {"-g", 16}, {"-g2", 32}};
    TempDir dir;
    int count = 0;
    for (const Road& road : roads) {
        SCOPED_TRACE(road.options);
        const std::string stem = "cut" + std::to_string(++count);
        const std::string plain = dir.file(stem + ".fits"), packed = dir.file(stem + ".fits.fz");
        writeImage(plain, {road.bitpix, {64, 24}, road.options[1] == 'p' ? blockKinds(0, 4000) : sky(300, 12)});
        ASSERT_EQ(run(std::string("fpack ") + road.options + " -O " + packed + " " + plain), 0);
        auto table = readTable(packed, 2);
        ASSERT_TRUE(table);
        std::vector<int64_t> dims(table->znaxis.size());
        for (size_t k = 0; k < dims.size(); ++k) dims[k] = std::min(table->ztile[k], table->znaxis[k]);
        size_t n = 1;
        for (int64_t d : dims) n *= static_cast<size_t>(d);
        const std::vector<uint8_t> whole = table->rows[0].compressed;
        std::vector<int64_t> out(n);
        size_t eb = 0;
        ASSERT_EQ(decodeIntegers(*table, whole, dims, out, eb), CodecResult::ok);
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            const CodecResult r = decodeIntegers(*table, prefix, dims, out, eb);
            EXPECT_TRUE(r == CodecResult::truncated || r == CodecResult::corrupt)
                << "prefix of " << cut << " of " << whole.size() << " bytes: " << codecResultName(r);
        }
        for (size_t at = 0; at < whole.size(); ++at) {
            for (uint8_t mask : {0x01, 0x80, 0xff}) {
                std::vector<uint8_t> flipped = whole;
                flipped[at] ^= mask;
                const CodecResult r = decodeIntegers(*table, flipped, dims, out, eb);
                EXPECT_TRUE(r == CodecResult::ok || r == CodecResult::truncated || r == CodecResult::corrupt);
            }
        }
    }
}

}  // namespace
