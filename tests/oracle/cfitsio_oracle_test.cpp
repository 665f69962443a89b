// The module against cfitsio, an independent FITS reader and writer.
//
// Files written by cfitsio are opened through the module (disk files, as the
// editor opens them), and every host sample is compared with the value the
// import rules give for what cfitsio itself reads from the file. The other
// way round, documents saved through the module are read back with cfitsio
// sample for sample. The expected values are computed here from cfitsio's
// raw and scaled reads, never from the module's own helpers, so that a fault
// shared by the module's conversion code and its unit tests still shows.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "host/host.h"
#include "platform/host_sdk.h"

extern "C" void ENTRYPOINT(int16_t selector, void* params, intptr_t* data, int16_t* result);

namespace {

using nebulite::host::Document;
using nebulite::host::File;
using nebulite::host::Host;
using nebulite::host::Image;
using nebulite::host::Outcome;

namespace fs = std::filesystem;

std::string cfitsioError(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    std::string all = std::to_string(status) + " " + text;
    char message[FLEN_ERRMSG];
    while (fits_read_errmsg(message) != 0) all += std::string("; ") + message;
    return all;
}

#define FITS_OK(call)                                                  \
    do {                                                               \
        int status_ = 0;                                               \
        int* status = &status_;                                        \
        (void)status;                                                  \
        call;                                                          \
        ASSERT_EQ(status_, 0) << #call << ": " << cfitsioError(status_); \
    } while (0)

// One directory per test, removed afterwards unless NEBULITE_ORACLE_KEEP is
// set (then the files stay for a look with fitsverify or ds9).
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "nebulite-oracle-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        if (std::getenv("NEBULITE_ORACLE_KEEP") == nullptr) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

// ---- Writing the inputs with cfitsio ----------------------------------------

struct Key {
    Key(std::string n, double v, bool i = false) : name(std::move(n)), value(v), integer(i) {}
    std::string name;
    double value;
    bool integer = false;
    std::string card;  // when set, written as this 80-column text instead
};

// A card as some other writer formats it (free format, a D exponent).
Key rawCard(std::string text) {
    Key k("", 0.0);
    k.card = std::move(text);
    return k;
}

// Stored values (before BSCALE/BZERO) in FITS order; NaN and infinities are
// only meaningful for BITPIX -32.
using Raw = std::vector<double>;

struct Input {
    std::string name;
    int bitpix = 16;
    std::vector<long> axes;
    std::vector<Key> keys;    // after the mandatory cards, in this order
    int historyCards = 0;     // to push the header over one or more blocks
    bool extension = false;   // an image extension after the primary HDU
    Raw raw;
};

// gtest names a failing case by this rather than by its bytes.
void PrintTo(const Input& in, std::ostream* os) { *os << in.name; }

size_t sampleCount(const std::vector<long>& axes) {
    size_t n = 1;
    for (long a : axes) n *= static_cast<size_t>(a);
    return n;
}

void writeInput(const Input& in, const std::string& path) {
    fitsfile* f = nullptr;
    std::string bang = "!" + path;
    FITS_OK(fits_create_file(&f, bang.c_str(), status));
    std::vector<long> axes = in.axes;
    FITS_OK(fits_create_img(f, in.bitpix, static_cast<int>(axes.size()), axes.data(), status));
    for (const Key& k : in.keys) {
        if (!k.card.empty()) {
            FITS_OK(fits_write_record(f, k.card.c_str(), status));
        } else if (k.integer) {
            auto v = static_cast<LONGLONG>(k.value);
            FITS_OK(fits_write_key(f, TLONGLONG, k.name.c_str(), &v, nullptr, status));
        } else {
            double v = k.value;
            FITS_OK(fits_write_key(f, TDOUBLE, k.name.c_str(), &v, nullptr, status));
        }
    }
    for (int i = 0; i < in.historyCards; ++i) {
        std::string text = "filler card " + std::to_string(i) + " to lengthen the header";
        FITS_OK(fits_write_history(f, text.c_str(), status));
    }
    // The stored values go to the file exactly as given: no scaling on the
    // way out, and no null substitution either.
    FITS_OK(fits_set_bscale(f, 1.0, 0.0, status));
    size_t n = in.raw.size();
    switch (in.bitpix) {
        case 8: {
            std::vector<unsigned char> v(n);
            for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(in.raw[i]);
            FITS_OK(fits_write_img(f, TBYTE, 1, static_cast<LONGLONG>(n), v.data(), status));
            break;
        }
        case 16: {
            std::vector<short> v(n);
            for (size_t i = 0; i < n; ++i)
                v[i] = static_cast<short>(static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(in.raw[i]))));
            FITS_OK(fits_write_img(f, TSHORT, 1, static_cast<LONGLONG>(n), v.data(), status));
            break;
        }
        case 32: {
            std::vector<int> v(n);
            for (size_t i = 0; i < n; ++i) v[i] = static_cast<int>(in.raw[i]);
            FITS_OK(fits_write_img(f, TINT, 1, static_cast<LONGLONG>(n), v.data(), status));
            break;
        }
        case -32: {
            std::vector<float> v(n);
            for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(in.raw[i]);
            FITS_OK(fits_write_img(f, TFLOAT, 1, static_cast<LONGLONG>(n), v.data(), status));
            break;
        }
        default: FAIL() << "no writer for BITPIX " << in.bitpix;
    }
    if (in.extension) {
        long extAxes[2] = {7, 5};
        FITS_OK(fits_create_img(f, FLOAT_IMG, 2, extAxes, status));
        std::vector<float> v(35, 12345.0f);
        FITS_OK(fits_write_img(f, TFLOAT, 1, 35, v.data(), status));
    }
    FITS_OK(fits_close_file(f, status));
}

