// The tiled-image header against fpack and funpack: the description parsed
// from each compressed table's cards must say what cfitsio reads from the
// same keywords, the restored image header must be funpack's header card for
// card, and damaged tables must be refused for the count that is wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "import/tiled/restore_header.h"
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
