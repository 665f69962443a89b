// The tile encoders against cfitsio's own encoders and decoders.
//
// Every encoder's output must decode through our decoders to the input
// (lossless ones exactly, quantization within its step), be byte for byte
// what cfitsio's encoder writes where cfitsio exports one (fits_rcomp*,
// fits_hcompress*, compress2mem_from_mem, fits_quantize_*), decode through
// cfitsio's decoders (fits_rdecomp*, fits_hdecompress64,
// uncompress2mem_from_mem), and fit the encoder's ...MaxEncodedBytes. A
// hand-made .fits.fz holding our tiles is read back by cfitsio's image reader
// and, where Debian's astropy is installed, by astropy. The test links only
// the codecs and cfitsio.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "codecs/big_endian.h"
#include "codecs/gzip_encode.h"
#include "codecs/gzip_tile.h"
#include "codecs/hcompress.h"
#include "codecs/hcompress_encode.h"
#include "codecs/quantize.h"
#include "codecs/quantize_encode.h"
#include "codecs/raw_encode.h"
#include "codecs/raw_tile.h"
#include "codecs/rice.h"
#include "codecs/rice_encode.h"
#include "tests/oracle/tile_oracle.h"

// cfitsio's internal codec entry points, exported by Debian's libcfitsio but
// declared only in its private fitsio2.h (fits_hcompress* and
// fits_hdecompress* are in fitsio.h).
extern "C" {
int fits_rcomp(int a[], int nx, unsigned char* c, int clen, int nblock);
int fits_rcomp_short(short a[], int nx, unsigned char* c, int clen, int nblock);
int fits_rcomp_byte(signed char a[], int nx, unsigned char* c, int clen, int nblock);
int fits_rdecomp(unsigned char* c, int clen, unsigned int array[], int nx, int nblock);
int fits_rdecomp_short(unsigned char* c, int clen, unsigned short array[], int nx, int nblock);
int fits_rdecomp_byte(unsigned char* c, int clen, unsigned char array[], int nx, int nblock);
int fits_quantize_float(long row, float fdata[], long nx, long ny, int nullcheck, float in_null_value,
                        float quantize_level, int dither_method, int idata[], double* bscale, double* bzero,
                        int* iminval, int* imaxval);
int fits_quantize_double(long row, double fdata[], long nx, long ny, int nullcheck, double in_null_value,
                         float quantize_level, int dither_method, int idata[], double* bscale, double* bzero,
                         int* iminval, int* imaxval);
int compress2mem_from_mem(char* inmemptr, size_t inmemsize, char** buffptr, size_t* buffsize,
                          void* (*mem_realloc)(void* p, size_t newsize), size_t* filesize, int* status);
int uncompress2mem_from_mem(char* inmemptr, size_t inmemsize, char** buffptr, size_t* buffsize,
                            void* (*mem_realloc)(void* p, size_t newsize), size_t* filesize, int* status);
}

namespace {

using namespace nebulite::codecs;
using tile_oracle::cfitsioError;

// ---- Inputs --------------------------------------------------------------------

enum class Pattern { constant, ramp, random, extremes, starOnNoise };
constexpr Pattern kPatterns[] = {Pattern::constant, Pattern::ramp, Pattern::random, Pattern::extremes,
                                 Pattern::starOnNoise};
const char* patternName(Pattern p) {
    switch (p) {
        case Pattern::constant: return "constant";
        case Pattern::ramp: return "ramp";
        case Pattern::random: return "random";
        case Pattern::extremes: return "extremes";
        case Pattern::starOnNoise: return "starOnNoise";
    }
    return "?";
}

// The sizes every 1-D encoder sees: a pixel, a pair, around one block, a
// long tile and a 4096-wide row.
constexpr size_t kSizes[] = {1, 2, 31, 32, 33, 1000, 4096};

// `n` pixels of the integer type T, `width` to a row.
template <typename T>
std::vector<T> makePixels(Pattern p, size_t n, uint64_t seed, size_t width = 0) {
    if (width == 0) width = n;
    std::mt19937_64 random(seed * 7919 + n);
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
    std::vector<T> v(n);
    std::normal_distribution<double> noise(0.0, 25.0);
    for (size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i % width), y = static_cast<double>(i / width);
        double value = 0;
        switch (p) {
            case Pattern::constant: value = std::min(hi, 77.0); break;
            case Pattern::ramp: value = lo + std::fmod(static_cast<double>(i) * 3.0, hi - lo); break;
            case Pattern::random: value = std::uniform_real_distribution<double>(lo, hi)(random); break;
            case Pattern::extremes: {
                const uint64_t r = random() % 4;
                value = r == 0 ? lo : r == 1 ? hi : r == 2 ? lo + 1 : hi - 1;
                break;
            }
            case Pattern::starOnNoise: {
                const double dx = x - static_cast<double>(width) / 2, dy = y - 3;
                value = std::clamp(100 + noise(random) + 5000 * std::exp(-(dx * dx + dy * dy) / 6.0), lo, hi);
                break;
            }
        }
        v[i] = static_cast<T>(std::clamp(std::round(value), lo, hi));
    }
    return v;
}

// An output buffer with guard bytes after the room an encoder is given.
struct Guarded {
    explicit Guarded(size_t room) : bytes(room + kGuard, kFill), room(room) {}
    std::span<uint8_t> span() { return {bytes.data(), room}; }
    bool guardIntact() const {
        return std::all_of(bytes.begin() + static_cast<ptrdiff_t>(room), bytes.end(), [](uint8_t b) { return b == kFill; });
    }
    std::vector<uint8_t> written(size_t n) const { return {bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n)}; }
    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kFill = 0xa5;
    std::vector<uint8_t> bytes;
    size_t room;
};

// Every encoder, given one byte less than it needs, says so and writes
// nothing beyond what it was given.
template <typename Encode>
void expectRefusesShortOutput(size_t needed, Encode encode) {
    if (needed == 0) return;
    Guarded shortOut(needed - 1);
    const Encoded r = encode(shortOut.span());
    EXPECT_EQ(r.result, CodecResult::truncated);
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_TRUE(shortOut.guardIntact());
}

// ---- Rice ------------------------------------------------------------------------