// ---- What the host must get, from cfitsio's reading ----------------------------

struct Expected {
    int rows = 0, columns = 0, planes = 0, depth = 0;
    int16_t mode = plugInModeGrayScale;
    std::vector<uint32_t> samples;  // plane, row, column
};

// The header's range cards, in header order, as cfitsio lists them.
struct HeaderRange {
    bool seen = false;
    bool offset = false;
    double lo = 0.0;
    double hi = 0.0;
};

HeaderRange headerRange(fitsfile* f, int* status) {
    HeaderRange r;
    int count = 0, more = 0;
    fits_get_hdrspace(f, &count, &more, status);
    for (int i = 1; i <= count && *status == 0; ++i) {
        char name[FLEN_KEYWORD], value[FLEN_VALUE], comment[FLEN_COMMENT];
        fits_read_keyn(f, i, name, value, comment, status);
        std::string k = name;
        bool low = k == "BACKGRND" || k == "AVISUMIN" || k == "DATAMIN" || k == "CBLACK";
        bool high = k == "RANGE" || k == "AVISUMAX" || k == "DATAMAX" || k == "CWHITE";
        if (!low && !high) continue;
        double v = 0.0;
        fits_read_key_dbl(f, name, &v, nullptr, status);
        r.seen = true;
        if (k == "BACKGRND" || k == "RANGE") r.offset = true;
        (low ? r.lo : r.hi) = v;
    }
    return r;
}

double keyOr(fitsfile* f, const char* name, double fallback, bool* present = nullptr) {
    int status = 0;
    double v = fallback;
    fits_read_key_dbl(f, name, &v, nullptr, &status);
    if (present != nullptr) *present = status == 0;
    return status == 0 ? v : fallback;
}

void expectedFromCfitsio(const std::string& path, Expected& out) {
    fitsfile* f = nullptr;
    FITS_OK(fits_open_image(&f, path.c_str(), READONLY, status));
    int bitpix = 0, naxis = 0;
    long axes[3] = {1, 1, 1};
    FITS_OK(fits_get_img_param(f, 3, &bitpix, &naxis, axes, status));
    ASSERT_TRUE(naxis == 2 || naxis == 3) << naxis;
    out.columns = static_cast<int>(axes[0]);
    out.rows = static_cast<int>(axes[1]);
    out.planes = naxis == 3 && axes[2] >= 3 ? 3 : 1;
    out.mode = out.planes == 3 ? plugInModeRGBColor : plugInModeGrayScale;
    out.depth = bitpix == 8 ? 8 : 16;
    const auto n = static_cast<LONGLONG>(out.rows) * out.columns * out.planes;
    out.samples.assign(static_cast<size_t>(n), 0);

    bool hasBzero = false, hasBlank = false;
    double bzero = keyOr(f, "BZERO", 0.0, &hasBzero);
    double bscale = keyOr(f, "BSCALE", 1.0);
    double blankKey = keyOr(f, "BLANK", 0.0, &hasBlank);
    (void)hasBzero;
    int anyNull = 0;

    if (bitpix == 8) {
        // The bytes as stored: cfitsio's own scaling switched off.
        FITS_OK(fits_set_bscale(f, 1.0, 0.0, status));
        std::vector<unsigned char> v(static_cast<size_t>(n));
        FITS_OK(fits_read_img(f, TBYTE, 1, n, nullptr, v.data(), &anyNull, status));
        for (size_t i = 0; i < v.size(); ++i) out.samples[i] = v[i];
    } else if (bitpix == 16) {
        FITS_OK(fits_set_bscale(f, 1.0, 0.0, status));
        std::vector<short> v(static_cast<size_t>(n));
        FITS_OK(fits_read_img(f, TSHORT, 1, n, nullptr, v.data(), &anyNull, status));
        // Without BZERO, or with BZERO exactly 0, the stored bits count as
        // unsigned: files from cameras that never set BZERO hold 0..65535.
        bool unsignedData = bzero == 0.0;
        double scale = bscale == 0.0 ? 1.0 : bscale;
        for (size_t i = 0; i < v.size(); ++i) {
            double s = unsignedData ? static_cast<double>(static_cast<uint16_t>(v[i])) : static_cast<double>(v[i]);
            double p = s * scale + bzero;
            if (std::isnan(p) || p < 0.0) p = 0.0;
            if (p > 65535.0) p = 65535.0;
            auto t = static_cast<uint32_t>(std::trunc(p));
            out.samples[i] = (t + 1) / 2;
        }
    } else {
        // Physical values and nulls as cfitsio gives them (BLANK for integer
        // data, NaN for floating point); infinities are undefined as well.
        std::vector<double> p(static_cast<size_t>(n));
        std::vector<char> isNull(static_cast<size_t>(n), 0);
        FITS_OK(fits_read_imgnull(f, TDOUBLE, 1, n, p.data(), isNull.data(), &anyNull, status));
        HeaderRange range;
        {
            int status = 0;
            range = headerRange(f, &status);
            ASSERT_EQ(status, 0) << cfitsioError(status);
        }
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        std::vector<bool> defined(p.size());
        for (size_t i = 0; i < p.size(); ++i) {
            defined[i] = !isNull[i] && std::isfinite(p[i]);
            if (!defined[i]) continue;
            lo = std::min(lo, p[i]);
            hi = std::max(hi, p[i]);
        }
        if (range.seen) {
            double headerHi = range.offset ? range.lo + range.hi : range.hi;
            if (headerHi > range.lo) {
                lo = range.lo;
                hi = headerHi;
            }
        }
        for (size_t i = 0; i < p.size(); ++i) {
            if (!defined[i] || !(hi > lo)) continue;
            double x = std::round((p[i] - lo) / (hi - lo) * 32768.0);
            out.samples[i] = x <= 0.0 ? 0u : x >= 32768.0 ? 32768u : static_cast<uint32_t>(x);
        }
        (void)blankKey;
        (void)hasBlank;
    }
    FITS_OK(fits_close_file(f, status));
}

