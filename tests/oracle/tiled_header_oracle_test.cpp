// The tiled-image header against fpack and funpack: the description parsed
// from each compressed table's cards must say what cfitsio reads from the
// same keywords, the restored image header must be funpack's header card for
// card, and damaged tables must be refused for the count that is wrong.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "import/tiled/restore_header.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_table.h"
#include "import/tiled/tiled_header.h"
#include "tests/oracle/tile_oracle.h"

namespace {

using namespace tile_oracle;
using namespace nebulite::tiled;
using nebulite::codecs::Algorithm;

// The cards of HDU `hdu` (1 = primary) before END, read from the file itself.
std::vector<std::string> headerCards(const std::string& path, int hdu, uint64_t* dataStart = nullptr) {
    int status = 0, type = 0;
    fitsfile* f = nullptr;
    fits_open_file(&f, path.c_str(), READONLY, &status);
    fits_movabs_hdu(f, hdu, &type, &status);
    LONGLONG head = 0, data = 0, end = 0;
    fits_get_hduaddrll(f, &head, &data, &end, &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0) << path << ": " << cfitsioError(status);
    if (dataStart != nullptr) *dataStart = static_cast<uint64_t>(data);
    const std::vector<uint8_t> bytes = readBytes(path, static_cast<uint64_t>(head), static_cast<uint64_t>(data - head));
    std::vector<std::string> cards;
    for (size_t i = 0; i + 80 <= bytes.size(); i += 80) {
        std::string card(reinterpret_cast<const char*>(bytes.data() + i), 80);
        if (card.compare(0, 8, "END     ") == 0) break;
        cards.push_back(card);
    }
    return cards;
}

std::string joined(const std::vector<std::string>& cards) {
    std::string text;
    for (const auto& c : cards) text += c;
    return text;
}

void writeImage(const std::string& path, int bitpix, long nx, long ny, bool extension,
                const std::vector<std::string>& extraCards) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_create_file(&f, ("!" + path).c_str(), &status);
    long axes[2] = {nx, ny};
    if (extension) fits_create_img(f, 8, 0, nullptr, &status);
    fits_create_img(f, bitpix, 2, axes, &status);
    for (const auto& card : extraCards) fits_write_record(f, card.c_str(), &status);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(1000, 20);
    std::vector<double> pixels(static_cast<size_t>(nx * ny));
    for (double& p : pixels) p = noise(random);
    fits_write_img(f, TDOUBLE, 1, nx * ny, pixels.data(), &status);
    fits_write_chksum(f, &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0) << cfitsioError(status);
}

struct HeaderCase {
    const char* name;
    int bitpix;
    long nx, ny;
    bool extension;
    std::vector<std::string> cards;
    const char* fpackOptions;
};

std::ostream& operator<<(std::ostream& os, const HeaderCase& c) { return os << c.name; }

const HeaderCase kHeaderCases[] = {
    {"primary_rice_unsigned", 16, 70, 20, false,
     {"BZERO   =                32768 / unsigned", "BSCALE  =                    1", "OBJECT  = 'M51     '",
      "BLANK   =                 -999", "HISTORY made for the test", "CRVAL1  =                 12.5"}, "-r"},
    {"primary_without_extname", 32, 40, 12, false, {"BUNIT   = 'adu     '"}, "-g2 -t 20,5"},
    {"primary_with_extname", 16, 40, 12, false, {"EXTNAME = 'SCI     '"}, "-h"},
    {"extension_float_quantized", -32, 60, 30, true, {"EXTNAME = 'SCI     '", "DATAMIN =                    0"},
     "-r -qz 4"},
    {"extension_float_lossless", -64, 30, 10, true, {"COMMENT a comment card"}, "-g -q 0"},
    {"extension_plio", 16, 30, 10, true, {}, "-p"},
    {"extension_nocompress", 16, 30, 10, true, {"EXTNAME = 'RAW     '"}, "-d"},
};

class TiledHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(TiledHeader, DescribesAndRestoresAsFunpack) {
    if (!toolExists("fpack") || !toolExists("funpack")) GTEST_SKIP() << "fpack/funpack not installed";
    const HeaderCase& c = GetParam();
    TempDir dir;
    const std::string plain = dir.file("in.fits"), packed = dir.file("in.fits.fz"), unpacked = dir.file("out.fits");
    writeImage(plain, c.bitpix, c.nx, c.ny, c.extension, c.cards);
    ASSERT_EQ(run(std::string("fpack ") + c.fpackOptions + " -O " + packed + " " + plain), 0);
    ASSERT_EQ(run("funpack -O " + unpacked + " " + packed), 0);