template <typename T>
std::vector<uint8_t> cfitsioRice(const std::vector<T>& pixels, int blockSize) {
    std::vector<uint8_t> out(pixels.size() * 8 + 64);
    int n = 0;
    if constexpr (sizeof(T) == 1) {
        std::vector<signed char> a(pixels.begin(), pixels.end());
        n = fits_rcomp_byte(a.data(), static_cast<int>(a.size()), out.data(), static_cast<int>(out.size()), blockSize);
    } else if constexpr (sizeof(T) == 2) {
        std::vector<short> a(pixels.begin(), pixels.end());
        n = fits_rcomp_short(a.data(), static_cast<int>(a.size()), out.data(), static_cast<int>(out.size()), blockSize);
    } else {
        std::vector<int> a(pixels.begin(), pixels.end());
        n = fits_rcomp(a.data(), static_cast<int>(a.size()), out.data(), static_cast<int>(out.size()), blockSize);
    }
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

template <typename T>
std::vector<int64_t> cfitsioRiceDecode(std::vector<uint8_t> bytes, size_t n, int blockSize) {
    std::vector<int64_t> v(n);
    int status = 0;
    if constexpr (sizeof(T) == 1) {
        std::vector<unsigned char> a(n);
        status = fits_rdecomp_byte(bytes.data(), static_cast<int>(bytes.size()), a.data(), static_cast<int>(n), blockSize);
        std::copy(a.begin(), a.end(), v.begin());
    } else if constexpr (sizeof(T) == 2) {
        std::vector<unsigned short> a(n);
        status = fits_rdecomp_short(bytes.data(), static_cast<int>(bytes.size()), a.data(), static_cast<int>(n), blockSize);
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(a[i]);
    } else {
        std::vector<unsigned int> a(n);
        status = fits_rdecomp(bytes.data(), static_cast<int>(bytes.size()), a.data(), static_cast<int>(n), blockSize);
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<int32_t>(a[i]);
    }
    if (status != 0) v.clear();
    return v;
}

template <typename T>
void checkRice(const std::vector<T>& pixels, int blockSize, const std::string& what) {
    SCOPED_TRACE(what);
    constexpr int bytePix = static_cast<int>(sizeof(T));
    const uint64_t bound = riceMaxEncodedBytes(pixels.size(), bytePix, blockSize);
    Guarded out(static_cast<size_t>(bound));
    const Encoded r = riceEncode(std::span<const T>(pixels), blockSize, out.span());
    ASSERT_EQ(r.result, CodecResult::ok);
    EXPECT_LE(r.bytes, bound);
    EXPECT_TRUE(out.guardIntact());
    const std::vector<uint8_t> ours = out.written(r.bytes);
    EXPECT_EQ(ours, cfitsioRice(pixels, blockSize)) << "not cfitsio's bytes";

    std::vector<int32_t> decoded(pixels.size());
    ASSERT_EQ(riceDecode(ours, bytePix, blockSize, decoded), CodecResult::ok);
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), pixels.begin())) << "our decoder";
    const std::vector<int64_t> theirs = cfitsioRiceDecode<T>(ours, pixels.size(), blockSize);
    EXPECT_TRUE(theirs.size() == pixels.size() && std::equal(theirs.begin(), theirs.end(), pixels.begin()))
        << "cfitsio's decoder";
    expectRefusesShortOutput(r.bytes, [&](std::span<uint8_t> o) { return riceEncode(std::span<const T>(pixels), blockSize, o); });
}

template <typename T>
void riceTable() {
    for (int blockSize : {32, 16})
        for (size_t n : kSizes)
            for (Pattern p : kPatterns)
                checkRice(makePixels<T>(p, n, 11), blockSize,
                          "BYTEPIX " + std::to_string(sizeof(T)) + " block " + std::to_string(blockSize) + " n " +
                              std::to_string(n) + " " + patternName(p));
}

TEST(TileEncoders, RiceByte) { riceTable<uint8_t>(); }
TEST(TileEncoders, RiceShort) { riceTable<int16_t>(); }
TEST(TileEncoders, RiceInt) { riceTable<int32_t>(); }

TEST(TileEncoders, RiceBytePixDefaultsAreFpacks) {
    EXPECT_EQ(riceBytePixFor(8), 1);
    EXPECT_EQ(riceBytePixFor(16), 2);
    EXPECT_EQ(riceBytePixFor(32), 4);
    EXPECT_EQ(riceBytePixFor(-32), 4);
    EXPECT_EQ(riceBytePixFor(-64), 4);
    EXPECT_EQ(riceBytePixFor(64), 0);
}

TEST(TileEncoders, RiceRefusesWhatItCannotCode) {
    const std::vector<int16_t> pixels(10, 3);
    std::vector<uint8_t> out(100);
    EXPECT_EQ(riceEncode(std::span<const int16_t>(pixels), 0, out).result, CodecResult::unsupported);
    EXPECT_EQ(riceEncode(std::span<const int16_t>(pixels), 4097, out).result, CodecResult::unsupported);
    EXPECT_EQ(riceMaxEncodedBytes(10, 8, 32), 0u);
    EXPECT_EQ(riceEncode(std::span<const int16_t>(), 32, out).bytes, 0u);
}

// Blocks built to reach each body's worst case: the raw body (full-range
// steps), and coded blocks whose differences all sit just at the split's
// top, for every split and block size, then random mixtures of them.
template <typename T>
void riceBoundHolds() {
    using U = std::make_unsigned_t<T>;
    constexpr int bits = 8 * static_cast<int>(sizeof(T));
    std::mt19937_64 random(5);
    for (int blockSize : {1, 2, 3, 16, 31, 32, 33, 100, 4096}) {
        for (int trial = 0; trial < 40; ++trial) {
            const size_t n = static_cast<size_t>(blockSize) * (1 + trial % 3) + static_cast<size_t>(trial % 5);
            std::vector<T> pixels(n);
            uint64_t last = 0;
            for (size_t i = 0; i < n; ++i) {
                // A mapped difference m near 2^(k+1) for a random k.
                const int k = static_cast<int>(random() % static_cast<uint64_t>(bits));
                uint64_t m = (uint64_t{1} << k) + (random() % 3) - 1;
                if (trial % 4 == 0) m = random();  // anything at all
                m &= (uint64_t{1} << bits) - 1;
                const uint64_t d = (m & 1) ? ~(m >> 1) : (m >> 1);
                last = (last + d) & ((uint64_t{1} << bits) - 1);
                pixels[i] = static_cast<T>(static_cast<U>(last));
            }
            const uint64_t bound = riceMaxEncodedBytes(n, static_cast<int>(sizeof(T)), blockSize);
            std::vector<uint8_t> out(static_cast<size_t>(bound));
            const Encoded r = riceEncode(std::span<const T>(pixels), blockSize, out);
            ASSERT_EQ(r.result, CodecResult::ok) << "block " << blockSize << " n " << n;
            std::vector<int32_t> back(n);
            ASSERT_EQ(riceDecode(std::span<const uint8_t>(out.data(), r.bytes), static_cast<int>(sizeof(T)), blockSize, back),
                      CodecResult::ok);
            ASSERT_TRUE(std::equal(back.begin(), back.end(), pixels.begin()));
        }
    }
}

TEST(TileEncoders, RiceBoundHoldsForWorstBlocks) {
    riceBoundHolds<uint8_t>();
    riceBoundHolds<int16_t>();
    riceBoundHolds<int32_t>();
}

// ---- GZIP --------------------------------------------------------------------------

// The tile's elements big-endian, shuffled for GZIP_2: the bytes cfitsio deflates.
template <typename T>
std::vector<uint8_t> tileBytes(const std::vector<T>& pixels, bool shuffle) {
    std::vector<uint8_t> raw(pixels.size() * sizeof(T));
    const Encoded r = rawEncode(std::span<const T>(pixels), raw);
    EXPECT_EQ(r.result, CodecResult::ok);
    if (!shuffle || sizeof(T) == 1) return raw;
    std::vector<uint8_t> planes(raw.size());
    for (size_t i = 0; i < pixels.size(); ++i)
        for (size_t b = 0; b < sizeof(T); ++b) planes[b * pixels.size() + i] = raw[i * sizeof(T) + b];
    return planes;
}