// ---- Comparing --------------------------------------------------------------------

// Every host sample against the expected one; only the first few
// differences are listed, with the total.
void expectSamples(const Image& image, const Expected& e) {
    ASSERT_EQ(image.rows, e.rows);
    ASSERT_EQ(image.columns, e.columns);
    ASSERT_EQ(image.planes, e.planes);
    ASSERT_EQ(image.depth, e.depth);
    EXPECT_EQ(image.mode, e.mode);
    size_t wrong = 0;
    for (int p = 0; p < e.planes; ++p)
        for (int r = 0; r < e.rows; ++r)
            for (int c = 0; c < e.columns; ++c) {
                size_t i = image.index(p, r, c);
                uint32_t got = image.sample(p, r, c);
                if (got == e.samples[i]) continue;
                if (++wrong <= 8)
                    ADD_FAILURE() << "plane " << p << " row " << r << " column " << c << ": host " << got
                                  << ", expected " << e.samples[i];
            }
    EXPECT_EQ(wrong, 0u) << "samples differing from cfitsio's reading";
}

Document openThroughModule(const std::string& path, Outcome* outcomeOut = nullptr) {
    Host host(&ENTRYPOINT);
    File file = File::disk(path);
    Outcome outcome = host.read(file);
    EXPECT_TRUE(outcome.ok()) << path << ": result " << outcome.result << " at selector "
                              << outcome.failedSelector << " " << outcome.hostFailure;
    EXPECT_TRUE(outcome.violations.empty()) << outcome.violations.front();
    EXPECT_TRUE(outcome.leaks.empty());
    EXPECT_EQ(outcome.outOfRangeSamples, 0u);
    if (outcomeOut != nullptr) *outcomeOut = outcome;
    return host.takeDocument();
}

// ---- The inputs ------------------------------------------------------------------------

// Random stored values in [lo, hi], with a few chosen ones at the front so
// that every file holds its type's extremes.
Raw randomRaw(size_t n, double lo, double hi, unsigned seed, std::vector<double> front = {}) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int64_t> d(static_cast<int64_t>(lo), static_cast<int64_t>(hi));
    Raw raw(n);
    for (size_t i = 0; i < n; ++i) raw[i] = i < front.size() ? front[i] : static_cast<double>(d(rng));
    return raw;
}

Raw randomFloats(size_t n, double lo, double hi, unsigned seed, std::vector<double> front = {}) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> d(lo, hi);
    Raw raw(n);
    for (size_t i = 0; i < n; ++i)
        raw[i] = i < front.size() ? front[i] : static_cast<double>(static_cast<float>(d(rng)));
    return raw;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Input make(std::string name, int bitpix, std::vector<long> axes, std::vector<Key> keys, unsigned seed,
           std::vector<double> front = {}) {
    Input in;
    in.name = std::move(name);
    in.bitpix = bitpix;
    in.axes = std::move(axes);
    in.keys = std::move(keys);
    size_t n = sampleCount(in.axes);
    switch (bitpix) {
        case 8: in.raw = randomRaw(n, 0, 255, seed, front); break;
        case 16: in.raw = randomRaw(n, -32768, 32767, seed, front); break;
        case 32: in.raw = randomRaw(n, -2000000000, 2000000000, seed, front); break;
        default: in.raw = randomFloats(n, -1.0e4, 3.0e4, seed, front); break;
    }
    return in;
}