    uint64_t dataStart = 0;
    const auto table = headerCards(packed, 2, &dataStart);
    const std::string text = joined(table);
    TiledImage image;
    ASSERT_EQ(parseTiledHeader(text.data(), static_cast<uint32_t>(table.size()), image), TiledHeaderError::none);

    // The description says what cfitsio reads from the same keywords.
    auto reference = readTable(packed, 2);
    ASSERT_TRUE(reference);
    EXPECT_EQ(image.bitpix, reference->zbitpix);
    ASSERT_EQ(image.naxis, reference->znaxis.size());
    for (uint32_t n = 0; n < image.naxis; ++n) {
        EXPECT_EQ(image.axes[n], reference->znaxis[n]);
        EXPECT_EQ(image.tile[n], reference->ztile[n]);
    }
    EXPECT_EQ(image.tileCount, reference->rows.size());
    EXPECT_EQ(image.algorithm, nebulite::codecs::algorithmNamed(reference->cmptype));
    if (image.algorithm == Algorithm::rice) {
        EXPECT_EQ(image.riceBlockSize, reference->param("BLOCKSIZE", 32));
        EXPECT_EQ(image.riceBytePix, reference->param("BYTEPIX", 4));
    }
    if (c.bitpix < 0 && reference->zquantiz != "NONE" && reference->cmptype != "NOCOMPRESS") {
        EXPECT_EQ(image.quantization, reference->zquantiz == "SUBTRACTIVE_DITHER_2" ? Quantization::subtractive2
                                                                                    : Quantization::subtractive1);
        EXPECT_EQ(image.ditherSeed, reference->zdither0.value_or(1));
    } else if (reference->cmptype != "NOCOMPRESS") {
        EXPECT_EQ(image.quantization, Quantization::lossless);
    }
    EXPECT_EQ(image.fromPrimary, !c.extension);

    // Every row's descriptors lie in the heap and point at the tile bytes
    // cfitsio's descriptors give.
    const std::vector<uint8_t> mainTable = readBytes(packed, dataStart, image.rowBytes * image.rows);
    ASSERT_EQ(mainTable.size(), image.rowBytes * image.rows);
    for (uint64_t row = 0; row < image.rows; ++row) {
        const std::span<const uint8_t> bytes(mainTable.data() + row * image.rowBytes, image.rowBytes);
        HeapArray data;
        ASSERT_EQ(heapArray(bytes, image.compressed, image.heapBytes, data), DescriptorCheck::ok);
        EXPECT_EQ(data.bytes, reference->rows[row].compressed.size()) << "row " << row + 1;
        if (data.bytes > 0) {
            const auto tile = readBytes(packed, dataStart + image.heapOffset + data.offset, data.bytes);
            EXPECT_EQ(tile, reference->rows[row].compressed) << "row " << row + 1;
        }
        if (reference->rows[row].zscale) {
            EXPECT_EQ(scalarReal(bytes, image.zscaleColumn, -1), *reference->rows[row].zscale);
        }
    }

    // The restored header is funpack's, card for card; checksums are the
    // one thing funpack computes afresh for changed data.
    std::vector<char> restored((table.size() + 4) * 80);
    const int64_t count = restoreImageHeader(text.data(), static_cast<uint32_t>(table.size()), restored.data(),
                                             static_cast<uint32_t>(table.size() + 4));
    ASSERT_GT(count, 0);
    const auto expected = headerCards(unpacked, c.extension ? 2 : 1);
    ASSERT_EQ(static_cast<size_t>(count), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::string ours(restored.data() + i * 80, 80);
        if (ours.compare(0, 8, "CHECKSUM") == 0 || ours.compare(0, 8, "DATASUM ") == 0)
            EXPECT_EQ(ours.substr(0, 8), expected[i].substr(0, 8)) << "card " << i + 1;
        else
            EXPECT_EQ(ours, expected[i]) << "card " << i + 1;
    }
    // Too little room is refused, not overrun.
    EXPECT_EQ(restoreImageHeader(text.data(), static_cast<uint32_t>(table.size()), restored.data(),
                                 static_cast<uint32_t>(count - 1)),
              -1);
}