std::vector<uint8_t> cfitsioDeflate(std::vector<uint8_t> bytes) {
    size_t size = bytes.size() + 1000;
    char* buffer = static_cast<char*>(std::malloc(size));
    size_t written = 0;
    int status = 0;
    compress2mem_from_mem(reinterpret_cast<char*>(bytes.data()), bytes.size(), &buffer, &size, realloc, &written,
                          &status);
    std::vector<uint8_t> out;
    if (status == 0) out.assign(buffer, buffer + written);
    std::free(buffer);
    return out;
}

std::vector<uint8_t> cfitsioInflate(std::vector<uint8_t> bytes, size_t expected) {
    size_t size = expected + 1;
    char* buffer = static_cast<char*>(std::malloc(size));
    size_t written = 0;
    int status = 0;
    uncompress2mem_from_mem(reinterpret_cast<char*>(bytes.data()), bytes.size(), &buffer, &size, realloc, &written,
                            &status);
    std::vector<uint8_t> out;
    if (status == 0) out.assign(buffer, buffer + written);
    std::free(buffer);
    return out;
}

// zlib's working memory through a counting allocator, as the module routes it.
struct CountingHeap {
    size_t live = 0, calls = 0;
    static void* allocate(void* opaque, unsigned items, unsigned size) {
        auto* heap = static_cast<CountingHeap*>(opaque);
        ++heap->calls;
        ++heap->live;
        return std::calloc(items, size);
    }
    static void release(void* opaque, void* block) {
        --static_cast<CountingHeap*>(opaque)->live;
        std::free(block);
    }
};

template <typename T>
void checkGzip(const std::vector<T>& pixels, Algorithm algorithm, const std::string& what) {
    SCOPED_TRACE(what);
    const uint64_t bound = gzipMaxEncodedBytes(pixels.size(), sizeof(T));
    Guarded out(static_cast<size_t>(bound));
    CountingHeap heap;
    const DeflateMemory memory{&CountingHeap::allocate, &CountingHeap::release, &heap};
    const Encoded r = gzipEncode(std::span<const T>(pixels), algorithm, out.span(), memory);
    ASSERT_EQ(r.result, CodecResult::ok);
    EXPECT_GT(heap.calls, 0u) << "zlib's memory did not come from the caller";
    EXPECT_EQ(heap.live, 0u) << "zlib's memory not given back";
    EXPECT_LE(r.bytes, bound);
    EXPECT_TRUE(out.guardIntact());
    const std::vector<uint8_t> ours = out.written(r.bytes);
    const std::vector<uint8_t> plain = tileBytes(pixels, algorithm == Algorithm::gzip2);
    EXPECT_EQ(ours, cfitsioDeflate(plain)) << "not cfitsio's bytes";
    // zlib's own bound for these settings is no larger than ours.
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, kGzipTileLevel, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    EXPECT_LE(deflateBound(&z, static_cast<uLong>(plain.size())), bound);
    deflateEnd(&z);

    // Our decoder: inflate, unshuffle, big-endian elements.
    std::vector<uint8_t> inflated(plain.size());
    const Inflated back = inflateTile(ours, inflated);
    ASSERT_EQ(back.result, CodecResult::ok);
    ASSERT_EQ(back.bytes, plain.size());
    EXPECT_EQ(inflated, plain);
    std::vector<uint8_t> whole(plain.size());
    if (algorithm == Algorithm::gzip2 && sizeof(T) > 1) {
        ASSERT_EQ(unshuffleBytes(inflated, sizeof(T), whole), CodecResult::ok);
    } else {
        whole = inflated;
    }
    EXPECT_EQ(whole, tileBytes(pixels, false));
    // cfitsio's decoder.
    EXPECT_EQ(cfitsioInflate(ours, plain.size()), plain);
    expectRefusesShortOutput(r.bytes, [&](std::span<uint8_t> o) { return gzipEncode(std::span<const T>(pixels), algorithm, o); });
}

template <typename T>
std::vector<T> makeValues(Pattern p, size_t n, uint64_t seed) {
    if constexpr (std::is_floating_point_v<T>) {
        const std::vector<int32_t> ints = makePixels<int32_t>(p, n, seed);
        std::vector<T> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<T>(ints[i]) / T(7);
        if (n > 3) v[n / 2] = std::numeric_limits<T>::quiet_NaN();
        if (n > 4) v[1] = -std::numeric_limits<T>::infinity();
        return v;
    } else {
        return makePixels<T>(p, n, seed);
    }
}

template <typename T>
void gzipTable() {
    for (Algorithm a : {Algorithm::gzip1, Algorithm::gzip2})
        for (size_t n : kSizes)
            for (Pattern p : kPatterns)
                checkGzip(makeValues<T>(p, n, 3), a,
                          std::string(a == Algorithm::gzip1 ? "GZIP_1" : "GZIP_2") + " " +
                              std::to_string(sizeof(T)) + "-byte n " + std::to_string(n) + " " + patternName(p));
}

TEST(TileEncoders, GzipByte) { gzipTable<uint8_t>(); }
TEST(TileEncoders, GzipShort) { gzipTable<int16_t>(); }
TEST(TileEncoders, GzipInt) { gzipTable<int32_t>(); }
TEST(TileEncoders, GzipLong) { gzipTable<int64_t>(); }
TEST(TileEncoders, GzipFloat) { gzipTable<float>(); }
TEST(TileEncoders, GzipDouble) { gzipTable<double>(); }

// A tile past the encoder's internal chunk, incompressible: the stream must
// still be cfitsio's, and the bound must hold where deflate stores.
TEST(TileEncoders, GzipLargeIncompressibleTile) {
    std::mt19937_64 random(9);
    std::vector<int32_t> pixels(300000);
    for (int32_t& v : pixels) v = static_cast<int32_t>(random());
    checkGzip(pixels, Algorithm::gzip1, "GZIP_1 random 300000");
    checkGzip(pixels, Algorithm::gzip2, "GZIP_2 random 300000");
    std::vector<uint8_t> high(200000);
    for (uint8_t& v : high) v = static_cast<uint8_t>(144 + random() % 112);  // 9-bit literals
    checkGzip(high, Algorithm::gzip1, "GZIP_1 high bytes 200000");
}

TEST(TileEncoders, GzipRefusesOtherAlgorithms) {
    const std::vector<int16_t> pixels(10, 3);
    std::vector<uint8_t> out(100);
    EXPECT_EQ(gzipEncode(std::span<const int16_t>(pixels), Algorithm::rice, out).result, CodecResult::unsupported);
}

// ---- NOCOMPRESS ----------------------------------------------------------------------