std::vector<Input> readCases() {
    std::vector<Input> cases;
    const Key bzero32768{"BZERO", 32768.0};
    const Key bscale1{"BSCALE", 1.0};
    // 8-bit: bytes unchanged, whatever BSCALE and BZERO say.
    cases.push_back(make("u8 plain", 8, {61, 47}, {}, 1, {0, 255, 1, 254}));
    cases.push_back(make("u8 scaled keys ignored", 8, {40, 30}, {{"BSCALE", 2.0}, {"BZERO", -100.0}}, 2, {0, 255}));
    cases.push_back(make("u8 1x1", 8, {1, 1}, {}, 3, {200}));
    cases.push_back(make("u8 1x777", 8, {1, 777}, {}, 4));
    cases.push_back(make("u8 333x2", 8, {333, 2}, {}, 5));
    cases.push_back(make("u8 rgb", 8, {37, 29, 3}, {}, 6));
    cases.push_back(make("u8 naxis3=1", 8, {45, 20, 1}, {}, 7));
    cases.push_back(make("u8 naxis3=2", 8, {45, 20, 2}, {}, 8));
    cases.push_back(make("u8 naxis3=30", 8, {23, 17, 30}, {}, 9));
    // 16-bit, the common camera layouts and the scaled ones.
    cases.push_back(make("i16 bzero 32768", 16, {64, 48}, {bscale1, bzero32768}, 10, {-32768, 32767, 0, -1, 1}));
    cases.push_back(make("i16 no bzero (unsigned)", 16, {64, 48}, {}, 11, {-32768, 32767, 0, -1, 1}));
    cases.push_back(make("i16 bzero 0 (unsigned)", 16, {50, 31}, {{"BZERO", 0.0}}, 12, {-32768, -1, 0, 1}));
    cases.push_back(make("i16 bscale 2.5 bzero -1000", 16, {70, 33}, {{"BSCALE", 2.5}, {"BZERO", -1000.0}}, 13,
                         {-32768, 32767, 400, 401, 402, 0}));
    cases.push_back(make("i16 bscale 0.3 bzero 7.7", 16, {70, 33}, {{"BSCALE", 0.3}, {"BZERO", 7.7}}, 14));
    cases.push_back(make("i16 unsigned bscale 0.5", 16, {70, 33}, {{"BSCALE", 0.5}}, 15, {-1, 0, 1, 3}));
    cases.push_back(make("i16 bscale 0 read as 1", 16, {40, 40}, {{"BSCALE", 0.0}, {"BZERO", 100.0}}, 16,
                         {-32768, 32767, -100, -101}));
    cases.push_back(make("i16 bzero 100000 clamps high", 16, {40, 40}, {{"BZERO", 100000.0}}, 17));
    cases.push_back(make("i16 bzero -40000 clamps low", 16, {40, 40}, {{"BZERO", -40000.0}}, 18));
    cases.push_back(make("i16 1x1", 16, {1, 1}, {bzero32768}, 19, {12345}));
    cases.push_back(make("i16 1x777", 16, {1, 777}, {bzero32768}, 20));
    cases.push_back(make("i16 333x2", 16, {333, 2}, {bzero32768}, 21));
    cases.push_back(make("i16 rgb", 16, {41, 27, 3}, {bzero32768}, 22));
    cases.push_back(make("i16 naxis3=1", 16, {41, 27, 1}, {bzero32768}, 23));
    cases.push_back(make("i16 naxis3=30", 16, {19, 11, 30}, {bzero32768}, 24));
    {
        Input in = make("i16 three header blocks and an extension", 16, {52, 39}, {bzero32768}, 25);
        in.historyCards = 90;
        in.extension = true;
        cases.push_back(in);
    }
    // cfitsio starts a header with SIMPLE, BITPIX, NAXIS, NAXIS1, NAXIS2,
    // EXTEND and two COMMENT cards: 27 fillers put END in the last slot of
    // the first block, 28 make it the first card of the second.
    for (int fillers : {27, 28}) {
        Input in = make("u8 " + std::to_string(fillers) + " fillers, extension", 8, {52, 39}, {},
                        static_cast<unsigned>(fillers));
        in.historyCards = fillers;
        in.extension = true;
        cases.push_back(in);
    }
    // 32-bit integers: range from the data, BLANK undefined.
    cases.push_back(make("i32 data range", 32, {57, 43}, {}, 30, {-2147483648.0, 2147483647.0}));
    cases.push_back(make("i32 blank", 32, {57, 43}, {{"BLANK", -7, true}}, 31, {-7, -7, 5, -2147483648.0}));
    cases.push_back(make("i32 scaled blank", 32, {57, 43}, {{"BSCALE", 1.0e-6}, {"BZERO", 50.0}, {"BLANK", 0, true}},
                         32, {0, 1, -1}));
    cases.push_back(make("i32 datamin datamax", 32, {30, 20},
                         {{"DATAMIN", -1.0e9}, {"DATAMAX", 1.0e9}}, 33));
    cases.push_back(make("i32 header range hi<=lo falls back to data", 32, {30, 20},
                         {{"DATAMIN", 5.0}, {"DATAMAX", 5.0}}, 34));
    cases.push_back(make("i32 constant data", 32, {30, 20}, {}, 35, std::vector<double>(600, 42.0)));
    cases.push_back(make("i32 rgb", 32, {21, 13, 3}, {}, 36));
    cases.push_back(make("i32 naxis3=30 range from first planes", 32, {9, 7, 30}, {}, 37));
    // Floating point: NaN and infinities undefined.
    cases.push_back(make("f32 data range", -32, {57, 43}, {}, 40, {kNaN, kInf, -kInf, 0.0}));
    cases.push_back(make("f32 scaled", -32, {57, 43}, {{"BSCALE", -3.0}, {"BZERO", 11.0}}, 41, {kNaN}));
    cases.push_back(make("f32 cblack cwhite", -32, {40, 30}, {{"CBLACK", 0.0}, {"CWHITE", 10000.0}}, 42));
    cases.push_back(make("f32 backgrnd range (offset)", -32, {40, 30},
                         {{"BACKGRND", -500.0}, {"RANGE", 2000.0}}, 43));
    cases.push_back(make("f32 last of low and high cards wins", -32, {40, 30},
                         {{"DATAMIN", -9000.0}, {"AVISUMIN", 100.0}, {"DATAMAX", 99999.0}, {"AVISUMAX", 20000.0}},
                         44));
    cases.push_back(make("f32 range card makes any high an offset", -32, {40, 30},
                         {{"RANGE", 1.0}, {"DATAMIN", 1000.0}, {"DATAMAX", 5000.0}}, 45));
    // Range cards as other writers format them; cfitsio reads each value.
    cases.push_back(make("f32 D exponents", -32, {40, 30},
                         {rawCard("DATAMIN =               0.0D0 / low"),
                          rawCard("DATAMAX =               1.5D4 / high")},
                         53));
    cases.push_back(make("f32 free-format values", -32, {40, 30},
                         {rawCard("DATAMIN = -2.5e3 / free format, lower-case exponent"),
                          rawCard("DATAMAX =     12000 / an integer for a real")},
                         54));
    cases.push_back(make("i16 free-format bzero", 16, {40, 30},
                         {rawCard("BZERO   = 32768. / free format"), rawCard("BSCALE  = 1.0E0")}, 55));
    cases.push_back(make("f32 all undefined", -32, {8, 8}, {}, 46, std::vector<double>(64, kNaN)));
    cases.push_back(make("f32 1x1", -32, {1, 1}, {}, 47, {3.5}));
    cases.push_back(make("f32 1x777", -32, {1, 777}, {}, 48));
    cases.push_back(make("f32 333x2", -32, {333, 2}, {}, 49));
    cases.push_back(make("f32 rgb, NaN in the third plane", -32, {21, 13, 3}, {}, 50));
    cases.back().raw[2 * 21 * 13 + 5] = kNaN;
    cases.push_back(make("f32 naxis3=2 grey", -32, {21, 13, 2}, {}, 51));
    {
        Input in = make("f32 two header blocks and an extension", -32, {33, 22}, {{"DATAMIN", -100.0}}, 52);
        in.historyCards = 40;
        in.extension = true;
        in.keys.push_back({"DATAMAX", 20000.0});
        cases.push_back(in);
    }
    // The widest rows the host takes: more bytes than one 16-bit read count
    // moves, so every row is read in pieces.
    cases.push_back(make("u8 32767x2", 8, {32767, 2}, {}, 60));
    cases.push_back(make("i16 32767x2", 16, {32767, 2}, {bzero32768}, 61));
    cases.push_back(make("i32 32767x2", 32, {32767, 2}, {}, 62));
    cases.push_back(make("f32 rgb 32767x1", -32, {32767, 1, 3}, {}, 63));
    cases.push_back(make("i16 2x32767", 16, {2, 32767}, {}, 64));
    return cases;
}