INSTANTIATE_TEST_SUITE_P(Fpack, TiledHeader, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Whole rows: the image's samples --------------------------------------------------------

// Images for the row decoder: values chosen per case, written by cfitsio.
struct RowCase {
    const char* name;
    int bitpix;
    std::vector<long> axes;
    double bzero;
    std::vector<std::string> cards;
    const char* fpackOptions;
    bool nulls;  // NaN (floats) or BLANK (integers) every 37th pixel
};

std::ostream& operator<<(std::ostream& os, const RowCase& c) { return os << c.name; }

const RowCase kRowCases[] = {
    {"rice16_2d_tiles", 16, {70, 33}, 0, {}, "-r -t 32,8", false},
    {"rice16_unsigned_blank", 16, {64, 10}, 32768, {"BLANK   =                   -1"}, "-r", true},
    {"rice8", 8, {50, 9}, 0, {}, "-r", false},
    {"rice32_cube", 32, {20, 12, 3}, 0, {}, "-r -t 8,8,1", false},
    {"gzip2_32", 32, {40, 10}, 0, {}, "-g2", false},
    {"gzip1_8", 8, {40, 10}, 0, {}, "-g", false},
    {"hcompress16_lossy", 16, {64, 50}, 0, {}, "-h -s 4", false},
    {"hcompress32", 32, {40, 40}, 0, {}, "-h", false},
    {"plio16_unsigned", 16, {60, 6}, 32768, {}, "-p", false},
    {"plio8", 8, {60, 6}, 0, {}, "-p", false},
    {"nocompress16", 16, {30, 7}, 0, {}, "-d", false},
    {"nocompress_float", -32, {30, 7}, 0, {}, "-d", true},
    {"float32_dither1_nans", -32, {80, 20}, 0, {}, "-r -q 4", true},
    {"float32_dither2", -32, {80, 20}, 0, {}, "-r -qz 4", true},
    {"float32_no_dither", -32, {80, 20}, 0, {}, "-r -q0 4", false},
    {"float64_gzip2_quantized", -64, {60, 10}, 0, {}, "-g2 -q 4", true},
    {"float32_hcompress", -32, {64, 32}, 0, {}, "-h -q 4", false},
    {"float32_lossless_gzip2", -32, {50, 10}, 0, {}, "-g2 -q 0", true},
    {"float64_lossless_gzip1", -64, {50, 10}, 0, {}, "-g -q 0", false},
    {"float32_gzip_fallback", -32, {50, 8}, 0, {}, "-r -q 4", false},
};

void writeRowImage(const std::string& path, const RowCase& c) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_create_file(&f, ("!" + path).c_str(), &status);
    std::vector<long> axes = c.axes;
    fits_create_img(f, c.bitpix, static_cast<int>(axes.size()), axes.data(), &status);
    if (c.bzero != 0) {
        double one = 1.0, zero = c.bzero;
        fits_update_key(f, TDOUBLE, "BZERO", &zero, nullptr, &status);
        fits_update_key(f, TDOUBLE, "BSCALE", &one, nullptr, &status);
    }
    for (const auto& card : c.cards) fits_write_record(f, card.c_str(), &status);
    long n = 1;
    for (long a : axes) n *= a;
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0, 10);
    std::vector<double> pixels(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i) {
        const long x = i % axes[0], y = i / axes[0];
        double v = 200 + noise(random) + (x % 9 == 0 ? 150 : 0);
        if (std::string(c.name) == "float32_gzip_fallback" && y % 3 == 0) v = 5.5;  // constant rows
        if (c.bitpix == 8 || std::string(c.fpackOptions) == "-p") v = std::abs(std::round(v)) + (c.bitpix == 16 && y == 2 ? 4500 : 0);
        if (c.bitpix == 8) v = std::min(v, 255.0);
        if (c.bzero != 0) v = std::round(v) + 30000;
        pixels[static_cast<size_t>(i)] = v;
        if (c.nulls && i % 37 == 5) pixels[static_cast<size_t>(i)] = c.bitpix < 0 ? NAN : -1 + c.bzero;
    }
    double nan = NAN;
    if (c.bitpix < 0)
        fits_write_imgnull(f, TDOUBLE, 1, n, pixels.data(), &nan, &status);
    else
        fits_write_img(f, TDOUBLE, 1, n, pixels.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0) << cfitsioError(status);
}

class TileRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(TileRows, AreFunpacksDataUnit) {
    if (!toolExists("fpack") || !toolExists("funpack")) GTEST_SKIP() << "fpack/funpack not installed";
    const RowCase& c = GetParam();
    TempDir dir;
    const std::string plain = dir.file("in.fits"), packed = dir.file("in.fits.fz"), unpacked = dir.file("out.fits");
    writeRowImage(plain, c);
    ASSERT_EQ(run(std::string("fpack ") + c.fpackOptions + " -O " + packed + " " + plain), 0);
    ASSERT_EQ(run("funpack -O " + unpacked + " " + packed), 0);

    uint64_t dataStart = 0;
    const auto cards = headerCards(packed, 2, &dataStart);
    const std::string text = joined(cards);
    TiledImage image;
    ASSERT_EQ(parseTiledHeader(text.data(), static_cast<uint32_t>(cards.size()), image), TiledHeaderError::none);
    ASSERT_TRUE(plausibleTiling(image));
    const std::vector<uint8_t> data = readBytes(packed, dataStart, image.dataBytes);
    ASSERT_EQ(data.size(), image.dataBytes);

    const TileWorkspaceSize need = tileWorkspaceSize(image);
    std::vector<int64_t> wide(need.wide);
    std::vector<int32_t> ints(need.ints);
    std::vector<double> reals(need.reals);
    std::vector<uint8_t> bytes(need.bytes);
    const TileWorkspace work{wide, ints, reals, bytes};
    const uint32_t sample = sampleBytes(image);
    uint64_t total = 1;
    for (uint32_t k = 0; k < image.naxis; ++k) total *= static_cast<uint64_t>(image.axes[k]);
    std::vector<uint8_t> ours(total * sample), tile(image.maxTilePixels * sample);
    for (uint64_t row = 0; row < image.rows; ++row) {
        const std::span<const uint8_t> rowBytes(data.data() + row * image.rowBytes, image.rowBytes);
        TileArrays arrays{rowBytes, {}, {}, {}};
        std::span<const uint8_t>* targets[3] = {&arrays.compressed, &arrays.gzipped, &arrays.uncompressed};
        const HeapColumn* columns[3] = {&image.compressed, &image.gzipCompressed, &image.uncompressed};
        for (int k = 0; k < 3; ++k) {
            HeapArray a;
            const DescriptorCheck check = heapArray(rowBytes, *columns[k], image.heapBytes, a);
            ASSERT_TRUE(check == DescriptorCheck::ok || check == DescriptorCheck::absent);
            *targets[k] = std::span<const uint8_t>(data.data() + image.heapOffset + a.offset, a.bytes);
        }
        ASSERT_EQ(decodeTile(image, row, arrays, work, tile), TileResult::ok) << "row " << row + 1;
        // The tile's rows into the image (axis 1 fastest).
        int64_t start[kMaxTiledAxes], size[kMaxTiledAxes];
        const uint64_t n = tileGeometry(image, row, start, size);
        const uint64_t across = static_cast<uint64_t>(size[0]);
        for (uint64_t first = 0; first < n; first += across) {
            uint64_t rest = first / across, index = static_cast<uint64_t>(start[0]), stride = static_cast<uint64_t>(image.axes[0]);
            for (uint32_t k = 1; k < image.naxis; ++k) {
                index += (static_cast<uint64_t>(start[k]) + rest % static_cast<uint64_t>(size[k])) * stride;
                rest /= static_cast<uint64_t>(size[k]);
                stride *= static_cast<uint64_t>(image.axes[k]);
            }
            std::memcpy(ours.data() + index * sample, tile.data() + first * sample, across * sample);
        }
    }
    // funpack's data unit, byte for byte; NaNs may differ in their bits.
    uint64_t refStart = 0;
    headerCards(unpacked, 1, &refStart);
    const std::vector<uint8_t> reference = readBytes(unpacked, refStart, ours.size());
    ASSERT_EQ(reference.size(), ours.size());
    size_t differ = 0;
    for (size_t i = 0; i < ours.size(); i += sample) {
        if (std::memcmp(ours.data() + i, reference.data() + i, sample) == 0) continue;
        if (image.bitpix < 0) {
            auto isNaN = [&](const uint8_t* p) {
                uint64_t bits = 0;
                for (uint32_t b = 0; b < sample; ++b) bits = bits << 8 | p[b];
                return sample == 4 ? std::isnan(std::bit_cast<float>(static_cast<uint32_t>(bits)))
                                   : std::isnan(std::bit_cast<double>(bits));
            };
            if (isNaN(ours.data() + i) && isNaN(reference.data() + i)) continue;
        }
        if (++differ <= 5) ADD_FAILURE() << "sample " << i / sample << " differs";
    }
    EXPECT_EQ(differ, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fpack, TileRows, ::testing::ValuesIn(kRowCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Damaged tables -------------------------------------------------------------------

std::string card(const std::string& text) {
    std::string c = text;
    c.resize(80, ' ');
    return c;
}

// An fpack'd table header with one card replaced (or added when absent).
struct Damage {
    const char* name;
    const char* keyword;   // the card replaced, 8 columns
    const char* newCard;   // its replacement; empty: the card removed
    TiledHeaderError expected;
};

std::ostream& operator<<(std::ostream& os, const Damage& d) { return os << d.name; }

const Damage kDamages[] = {
    {"more_rows_than_tiles", "NAXIS2  ", "NAXIS2  =                   13", TiledHeaderError::rowCount},
    {"fewer_rows_than_tiles", "NAXIS2  ", "NAXIS2  =                   11", TiledHeaderError::rowCount},
    {"row_wider_than_columns", "NAXIS1  ", "NAXIS1  =                   32", TiledHeaderError::rowWidth},
    {"heap_before_table_end", "PCOUNT  ", "THEAP   =                   10", TiledHeaderError::heap},
    {"heap_past_pcount", "PCOUNT  ", "PCOUNT  =                    1", TiledHeaderError::none},
    {"theap_past_pcount", "GCOUNT  ", "THEAP   =               999999", TiledHeaderError::heap},
    {"gcount_2", "GCOUNT  ", "GCOUNT  =                    2", TiledHeaderError::notTable},
    {"no_zimage", "ZIMAGE  ", "", TiledHeaderError::notCompressedImage},
    {"zimage_false", "ZIMAGE  ", "ZIMAGE  =                    F", TiledHeaderError::notCompressedImage},
    {"unknown_algorithm", "ZCMPTYPE", "ZCMPTYPE= 'LZW_1   '", TiledHeaderError::unknownAlgorithm},
    {"rice_one_alias", "ZCMPTYPE", "ZCMPTYPE= 'RICE_ONE'", TiledHeaderError::none},
    {"bitpix_12", "ZBITPIX ", "ZBITPIX =                   12", TiledHeaderError::badBitpix},
    {"no_zbitpix", "ZBITPIX ", "", TiledHeaderError::missingKeyword},
    {"znaxis_0", "ZNAXIS  ", "ZNAXIS  =                    0", TiledHeaderError::badAxes},
    {"znaxis_9", "ZNAXIS  ", "ZNAXIS  =                    9", TiledHeaderError::badAxes},
    {"znaxis3_missing", "ZNAXIS  ", "ZNAXIS  =                    3", TiledHeaderError::missingKeyword},
    {"znaxis1_negative", "ZNAXIS1 ", "ZNAXIS1 =                   -5", TiledHeaderError::badAxes},
    {"ztile_0", "ZTILE1  ", "ZTILE1  =                    0", TiledHeaderError::badTile},
    {"ztile_larger_than_axis", "ZTILE1  ", "ZTILE1  =                 1000", TiledHeaderError::none},
    {"huge_axis_wrong_rows", "ZNAXIS1 ", "ZNAXIS1 =  4611686018427387904", TiledHeaderError::rowCount},
    {"bytepix_3", "ZVAL2   ", "ZVAL2   =                    3", TiledHeaderError::badParameter},
    {"blocksize_0", "ZVAL1   ", "ZVAL1   =                    0", TiledHeaderError::badParameter},
    {"tform_not_a_format", "TFORM1  ", "TFORM1  = '1PZ(27) '", TiledHeaderError::badColumn},
    {"compressed_data_not_heap", "TFORM1  ", "TFORM1  = '8B      '", TiledHeaderError::badColumn},
    {"compressed_data_floats", "TFORM1  ", "TFORM1  = '1PE(27) '", TiledHeaderError::badColumn},
    {"no_compressed_data", "TTYPE1  ", "TTYPE1  = 'DATA    '", TiledHeaderError::noCompressedData},
    {"lower_case_column_name", "TTYPE1  ", "TTYPE1  = 'compressed_data'", TiledHeaderError::none},
    {"no_tfields", "TFIELDS ", "", TiledHeaderError::missingKeyword},
    {"tform_missing", "TFORM1  ", "", TiledHeaderError::missingKeyword},
    {"q_descriptor", "TFORM1  ", "TFORM1  = '1QB(27) '", TiledHeaderError::rowWidth},
};

class DamagedTable : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedTable, IsRefusedForTheWrongCount) {
    if (!toolExists("fpack")) GTEST_SKIP() << "fpack not installed";
    const Damage& d = GetParam();
    TempDir dir;
    const std::string plain = dir.file("in.fits"), packed = dir.file("in.fits.fz");
    // 24 x 12 pixels in row tiles: 12 rows of one tile each.
    writeImage(plain, 16, 24, 12, false, {});
    ASSERT_EQ(run("fpack -r -O " + packed + " " + plain), 0);
    auto cards = headerCards(packed, 2);
    bool replaced = false;
    for (size_t i = 0; i < cards.size(); ++i) {
        if (cards[i].compare(0, 8, d.keyword) != 0) continue;
        if (std::strlen(d.newCard) == 0)
            cards.erase(cards.begin() + static_cast<std::ptrdiff_t>(i));
        else if (std::string(d.newCard, 8) == d.keyword)
            cards[i] = card(d.newCard);
        else
            cards.insert(cards.begin() + static_cast<std::ptrdiff_t>(i) + 1, card(d.newCard));
        replaced = true;
        break;
    }
    ASSERT_TRUE(replaced) << d.keyword;
    const std::string text = joined(cards);
    TiledImage image;
    EXPECT_EQ(parseTiledHeader(text.data(), static_cast<uint32_t>(cards.size()), image), d.expected)
        << tiledHeaderErrorName(parseTiledHeader(text.data(), static_cast<uint32_t>(cards.size()), image));
}

INSTANTIATE_TEST_SUITE_P(Fpack, DamagedTable, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

// Descriptors are checked against the heap before a byte of it is read.
TEST(TileTable, DescriptorsOutsideTheHeapAreRefused) {
    const HeapColumn p{true, 0, false, 'B', 1};
    const HeapColumn q{true, 0, true, 'I', 2};
    struct Row {
        std::vector<uint8_t> bytes;
        const HeapColumn* column;
        uint64_t heap;
        DescriptorCheck expected;
        HeapArray array;
    };
    const Row rows[] = {
        {{0, 0, 0, 10, 0, 0, 0, 90}, &p, 100, DescriptorCheck::ok, {90, 10}},
        {{0, 0, 0, 10, 0, 0, 0, 91}, &p, 100, DescriptorCheck::beyondHeap, {}},
        {{0, 0, 0, 0, 0x7f, 0xff, 0xff, 0xff}, &p, 100, DescriptorCheck::ok, {0, 0}},  // empty
        {{0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0}, &p, 100, DescriptorCheck::negative, {}},
        {{0, 0, 0, 1, 0x80, 0, 0, 0}, &p, 100, DescriptorCheck::negative, {}},
        // 1QI: 2^62 elements of 2 bytes would overflow a naive product.
        {{0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &q, 1000, DescriptorCheck::beyondHeap, {}},
        {{0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 20}, &q, 30, DescriptorCheck::ok, {20, 10}},
        {{0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 20}, &q, 30, DescriptorCheck::beyondHeap, {}},
        {{0, 0, 0, 1}, &p, 100, DescriptorCheck::beyondHeap, {}},  // row narrower than the descriptor
    };
    for (const Row& r : rows) {
        HeapArray a;
        EXPECT_EQ(heapArray(r.bytes, *r.column, r.heap, a), r.expected);
        EXPECT_EQ(a.offset, r.array.offset);
        EXPECT_EQ(a.bytes, r.array.bytes);
    }
}

}  // namespace