TEST(TileEncoders, NocompressRoundTrips) {
    for (size_t n : kSizes) {
        const std::vector<int16_t> s = makePixels<int16_t>(Pattern::extremes, n, 1);
        const std::vector<int32_t> i = makePixels<int32_t>(Pattern::extremes, n, 2);
        const std::vector<int64_t> l = makePixels<int64_t>(Pattern::extremes, n, 3);
        std::vector<uint8_t> bytes(rawMaxEncodedBytes(n, 8));
        std::vector<int32_t> back(n);
        Encoded r = rawEncode(std::span<const int16_t>(s), bytes);
        ASSERT_EQ(r.bytes, n * 2);
        ASSERT_EQ(bigEndianToInt32(std::span<const uint8_t>(bytes.data(), r.bytes), 2, back), CodecResult::ok);
        EXPECT_TRUE(std::equal(back.begin(), back.end(), s.begin()));
        r = rawEncode(std::span<const int32_t>(i), bytes);
        ASSERT_EQ(bigEndianToInt32(std::span<const uint8_t>(bytes.data(), r.bytes), 4, back), CodecResult::ok);
        EXPECT_EQ(back, i);
        std::vector<int64_t> back64(n);
        r = rawEncode(std::span<const int64_t>(l), bytes);
        ASSERT_EQ(bigEndianToInt64(std::span<const uint8_t>(bytes.data(), r.bytes), back64), CodecResult::ok);
        EXPECT_EQ(back64, l);
        const std::vector<double> d = makeValues<double>(Pattern::random, n, 4);
        r = rawEncode(std::span<const double>(d), bytes);
        ASSERT_EQ(r.bytes, n * 8);
        for (size_t k = 0; k < n; ++k) {
            uint64_t bits = 0;
            std::memcpy(&bits, &d[k], 8);
            EXPECT_EQ(loadBE64(bytes.data() + 8 * k), bits);
        }
        expectRefusesShortOutput(n * 4, [&](std::span<uint8_t> o) { return rawEncode(std::span<const int32_t>(i), o); });
    }
}


// ---- HCOMPRESS -------------------------------------------------------------------------

struct TileShape {
    uint32_t rows, columns;
};
// Odd and even, one row and one column, fpack's smallest (4 x 4) and tiles
// of several levels.
constexpr TileShape kTileShapes[] = {{1, 1},  {1, 2},   {2, 1},   {1, 37},  {37, 1},  {1, 4096}, {2, 2},
                                     {3, 5},  {4, 4},   {5, 3},   {7, 9},   {16, 16}, {17, 33},  {20, 100},
                                     {64, 1}, {1, 64},  {100, 64}, {33, 17}};

template <typename T>
std::vector<uint8_t> cfitsioHcompress(const std::vector<T>& pixels, TileShape s) {
    std::vector<char> out(pixels.size() * 16 + 1024);
    long bytes = static_cast<long>(out.size());
    int status = 0;
    if constexpr (sizeof(T) <= 2) {
        // fpack's road for 8- and 16-bit images: 32-bit working values.
        std::vector<int> a(pixels.begin(), pixels.end());
        fits_hcompress(a.data(), static_cast<int>(s.columns), static_cast<int>(s.rows), 0, out.data(), &bytes, &status);
    } else {
        std::vector<LONGLONG> a(pixels.begin(), pixels.end());
        fits_hcompress64(a.data(), static_cast<int>(s.columns), static_cast<int>(s.rows), 0, out.data(), &bytes, &status);
    }
    if (status != 0) return {};
    return {out.begin(), out.begin() + bytes};
}

// cfitsio's decoder gives 32-bit values, packed at the front of its array.
std::vector<int64_t> cfitsioHdecompress(std::vector<uint8_t> bytes, TileShape s) {
    std::vector<LONGLONG> a(size_t{s.rows} * s.columns + 1);
    int nx = 0, ny = 0, scale = 0, status = 0;
    fits_hdecompress64(bytes.data(), 0, a.data(), &nx, &ny, &scale, &status);
    if (status != 0 || nx != static_cast<int>(s.columns) || ny != static_cast<int>(s.rows)) return {};
    std::vector<int32_t> ints(a.size() * 2);
    std::memcpy(ints.data(), a.data(), a.size() * sizeof(LONGLONG));
    return {ints.begin(), ints.begin() + static_cast<ptrdiff_t>(size_t{s.rows} * s.columns)};
}

template <typename T>
void checkHcompress(const std::vector<T>& pixels, TileShape s, const std::string& what) {
    SCOPED_TRACE(what);
    const uint64_t bound = hcompressMaxEncodedBytes(s.rows, s.columns, static_cast<int>(sizeof(T)));
    ASSERT_GT(bound, 0u);
    Guarded out(static_cast<size_t>(bound));
    std::vector<uint8_t> scratch(hcompressEncodeScratchBytes(s.rows, s.columns));
    const Encoded r = hcompressEncode(std::span<const T>(pixels), s.rows, s.columns, out.span(), scratch);
    ASSERT_EQ(r.result, CodecResult::ok);
    EXPECT_LE(r.bytes, bound);
    EXPECT_TRUE(out.guardIntact());
    const std::vector<uint8_t> ours = out.written(r.bytes);
    EXPECT_EQ(ours, cfitsioHcompress(pixels, s)) << "not cfitsio's bytes";

    std::vector<int64_t> decoded(pixels.size());
    std::vector<uint8_t> decodeScratch(hcompressScratchBytes(s.rows, s.columns));
    ASSERT_EQ(hcompressDecode(ours, s.rows, s.columns, decoded, decodeScratch), CodecResult::ok);
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), pixels.begin())) << "our decoder";
    // cfitsio's decoder cannot take a tile of one row or one column: it
    // expands the empty quadrant's quadtree into a scratch array of 0 bytes
    // (a heap overrun); every other size is checked.
    if (s.rows > 1 && s.columns > 1) {
        const std::vector<int64_t> theirs = cfitsioHdecompress(ours, s);
        EXPECT_TRUE(theirs.size() == pixels.size() && std::equal(theirs.begin(), theirs.end(), pixels.begin()))
            << "cfitsio's decoder";
    }
    expectRefusesShortOutput(r.bytes, [&](std::span<uint8_t> o) {
        return hcompressEncode(std::span<const T>(pixels), s.rows, s.columns, o, scratch);
    });
}

template <typename T>
void hcompressTable() {
    for (TileShape s : kTileShapes)
        for (Pattern p : kPatterns)
            checkHcompress(makePixels<T>(p, size_t{s.rows} * s.columns, 21, s.columns), s,
                           std::to_string(sizeof(T)) + "-byte " + std::to_string(s.rows) + "x" +
                               std::to_string(s.columns) + " " + patternName(p));
}

TEST(TileEncoders, HcompressByte) { hcompressTable<uint8_t>(); }
TEST(TileEncoders, HcompressShort) { hcompressTable<int16_t>(); }
TEST(TileEncoders, HcompressInt) { hcompressTable<int32_t>(); }