class ReadAgainstCfitsio : public ::testing::TestWithParam<Input> {};

TEST_P(ReadAgainstCfitsio, EveryHostSample) {
    const Input& in = GetParam();
    TempDir dir;
    std::string path = dir.file("input.fits");
    ASSERT_NO_FATAL_FAILURE(writeInput(in, path));
    Expected expected;
    ASSERT_NO_FATAL_FAILURE(expectedFromCfitsio(path, expected));
    Document document = openThroughModule(path);
    ASSERT_FALSE(HasFailure());
    expectSamples(document.image, expected);
}

std::string caseName(const ::testing::TestParamInfo<Input>& info) {
    std::string n;
    for (char c : info.param.name) n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return std::to_string(info.index) + "_" + n;
}

INSTANTIATE_TEST_SUITE_P(Files, ReadAgainstCfitsio, ::testing::ValuesIn(readCases()), caseName);

// The oracle's own arithmetic on a hand-checked file, so that a wrong
// expectation cannot hide behind an equally wrong module.
TEST(OracleSelfCheck, HandComputedSixteenBitValues) {
    Input in = make("hand", 16, {4, 1}, {{"BSCALE", 2.5}, {"BZERO", -1000.0}}, 0, {400, 401, 402, -32768});
    TempDir dir;
    std::string path = dir.file("hand.fits");
    ASSERT_NO_FATAL_FAILURE(writeInput(in, path));
    Expected e;
    ASSERT_NO_FATAL_FAILURE(expectedFromCfitsio(path, e));
    // 400*2.5-1000 = 0 -> 0; 401 -> 2.5 -> t 2 -> 1; 402 -> 5 -> 3; negative -> 0.
    EXPECT_EQ(e.samples, (std::vector<uint32_t>{0, 1, 3, 0}));
}

TEST(OracleSelfCheck, HandComputedFloatValues) {
    Input in = make("hand", -32, {5, 1}, {{"DATAMIN", 0.0}, {"DATAMAX", 4.0}}, 0, {0.0, 1.0, 4.0, kNaN, 9.0});
    TempDir dir;
    std::string path = dir.file("hand.fits");
    ASSERT_NO_FATAL_FAILURE(writeInput(in, path));
    Expected e;
    ASSERT_NO_FATAL_FAILURE(expectedFromCfitsio(path, e));
    EXPECT_EQ(e.samples, (std::vector<uint32_t>{0, 8192, 32768, 0, 32768}));
}

// ---- Saving through the module, reading back with cfitsio ---------------------------------

struct Saved {
    int bitpix = 0;
    int naxis = 0;
    long axes[3] = {0, 0, 0};
    double bzero = 0.0, bscale = 1.0;
    bool hasBzero = false;
    std::vector<double> physical;  // cfitsio's scaled reading, FITS order
    std::vector<long> stored;      // the raw integers
};

void readSaved(const std::string& path, Saved& s) {
    fitsfile* f = nullptr;
    FITS_OK(fits_open_image(&f, path.c_str(), READONLY, status));
    FITS_OK(fits_get_img_param(f, 3, &s.bitpix, &s.naxis, s.axes, status));
    s.bzero = keyOr(f, "BZERO", 0.0, &s.hasBzero);
    s.bscale = keyOr(f, "BSCALE", 1.0);
    LONGLONG n = 1;
    for (int i = 0; i < s.naxis; ++i) n *= s.axes[i];
    s.physical.assign(static_cast<size_t>(n), 0.0);
    int anyNull = 0;
    FITS_OK(fits_read_img(f, TDOUBLE, 1, n, nullptr, s.physical.data(), &anyNull, status));
    FITS_OK(fits_set_bscale(f, 1.0, 0.0, status));
    s.stored.assign(static_cast<size_t>(n), 0);
    FITS_OK(fits_read_img(f, TLONG, 1, n, nullptr, s.stored.data(), &anyNull, status));
    FITS_OK(fits_close_file(f, status));
}

// What a saved file must hold for the image the host handed over.
void expectSavedImage(const Saved& s, const Image& image) {
    ASSERT_EQ(s.bitpix, image.depth == 8 ? 8 : 16);
    ASSERT_EQ(s.naxis, image.planes == 3 ? 3 : 2);
    ASSERT_EQ(s.axes[0], image.columns);
    ASSERT_EQ(s.axes[1], image.rows);
    if (image.planes == 3) {
        ASSERT_EQ(s.axes[2], 3);
    }
    if (image.depth == 16) {
        EXPECT_TRUE(s.hasBzero);
        EXPECT_EQ(s.bzero, 32768.0);
        EXPECT_EQ(s.bscale, 1.0);
    }
    size_t wrong = 0;
    for (int p = 0; p < image.planes; ++p)
        for (int r = 0; r < image.rows; ++r)
            for (int c = 0; c < image.columns; ++c) {
                size_t i = image.index(p, r, c);
                uint32_t h = image.sample(p, r, c);
                double wantPhysical = image.depth == 8 ? h : std::min(2.0 * h, 65535.0);
                long wantStored = image.depth == 8 ? static_cast<long>(h) : static_cast<long>(wantPhysical) - 32768;
                if (s.physical[i] == wantPhysical && s.stored[i] == wantStored) continue;
                if (++wrong <= 8)
                    ADD_FAILURE() << "plane " << p << " row " << r << " column " << c << ": host " << h
                                  << " saved as stored " << s.stored[i] << " physical " << s.physical[i]
                                  << ", expected " << wantStored << " / " << wantPhysical;
            }
    EXPECT_EQ(wrong, 0u) << "saved samples differing from the host's";
}

Document randomDocument(int rows, int columns, int planes, int depth, unsigned seed) {
    Document d;
    d.image.rows = rows;
    d.image.columns = columns;
    d.image.planes = static_cast<int16_t>(planes);
    d.image.depth = static_cast<int16_t>(depth);
    d.image.mode = planes == 3 ? plugInModeRGBColor : plugInModeGrayScale;
    d.image.allocate();
    std::mt19937 rng(seed);
    const uint32_t top = d.image.maxSample();
    std::uniform_int_distribution<uint32_t> any(0, top);
    // Both ends of the range and the sample that clamps on the way out.
    const uint32_t edges[] = {0, top, top - 1, 1, top / 2};
    size_t i = 0;
    for (int p = 0; p < planes; ++p)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c, ++i)
                d.image.setSample(p, r, c, i < std::size(edges) ? edges[i] : any(rng));
    return d;
}