// Tiles at the ends of the range, as checkerboards and stripes, give the
// largest coefficients: their bit planes stay within the header's B + L + 2
// and the stream within the bound.
template <typename T>
void hcompressFullRange() {
    constexpr T lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    const int b = sizeof(T) == 1 ? 8 : sizeof(T) == 2 ? 15 : 31;
    for (TileShape s : {TileShape{1, 4096}, TileShape{4096, 1}, TileShape{64, 64}, TileShape{33, 17}, TileShape{3, 3}}) {
        const size_t n = size_t{s.rows} * s.columns;
        std::vector<std::vector<T>> tiles(5, std::vector<T>(n));
        for (size_t i = 0; i < n; ++i) {
            const size_t x = i % s.columns, y = i / s.columns;
            tiles[0][i] = lo;
            tiles[1][i] = (x + y) % 2 ? lo : hi;
            tiles[2][i] = y % 2 ? lo : hi;
            tiles[3][i] = x % 2 ? lo : hi;
            tiles[4][i] = (x / 2 + y / 2) % 2 ? lo : hi;
        }
        const uint32_t longest = std::max(s.rows, s.columns);
        int levels = 0;
        while ((uint32_t{1} << levels) < longest) ++levels;
        for (const std::vector<T>& tile : tiles) {
            const uint64_t bound = hcompressMaxEncodedBytes(s.rows, s.columns, static_cast<int>(sizeof(T)));
            std::vector<uint8_t> out(static_cast<size_t>(bound)), scratch(hcompressEncodeScratchBytes(s.rows, s.columns));
            const Encoded r = hcompressEncode(std::span<const T>(tile), s.rows, s.columns, out, scratch);
            ASSERT_EQ(r.result, CodecResult::ok);
            for (int q = 0; q < 3; ++q) EXPECT_LE(out[22 + q], b + levels + 2) << s.rows << "x" << s.columns;
            checkHcompress(tile, s, "full range " + std::to_string(sizeof(T)) + "-byte " + std::to_string(s.rows) + "x" +
                                        std::to_string(s.columns));
        }
    }
}

TEST(TileEncoders, HcompressBoundHoldsForFullRangeTiles) {
    hcompressFullRange<uint8_t>();
    hcompressFullRange<int16_t>();
    hcompressFullRange<int32_t>();
}

TEST(TileEncoders, HcompressRefusesWhatItCannotCode) {
    const std::vector<int32_t> pixels(12, 1);
    std::vector<uint8_t> out(1000), scratch(hcompressEncodeScratchBytes(3, 4));
    EXPECT_EQ(hcompressEncode(std::span<const int32_t>(pixels), 4, 4, out, scratch).result, CodecResult::unsupported);
    EXPECT_EQ(hcompressEncode(std::span<const int32_t>(pixels), 0, 12, out, scratch).result, CodecResult::unsupported);
    std::vector<uint8_t> small(scratch.size() - 1);
    EXPECT_EQ(hcompressEncode(std::span<const int32_t>(pixels), 3, 4, out, small).result, CodecResult::unsupported);
    EXPECT_EQ(hcompressEncode(std::span<const int32_t>(pixels), 3, 4, out, scratch).result, CodecResult::ok);
}

// ---- Quantization ------------------------------------------------------------------------

struct QuantizeCase {
    float level;
    Dither dither;
    int64_t seed;
    uint64_t row;
};
constexpr QuantizeCase kQuantizeCases[] = {
    {4.0f, Dither::subtractive1, 1, 1},     {4.0f, Dither::subtractive2, 17, 3},
    {16.0f, Dither::none, 1, 1},            {0.0f, Dither::subtractive1, 9999, 5},
    {1.5f, Dither::subtractive2, 10000, 10000}, {-0.25f, Dither::subtractive1, 42, 7},
    {-0.01f, Dither::none, 1, 2},           {-3.0f, Dither::subtractive2, 5000, 1},
};

int cfitsioDither(Dither d) {
    switch (d) {
        case Dither::none: return NO_DITHER;
        case Dither::subtractive1: return SUBTRACTIVE_DITHER_1;
        case Dither::subtractive2: return SUBTRACTIVE_DITHER_2;
    }
    return 0;
}

// A sky tile: noise around a level with a star, optionally nulls and exact zeros.
template <typename T>
std::vector<T> sky(size_t n, size_t width, uint64_t seed, bool nulls, bool zeros, double level = 1000.0) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, 5.0);
    std::vector<T> v(n);
    for (size_t i = 0; i < n; ++i) {
        const double dx = static_cast<double>(i % width) - static_cast<double>(width) / 3;
        const double dy = static_cast<double>(i / width) - 2;
        v[i] = static_cast<T>(level + noise(random) + 2000 * std::exp(-(dx * dx + dy * dy) / 5.0));
        if (zeros && i % 13 == 5) v[i] = 0;
        if (nulls && i % 97 == 3) v[i] = std::numeric_limits<T>::quiet_NaN();
    }
    return v;
}

template <typename T>
void checkQuantize(const std::vector<T>& tile, size_t columns, size_t rows, QuantizeCase c, const std::string& what) {
    SCOPED_TRACE(what + " q " + std::to_string(c.level) + " dither " + std::to_string(cfitsioDither(c.dither)) +
                 " seed " + std::to_string(c.seed) + " row " + std::to_string(c.row));
    const size_t n = tile.size();
    // cfitsio, as fpack calls it: NaNs read as its null value and checked for.
    constexpr T kNull = std::is_same_v<T, float> ? FLOATNULLVALUE : DOUBLENULLVALUE;
    std::vector<T> theirsIn(tile);
    bool anyNaN = false;
    for (T& v : theirsIn)
        if (std::isnan(v)) v = kNull, anyNaN = true;
    std::vector<int> theirs(n);
    double bscale = 0, bzero = 0;
    int imin = 0, imax = 0;
    const long row = c.dither == Dither::none ? 0 : static_cast<long>(c.row) + static_cast<long>(c.seed) - 1;
    int flag;
    if constexpr (std::is_same_v<T, float>)
        flag = fits_quantize_float(row, theirsIn.data(), static_cast<long>(columns), static_cast<long>(rows), anyNaN,
                                   kNull, c.level, cfitsioDither(c.dither), theirs.data(), &bscale, &bzero, &imin, &imax);
    else
        flag = fits_quantize_double(row, theirsIn.data(), static_cast<long>(columns), static_cast<long>(rows), anyNaN,
                                    kNull, c.level, cfitsioDither(c.dither), theirs.data(), &bscale, &bzero, &imin, &imax);

    std::vector<int32_t> ours(n);
    std::vector<uint8_t> scratch(quantizeScratchBytes(columns, rows, sizeof(T)));
    const Quantized q = quantize(std::span<const T>(tile), columns, rows, {c.level, c.dither, c.seed, c.row}, ours, scratch);
    ASSERT_EQ(q.result, CodecResult::ok);
    EXPECT_EQ(q.anyNull, anyNaN);
    ASSERT_EQ(q.quantized, flag == 1) << "cfitsio's decision to quantize";
    if (!q.quantized) return;
    EXPECT_EQ(q.scale, bscale);
    EXPECT_EQ(q.zero, bzero);
    size_t differ = 0;
    for (size_t i = 0; i < n; ++i) differ += ours[i] != theirs[i];
    EXPECT_EQ(differ, 0u) << "integers that are not cfitsio's";

    // Back through our decoder: within half a step (plus rounding), NaN kept,
    // dither-2 zeros exact.
    Unquantize u;
    u.scale = q.scale;
    u.zero = q.zero;
    u.dither = c.dither;
    u.hasNull = q.anyNull;
    u.nullValue = kQuantizeNullValue;
    u.ditherSeed = c.seed;
    u.tileRow = c.row;
    std::vector<T> back(n);
    ASSERT_EQ(unquantize(ours, u, std::span<T>(back)), CodecResult::ok);
    const double ulp = std::is_same_v<T, float> ? 2.4e-7 : 4.5e-16;
    for (size_t i = 0; i < n; ++i) {
        if (std::isnan(tile[i])) {
            EXPECT_TRUE(std::isnan(back[i])) << i;
            continue;
        }
        if (c.dither == Dither::subtractive2 && tile[i] == 0) {
            EXPECT_EQ(back[i], 0) << i;
            continue;
        }
        const double x = tile[i], y = back[i];
        const double tolerance = q.scale * (0.5 + 1e-6) + ulp * std::max(std::fabs(x), std::fabs(y));
        EXPECT_LE(std::fabs(x - y), tolerance) << "pixel " << i;
    }
}

template <typename T>
void quantizeTable() {
    struct Tile {
        std::vector<T> values;
        size_t columns, rows;
        std::string name;
    };
    std::vector<Tile> tiles;
    for (size_t n : {size_t{2}, size_t{8}, size_t{9}, size_t{31}, size_t{1000}, size_t{4096}})
        tiles.push_back({sky<T>(n, n, n, false, false), n, 1, "sky 1x" + std::to_string(n)});
    tiles.push_back({sky<T>(1000, 1000, 2, true, false), 1000, 1, "sky with NaNs"});
    tiles.push_back({sky<T>(1000, 1000, 3, true, true), 1000, 1, "sky with NaNs and zeros"});
    tiles.push_back({sky<T>(64 * 40, 64, 4, false, true), 64, 40, "sky 64x40 with zeros"});
    tiles.push_back({sky<T>(8 * 30, 8, 5, true, false), 8, 30, "sky 8x30 (rows under 9 pixels)"});
    tiles.push_back({sky<T>(300 * 50, 300, 6, true, true), 300, 50, "sky 300x50 (dither wraps past 10000)"});
    tiles.push_back({sky<T>(500, 500, 7, false, false, -3.0e6), 500, 1, "negative level"});
    tiles.push_back({std::vector<T>(100, T(3.5)), 100, 1, "constant"});
    std::vector<T> ramp(200);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<T>(i) * T(0.5);
    tiles.push_back({ramp, 200, 1, "ramp"});
    tiles.push_back({std::vector<T>(1, T(2)), 1, 1, "one pixel"});
    tiles.push_back({std::vector<T>(50, std::numeric_limits<T>::quiet_NaN()), 50, 1, "all NaN"});
    std::vector<T> wide = sky<T>(400, 400, 8, false, false);
    wide[17] = static_cast<T>(3.0e12);  // a range the integers cannot span at the noise's step
    tiles.push_back({wide, 400, 1, "huge range"});
    for (const Tile& t : tiles)
        for (const QuantizeCase& c : kQuantizeCases) checkQuantize(t.values, t.columns, t.rows, c, t.name);
}

TEST(TileEncoders, QuantizeFloat) { quantizeTable<float>(); }
TEST(TileEncoders, QuantizeDouble) { quantizeTable<double>(); }

TEST(TileEncoders, QuantizeDeclinesInfinities) {
    std::vector<float> tile = sky<float>(100, 100, 1, false, false);
    tile[10] = std::numeric_limits<float>::infinity();
    std::vector<int32_t> out(tile.size());
    std::vector<uint8_t> scratch(quantizeScratchBytes(100, 1, 4));
    const Quantized q = quantize(std::span<const float>(tile), 100, 1, {}, out, scratch);
    EXPECT_EQ(q.result, CodecResult::ok);
    EXPECT_FALSE(q.quantized);
}

TEST(TileEncoders, QuantizeRefusesBadParameters) {
    const std::vector<float> tile = sky<float>(100, 100, 1, false, false);
    std::vector<int32_t> out(tile.size());
    std::vector<uint8_t> scratch(quantizeScratchBytes(100, 1, 4));
    EXPECT_EQ(quantize(std::span<const float>(tile), 100, 1, {4.0f, Dither::subtractive1, 0, 1}, out, scratch).result,
              CodecResult::unsupported);
    EXPECT_EQ(quantize(std::span<const float>(tile), 100, 1, {4.0f, Dither::subtractive1, 1, 0}, out, scratch).result,
              CodecResult::unsupported);
    EXPECT_EQ(quantize(std::span<const float>(tile), 50, 1, {}, out, scratch).result, CodecResult::unsupported);
    std::vector<uint8_t> small(scratch.size() - 1);
    EXPECT_EQ(quantize(std::span<const float>(tile), 100, 1, {}, out, small).result, CodecResult::unsupported);
}

// ---- A hand-made .fits.fz of our tiles, read by cfitsio and astropy ----------------------

// One image of `height` rows of `width`, in tiles of `tileRows` whole rows,
// each tile's bytes from our encoders, written as the convention's table
// with cfitsio's plain table routines (nothing of its compressor).
struct FzTile {
    std::vector<uint8_t> data;  // COMPRESSED_DATA
    std::vector<uint8_t> gzip;  // GZIP_COMPRESSED_DATA: a tile not quantized
    double zscale = 0, zzero = 0;
};
struct FzImage {
    std::string name;
    int zbitpix = 16;
    long width = 0, height = 0, tileRows = 1;
    std::string cmptype;
    std::vector<std::pair<std::string, long>> zparams;
    bool quantized = false;
    std::string zquantiz;
    long zdither0 = 0;
    bool zblank = false;
    std::vector<FzTile> tiles;
    std::vector<double> expected;  // the pixels any reader must give (NaN for nulls)
};