void saveThroughModule(Document& document, const std::string& path) {
    Host host(&ENTRYPOINT);
    File file = File::disk(path);
    Outcome outcome = host.save(document, file);
    ASSERT_TRUE(outcome.ok()) << path << ": result " << outcome.result << " at selector "
                              << outcome.failedSelector << " " << outcome.hostFailure;
    EXPECT_TRUE(outcome.violations.empty()) << outcome.violations.front();
    EXPECT_TRUE(outcome.leaks.empty());
}

struct SaveCase {
    const char* name;
    int rows, columns, planes, depth;
};

void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.name; }

class SynthesisedSave : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SynthesisedSave, CfitsioReadsTheHostSamples) {
    const SaveCase& c = GetParam();
    TempDir dir;
    Document d = randomDocument(c.rows, c.columns, c.planes, c.depth, 77u + static_cast<unsigned>(c.rows));
    std::string path = dir.file("saved.fits");
    ASSERT_NO_FATAL_FAILURE(saveThroughModule(d, path));
    Saved s;
    ASSERT_NO_FATAL_FAILURE(readSaved(path, s));
    expectSavedImage(s, d.image);
}

INSTANTIATE_TEST_SUITE_P(Documents, SynthesisedSave,
                         ::testing::Values(SaveCase{"grey8", 47, 61, 1, 8}, SaveCase{"grey16", 48, 64, 1, 16},
                                           SaveCase{"rgb8", 29, 37, 3, 8}, SaveCase{"rgb16", 27, 41, 3, 16},
                                           SaveCase{"grey8_1x1", 1, 1, 1, 8},
                                           SaveCase{"grey16_1x1", 1, 1, 1, 16},
                                           SaveCase{"grey16_1x777", 777, 1, 1, 16},
                                           SaveCase{"rgb8_333x2", 2, 333, 3, 8},
                                           SaveCase{"rgb16_333x2", 2, 333, 3, 16},
                                           SaveCase{"grey16_32767x2", 2, 32767, 1, 16},
                                           SaveCase{"rgb8_32767x1", 1, 32767, 3, 8},
                                           SaveCase{"rgb16_2x32767", 32767, 2, 3, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file opened and saved again keeps its header; the samples must still be
// the host's, and (for data the module read without loss) the original's.
class KeptHeaderSave : public ::testing::TestWithParam<Input> {};

TEST_P(KeptHeaderSave, CfitsioReadsTheHostSamples) {
    const Input& in = GetParam();
    TempDir dir;
    std::string original = dir.file("original.fits");
    ASSERT_NO_FATAL_FAILURE(writeInput(in, original));
    Expected expected;
    ASSERT_NO_FATAL_FAILURE(expectedFromCfitsio(original, expected));
    Document d = openThroughModule(original);
    ASSERT_FALSE(HasFailure());
    expectSamples(d.image, expected);
    ASSERT_FALSE(d.resources[nebulite::host::kHistoryResource].empty()) << "no header kept";
    std::string again = dir.file("again.fits");
    ASSERT_NO_FATAL_FAILURE(saveThroughModule(d, again));
    Saved s;
    ASSERT_NO_FATAL_FAILURE(readSaved(again, s));
    expectSavedImage(s, d.image);
    if (in.bitpix == 8) {
        // 8-bit data goes through untouched both ways.
        std::vector<long> first(in.raw.begin(), in.raw.begin() + static_cast<long>(s.stored.size()));
        EXPECT_EQ(s.stored, first);
    }
    if (in.bitpix == 16) {
        // Each sample within 1 of the clamped value the module read: the
        // host keeps half the resolution, 2*((t+1)/2) is t or t+1.
        Saved o;
        ASSERT_NO_FATAL_FAILURE(readSaved(original, o));
        const double bz = o.hasBzero ? o.bzero : 0.0;
        const double sc = o.bscale == 0.0 ? 1.0 : o.bscale;
        size_t wrong = 0;
        for (size_t i = 0; i < s.physical.size(); ++i) {
            // t as the import rules make it from the original's stored value.
            double sv = bz == 0.0 ? static_cast<double>(static_cast<uint16_t>(o.stored[i]))
                                  : static_cast<double>(static_cast<int16_t>(o.stored[i]));
            double v = sv * sc + bz;
            if (!(v >= 0.0)) v = 0.0;
            if (v > 65535.0) v = 65535.0;
            double t = std::trunc(v);
            if (std::fabs(s.physical[i] - t) <= 1.0) continue;
            if (++wrong <= 8)
                ADD_FAILURE() << "sample " << i << ": read as t=" << t << ", saved back as " << s.physical[i];
        }
        EXPECT_EQ(wrong, 0u);
    }
}

std::vector<Input> keptCases() {
    std::vector<Input> cases;
    const Key bzero32768{"BZERO", 32768.0};
    cases.push_back(make("u8 grey", 8, {61, 47}, {}, 101));
    cases.push_back(make("u8 rgb", 8, {37, 29, 3}, {}, 102));
    cases.push_back(make("u8 naxis3=30", 8, {23, 17, 30}, {}, 103));
    // 8-bit data are written unchanged, so scaling cards kept from the
    // original would change what every other reader sees.
    cases.push_back(make("u8 scaling cards", 8, {30, 20}, {{"BSCALE", 2.0}, {"BZERO", -100.0}}, 111));
    cases.push_back(make("i16 grey bzero 32768", 16, {64, 48}, {bzero32768}, 104, {-32768, 32767}));
    cases.push_back(make("i16 grey unsigned", 16, {64, 48}, {}, 105, {-32768, 32767, -1}));
    cases.push_back(make("i16 rgb", 16, {41, 27, 3}, {bzero32768}, 106));
    cases.push_back(make("i16 scaled", 16, {41, 27}, {{"BSCALE", 2.5}, {"BZERO", -1000.0}}, 107));
    cases.push_back(make("f32 grey", -32, {40, 30}, {}, 108, {kNaN}));
    cases.push_back(make("i32 rgb", 32, {21, 13, 3}, {{"BLANK", 0, true}}, 109, {0}));
    {
        Input in = make("i16 long header and extension", 16, {52, 39}, {bzero32768}, 110);
        in.historyCards = 80;
        in.extension = true;
        cases.push_back(in);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Files, KeptHeaderSave, ::testing::ValuesIn(keptCases()), caseName);

}  // namespace

// A kept header whose image the host changed before saving (another depth,
// grey to RGB and back): the rewritten header must describe the samples the
// host handed over, whatever the original said about BITPIX, NAXIS and the
// scaling.
namespace {

struct Change {
    const char* name;
    int depth;   // 0: keep
    int planes;  // 0: keep
};

Document changed(const Document& from, const Change& change) {
    Document to;
    to.resources = from.resources;
    to.image.rows = from.image.rows;
    to.image.columns = from.image.columns;
    to.image.depth = static_cast<int16_t>(change.depth != 0 ? change.depth : from.image.depth);
    to.image.planes = static_cast<int16_t>(change.planes != 0 ? change.planes : from.image.planes);
    to.image.mode = to.image.planes == 3 ? plugInModeRGBColor : plugInModeGrayScale;
    to.image.allocate();
    const double scale = static_cast<double>(to.image.maxSample()) / from.image.maxSample();
    for (int p = 0; p < to.image.planes; ++p)
        for (int r = 0; r < to.image.rows; ++r)
            for (int c = 0; c < to.image.columns; ++c) {
                uint32_t v = from.image.sample(std::min(p, from.image.planes - 1), r, c);
                to.image.setSample(p, r, c, static_cast<uint32_t>(std::lround(v * scale)));
            }
    return to;
}

struct ChangeCase {
    Input input;
    Change change;
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.input.name << ", " << c.change.name; }

class KeptHeaderChangedImage : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(KeptHeaderChangedImage, CfitsioReadsTheHostSamples) {
    const ChangeCase& c = GetParam();
    TempDir dir;
    std::string original = dir.file("original.fits");
    ASSERT_NO_FATAL_FAILURE(writeInput(c.input, original));
    Document read = openThroughModule(original);
    ASSERT_FALSE(HasFailure());
    Document d = changed(read, c.change);
    std::string again = dir.file("again.fits");
    ASSERT_NO_FATAL_FAILURE(saveThroughModule(d, again));
    Saved s;
    ASSERT_NO_FATAL_FAILURE(readSaved(again, s));
    expectSavedImage(s, d.image);
}

std::vector<ChangeCase> changeCases() {
    const Key bzero32768{"BZERO", 32768.0};
    Input i16 = make("i16 bzero 32768", 16, {33, 21}, {bzero32768}, 201);
    Input i16scaled = make("i16 bscale 2.5 bzero -1000", 16, {33, 21}, {{"BSCALE", 2.5}, {"BZERO", -1000.0}}, 202);
    Input u8 = make("u8 scaling cards", 8, {33, 21}, {{"BSCALE", 2.0}, {"BZERO", -100.0}}, 203);
    Input rgb8 = make("u8 rgb", 8, {33, 21, 3}, {}, 204);
    Input rgb16 = make("i16 rgb naxis3=30", 16, {13, 11, 30}, {bzero32768}, 205);
    Input f32 = make("f32", -32, {33, 21}, {{"DATAMIN", -100.0}, {"DATAMAX", 5000.0}}, 206);
    return {
        {i16, {"to 8 bit", 8, 0}},        {i16scaled, {"to 8 bit", 8, 0}}, {u8, {"to 16 bit", 16, 0}},
        {u8, {"to RGB", 0, 3}},           {rgb8, {"to grey", 0, 1}},      {rgb8, {"to 16 bit", 16, 0}},
        {rgb16, {"to grey 8 bit", 8, 1}}, {f32, {"to 8 bit", 8, 0}},      {f32, {"to RGB", 0, 3}},
    };
}

INSTANTIATE_TEST_SUITE_P(Files, KeptHeaderChangedImage, ::testing::ValuesIn(changeCases()),
                         [](const ::testing::TestParamInfo<ChangeCase>& info) {
                             std::string n = std::string(info.param.input.name) + "_" + info.param.change.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return std::to_string(info.index) + "_" + n;
                         });

}  // namespace