void writeFz(const std::string& path, const FzImage& image) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_create_file(&f, ("!" + path).c_str(), &status);
    fits_create_img(f, 8, 0, nullptr, &status);
    std::vector<std::string> names = {"COMPRESSED_DATA"}, forms = {"1PB"};
    if (image.quantized) {
        names.insert(names.end(), {"ZSCALE", "ZZERO"});
        forms.insert(forms.end(), {"1D", "1D"});
    }
    const bool anyGzip = std::any_of(image.tiles.begin(), image.tiles.end(), [](const FzTile& t) { return !t.gzip.empty(); });
    if (anyGzip) {
        names.push_back("GZIP_COMPRESSED_DATA");
        forms.push_back("1PB");
    }
    std::vector<char*> ttype, tform;
    for (auto& n : names) ttype.push_back(n.data());
    for (auto& t : forms) tform.push_back(t.data());
    char extname[] = "COMPRESSED_IMAGE";
    fits_create_tbl(f, BINARY_TBL, static_cast<LONGLONG>(image.tiles.size()), static_cast<int>(names.size()),
                    ttype.data(), tform.data(), nullptr, extname, &status);
    for (size_t row = 0; row < image.tiles.size(); ++row) {
        const FzTile& t = image.tiles[row];
        const auto r = static_cast<LONGLONG>(row + 1);
        if (!t.data.empty())
            fits_write_col(f, TBYTE, 1, r, 1, static_cast<LONGLONG>(t.data.size()), const_cast<uint8_t*>(t.data.data()), &status);
        if (image.quantized) {
            double scale = t.zscale, zero = t.zzero;
            fits_write_col(f, TDOUBLE, 2, r, 1, 1, &scale, &status);
            fits_write_col(f, TDOUBLE, 3, r, 1, 1, &zero, &status);
        }
        if (!t.gzip.empty())
            fits_write_col(f, TBYTE, static_cast<int>(names.size()), r, 1, static_cast<LONGLONG>(t.gzip.size()),
                           const_cast<uint8_t*>(t.gzip.data()), &status);
    }
    int yes = 1, two = 2, bitpix = image.zbitpix;
    long width = image.width, height = image.height, tileRows = image.tileRows;
    fits_write_key(f, TLOGICAL, "ZIMAGE", &yes, "extension contains compressed image", &status);
    fits_write_key(f, TSTRING, "ZCMPTYPE", const_cast<char*>(image.cmptype.c_str()), nullptr, &status);
    fits_write_key(f, TINT, "ZBITPIX", &bitpix, nullptr, &status);
    fits_write_key(f, TINT, "ZNAXIS", &two, nullptr, &status);
    fits_write_key(f, TLONG, "ZNAXIS1", &width, nullptr, &status);
    fits_write_key(f, TLONG, "ZNAXIS2", &height, nullptr, &status);
    fits_write_key(f, TLONG, "ZTILE1", &width, nullptr, &status);
    fits_write_key(f, TLONG, "ZTILE2", &tileRows, nullptr, &status);
    for (size_t i = 0; i < image.zparams.size(); ++i) {
        const std::string k = std::to_string(i + 1);
        long value = image.zparams[i].second;
        fits_write_key(f, TSTRING, ("ZNAME" + k).c_str(), const_cast<char*>(image.zparams[i].first.c_str()), nullptr, &status);
        fits_write_key(f, TLONG, ("ZVAL" + k).c_str(), &value, nullptr, &status);
    }
    if (!image.zquantiz.empty())
        fits_write_key(f, TSTRING, "ZQUANTIZ", const_cast<char*>(image.zquantiz.c_str()), nullptr, &status);
    if (image.zdither0 != 0) {
        long seed = image.zdither0;
        fits_write_key(f, TLONG, "ZDITHER0", &seed, nullptr, &status);
    }
    if (image.zblank) {
        long blank = kQuantizeNullValue;
        fits_write_key(f, TLONG, "ZBLANK", &blank, nullptr, &status);
    }
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0) << image.name << ": " << cfitsioError(status);
}

// The image through cfitsio's own reader, in the image's float width (a
// quantized -32 image read as doubles would skip the rounding to float).
std::vector<double> cfitsioReadImage(const std::string& path, size_t n, int zbitpix) {
    int status = 0, type = 0, anynul = 0;
    fitsfile* f = nullptr;
    std::vector<double> v(n);
    fits_open_file(&f, path.c_str(), READONLY, &status);
    fits_movabs_hdu(f, 2, &type, &status);
    if (zbitpix == -32) {
        std::vector<float> floats(n);
        float nan = std::numeric_limits<float>::quiet_NaN();
        fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(n), &nan, floats.data(), &anynul, &status);
        std::copy(floats.begin(), floats.end(), v.begin());
    } else {
        double nan = std::numeric_limits<double>::quiet_NaN();
        fits_read_img(f, TDOUBLE, 1, static_cast<LONGLONG>(n), &nan, v.data(), &anynul, &status);
    }
    fits_close_file(f, &status);
    if (status != 0) {
        ADD_FAILURE() << path << ": " << cfitsioError(status);
        v.clear();
    }
    return v;
}

bool sameValues(const std::vector<double>& expected, const std::vector<double>& got, bool skipNulls, std::string& why) {
    if (got.size() != expected.size()) {
        why = "got " + std::to_string(got.size()) + " values";
        return false;
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (std::isnan(expected[i]) && (skipNulls || std::isnan(got[i]))) continue;
        if (!(got[i] == expected[i])) {
            why = "pixel " + std::to_string(i) + ": " + std::to_string(got[i]) + " for " + std::to_string(expected[i]);
            return false;
        }
    }
    return true;
}

// The integer images: each tile of the rows [first, first + rows).
template <typename T>
FzImage integerImage(const std::string& cmptype, int zbitpix, Pattern pattern) {
    FzImage image;
    image.name = cmptype + " " + std::to_string(zbitpix) + " " + patternName(pattern);
    image.cmptype = cmptype;
    image.zbitpix = zbitpix;
    image.width = 50;
    image.height = 11;
    image.tileRows = 4;  // tiles of 4, 4 and 3 rows
    const std::vector<T> pixels = makePixels<T>(pattern, 50 * 11, 31, 50);
    image.expected.assign(pixels.begin(), pixels.end());
    if (cmptype == "RICE_1") image.zparams = {{"BLOCKSIZE", 32}, {"BYTEPIX", static_cast<long>(sizeof(T))}};
    if (cmptype == "HCOMPRESS_1") image.zparams = {{"SCALE", 0}, {"SMOOTH", 0}};
    for (long first = 0; first < image.height; first += image.tileRows) {
        const long rows = std::min(image.tileRows, image.height - first);
        const std::span<const T> tile(pixels.data() + first * image.width, static_cast<size_t>(rows * image.width));
        std::vector<uint8_t> out(1 << 16), scratch(hcompressEncodeScratchBytes(static_cast<uint32_t>(rows), 50));
        Encoded r{CodecResult::unsupported, 0};
        if (cmptype == "RICE_1") r = riceEncode(tile, 32, out);
        if (cmptype == "GZIP_1") r = gzipEncode(tile, Algorithm::gzip1, out);
        if (cmptype == "GZIP_2") r = gzipEncode(tile, Algorithm::gzip2, out);
        if (cmptype == "HCOMPRESS_1") r = hcompressEncode(tile, static_cast<uint32_t>(rows), 50, out, scratch);
        EXPECT_EQ(r.result, CodecResult::ok) << image.name;
        out.resize(r.bytes);
        image.tiles.push_back({out, {}, 0, 0});
    }
    return image;
}

// A float image quantized tile by tile, one tile of it constant (stored
// losslessly in GZIP_COMPRESSED_DATA), with nulls and exact zeros.
template <typename T>
FzImage quantizedImage(const std::string& cmptype, Dither dither, long seed) {
    FzImage image;
    image.cmptype = cmptype;
    image.zbitpix = std::is_same_v<T, float> ? -32 : -64;
    image.name = cmptype + " quantized " + std::to_string(image.zbitpix);
    image.width = 60;
    image.height = 10;
    image.tileRows = 3;
    image.quantized = true;
    image.zquantiz = dither == Dither::subtractive2 ? "SUBTRACTIVE_DITHER_2" : dither == Dither::none ? "NO_DITHER" : "SUBTRACTIVE_DITHER_1";
    image.zdither0 = seed;
    image.zblank = true;
    if (cmptype == "RICE_1") image.zparams = {{"BLOCKSIZE", 32}, {"BYTEPIX", 4}};
    std::vector<T> pixels = sky<T>(60 * 10, 60, 77, true, dither == Dither::subtractive2);
    for (size_t i = 3 * 60; i < 6 * 60; ++i) pixels[i] = T(12.25);  // the second tile: constant
    image.expected.resize(pixels.size());
    for (long first = 0, row = 1; first < image.height; first += image.tileRows, ++row) {
        const long rows = std::min(image.tileRows, image.height - first);
        const size_t n = static_cast<size_t>(rows * image.width);
        const std::span<const T> tile(pixels.data() + first * image.width, n);
        std::vector<int32_t> ints(n);
        std::vector<uint8_t> scratch(quantizeScratchBytes(60, static_cast<size_t>(rows), sizeof(T)));
        const Quantized q = quantize(tile, 60, static_cast<size_t>(rows), {4.0f, dither, seed, static_cast<uint64_t>(row)}, ints, scratch);
        EXPECT_EQ(q.result, CodecResult::ok);
        std::vector<uint8_t> out(1 << 16);
        FzTile t;
        double* expected = image.expected.data() + first * image.width;
        if (!q.quantized) {
            const Encoded r = gzipEncode(tile, Algorithm::gzip1, out);
            EXPECT_EQ(r.result, CodecResult::ok);
            t.gzip.assign(out.begin(), out.begin() + static_cast<ptrdiff_t>(r.bytes));
            std::copy(tile.begin(), tile.end(), expected);
        } else {
            const Encoded r = cmptype == "RICE_1" ? riceEncode(std::span<const int32_t>(ints), 32, out)
                                                  : gzipEncode(std::span<const int32_t>(ints), Algorithm::gzip2, out);
            EXPECT_EQ(r.result, CodecResult::ok);
            t.data.assign(out.begin(), out.begin() + static_cast<ptrdiff_t>(r.bytes));
            t.zscale = q.scale;
            t.zzero = q.zero;
            Unquantize u{q.scale, q.zero, dither, q.anyNull, kQuantizeNullValue, seed, static_cast<uint64_t>(row)};
            std::vector<T> back(n);
            EXPECT_EQ(unquantize(ints, u, std::span<T>(back)), CodecResult::ok);
            std::copy(back.begin(), back.end(), expected);
        }
        image.tiles.push_back(t);
    }
    EXPECT_TRUE(std::any_of(image.tiles.begin(), image.tiles.end(), [](const FzTile& t) { return !t.gzip.empty(); }));
    return image;
}

FzImage losslessFloatImage() {
    FzImage image;
    image.name = "GZIP_2 lossless -32";
    image.cmptype = "GZIP_2";
    image.zbitpix = -32;
    image.width = 40;
    image.height = 5;
    image.tileRows = 2;
    image.zquantiz = "NONE";
    const std::vector<float> pixels = sky<float>(200, 40, 5, true, false);
    image.expected.assign(pixels.begin(), pixels.end());
    for (long first = 0; first < image.height; first += image.tileRows) {
        const long rows = std::min(image.tileRows, image.height - first);
        const std::span<const float> tile(pixels.data() + first * image.width, static_cast<size_t>(rows * image.width));
        std::vector<uint8_t> out(1 << 16);
        const Encoded r = gzipEncode(tile, Algorithm::gzip2, out);
        EXPECT_EQ(r.result, CodecResult::ok);
        out.resize(r.bytes);
        image.tiles.push_back({out, {}, 0, 0});
    }
    return image;
}

std::vector<FzImage> fzImages() {
    std::vector<FzImage> images;
    images.push_back(integerImage<uint8_t>("RICE_1", 8, Pattern::random));
    images.push_back(integerImage<int16_t>("RICE_1", 16, Pattern::starOnNoise));
    images.push_back(integerImage<int32_t>("RICE_1", 32, Pattern::extremes));
    images.push_back(integerImage<int16_t>("GZIP_1", 16, Pattern::starOnNoise));
    images.push_back(integerImage<int32_t>("GZIP_2", 32, Pattern::random));
    images.push_back(integerImage<uint8_t>("HCOMPRESS_1", 8, Pattern::starOnNoise));
    images.push_back(integerImage<int16_t>("HCOMPRESS_1", 16, Pattern::extremes));
    images.push_back(integerImage<int32_t>("HCOMPRESS_1", 32, Pattern::random));
    images.push_back(quantizedImage<float>("RICE_1", Dither::subtractive1, 1234));
    images.push_back(quantizedImage<float>("RICE_1", Dither::subtractive2, 9));
    images.push_back(quantizedImage<double>("GZIP_2", Dither::subtractive1, 4321));
    images.push_back(quantizedImage<double>("RICE_1", Dither::none, 1));
    images.push_back(losslessFloatImage());
    return images;
}

TEST(TileEncoders, HandMadeFzReadByCfitsio) {
    tile_oracle::TempDir dir;
    for (const FzImage& image : fzImages()) {
        const std::string path = dir.file("image.fits.fz");
        writeFz(path, image);
        std::string why;
        EXPECT_TRUE(sameValues(image.expected, cfitsioReadImage(path, image.expected.size(), image.zbitpix), false, why))
            << image.name << ": " << why;
    }
}

TEST(TileEncoders, HandMadeFzReadByAstropy) {
    if (std::system("/usr/bin/python3 -c 'import astropy, numpy' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "Debian's python3 with astropy and numpy not found";
    tile_oracle::TempDir dir;
    const std::string script =
        "import sys, numpy as np\n"
        "from astropy.io import fits\n"
        "with fits.open(sys.argv[1]) as h:\n"
        "    np.asarray(h[1].data, dtype='>f8').tofile(sys.argv[2])\n";
    const std::string scriptPath = dir.file("read.py");
    {
        std::ofstream(scriptPath) << script;
    }
    for (const FzImage& image : fzImages()) {
        const std::string path = dir.file("image.fits.fz"), values = dir.file("values.bin");
        writeFz(path, image);
        std::remove(values.c_str());
        ASSERT_EQ(std::system(("/usr/bin/python3 " + scriptPath + " " + path + " " + values).c_str()), 0) << image.name;
        const std::vector<uint8_t> bytes = tile_oracle::readBytes(values, 0, image.expected.size() * 8);
        std::vector<double> got(bytes.size() / 8);
        for (size_t i = 0; i < got.size(); ++i) {
            const uint64_t b = loadBE64(bytes.data() + 8 * i);
            std::memcpy(&got[i], &b, 8);
        }
        // astropy 5.2.1 reads ZBLANK of quantized floats as a number, not NaN
        // (compression-facts.md, section 9): null pixels are left out for it.
        std::string why;
        EXPECT_TRUE(sameValues(image.expected, got, image.quantized, why)) << image.name << ": " << why;
    }
}

}  // namespace
