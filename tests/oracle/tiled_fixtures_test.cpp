// The tile decoder against committed fpack files, with no fpack, funpack or
// cfitsio at run time.
//
// tests/data/tiled holds tile-compressed tables that fpack wrote once from
// fixed inputs (make_tiled_fixtures.py), covering every algorithm, BITPIX,
// quantization and dither, and odd tilings with edge tiles. expected.tsv
// gives for each what astropy read from its keywords and a checksum of the
// image funpack expanded it to (astropy agreeing). Each table is decoded
// here row by row through the module's tile decoder, the tiles placed in
// the image, and the image's checksum compared: where fpack and funpack are
// installed the fpack-driven tests check the same code against fresh files,
// and this test checks it everywhere else.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "codecs/algorithm.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_table.h"
#include "import/tiled/tiled_header.h"
#include "tests/oracle/tiled_fixture_files.h"

namespace {

namespace fs = std::filesystem;
using namespace nebulite::tiled;
using namespace tiled_fixtures;
using nebulite::codecs::Algorithm;


// One line of expected.tsv.
struct Fixture {
    std::string file;
    int hdu = 0;  // 1 = the first extension
    std::string name;
    std::string fpack;
    std::string zcmptype;
    int zbitpix = 0;
    std::string zquantiz;  // "-" when absent
    std::vector<int64_t> axes;
    std::vector<int64_t> tiles;
    uint64_t checksum = 0;
};

std::ostream& operator<<(std::ostream& os, const Fixture& f) { return os << f.name; }

std::vector<int64_t> dimensions(const std::string& text) {
    std::vector<int64_t> values;
    std::stringstream s(text);
    for (std::string part; std::getline(s, part, 'x');) values.push_back(std::stoll(part));
    return values;
}

// Read when the tests are registered, before any test runs: a line that
// does not parse becomes a fixture of that name, which then fails.
std::vector<Fixture> readFixtures() {
    std::vector<Fixture> fixtures;
    std::ifstream table(kFolder / "expected.tsv");
    std::string line;
    bool columns = false;
    int number = 0;
    while (std::getline(table, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        if (!columns) {  // the column names
            columns = true;
            continue;
        }
        std::vector<std::string> field;
        std::stringstream s(line);
        for (std::string f; std::getline(s, f, '\t');) field.push_back(f);
        Fixture f;
        try {
            if (field.size() != 10) throw std::invalid_argument("not 10 fields");
            f.file = field[0];
            f.hdu = std::stoi(field[1]);
            f.name = field[2];
            f.fpack = field[3];
            f.zcmptype = field[4];
            f.zbitpix = std::stoi(field[5]);
            f.zquantiz = field[6];
            f.axes = dimensions(field[7]);
            f.tiles = dimensions(field[8]);
            f.checksum = std::stoull(field[9], nullptr, 16);
            if (f.axes.empty() || f.axes.size() != f.tiles.size()) throw std::invalid_argument("axes and tiles");
        } catch (const std::exception&) {
            f = Fixture{};
            f.name = "expected_tsv_line_" + std::to_string(number) + "_does_not_parse";
        }
        fixtures.push_back(f);
    }
    return fixtures;
}

// 64-bit FNV-1a, as make_tiled_fixtures.py computes it.
uint64_t fnv1a64(std::span<const uint8_t> bytes) {
    uint64_t h = 0xCBF29CE484222325u;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3u;
    return h;
}

// The image's bytes with every NaN written as the quiet NaN: funpack, astropy
// and our decoder each write nulls with bits of their own.
std::vector<uint8_t> canonicalNaNs(std::vector<uint8_t> bytes, int bitpix) {
    if (bitpix >= 0) return bytes;
    const size_t sample = static_cast<size_t>(-bitpix) / 8;
    for (size_t i = 0; i + sample <= bytes.size(); i += sample) {
        uint64_t bits = 0;
        for (size_t b = 0; b < sample; ++b) bits = bits << 8 | bytes[i + b];
        const bool nan = sample == 4 ? std::isnan(std::bit_cast<float>(static_cast<uint32_t>(bits)))
                                     : std::isnan(std::bit_cast<double>(bits));
        if (!nan) continue;
        const uint64_t quiet = sample == 4 ? uint64_t{0x7FC00000} : uint64_t{0x7FF8000000000000};
        for (size_t b = 0; b < sample; ++b) bytes[i + b] = static_cast<uint8_t>(quiet >> (8 * (sample - 1 - b)));
    }
    return bytes;
}

Quantization quantizationNamed(const std::string& zquantiz) {
    if (zquantiz == "NO_DITHER") return Quantization::noDither;
    if (zquantiz == "SUBTRACTIVE_DITHER_1") return Quantization::subtractive1;
    if (zquantiz == "SUBTRACTIVE_DITHER_2") return Quantization::subtractive2;
    return Quantization::lossless;  // "-" (integer images) and "NONE"
}

class TiledFixture : public ::testing::TestWithParam<Fixture> {};

TEST_P(TiledFixture, DecodesToFunpacksImage) {
    const Fixture& f = GetParam();
    SCOPED_TRACE(f.file + "[" + std::to_string(f.hdu) + "], fpack " + f.fpack);
    ASSERT_FALSE(f.file.empty()) << "a line of expected.tsv does not parse";
    const std::vector<uint8_t> file = readFile(kFolder / f.file);
    ASSERT_FALSE(file.empty()) << kFolder / f.file;
    Header header;
    TiledImage image;
    ASSERT_TRUE(findTable(file, f.hdu, header, image));

    // The description says what astropy read from the same cards.
    EXPECT_EQ(image.algorithm, nebulite::codecs::algorithmNamed(f.zcmptype));
    EXPECT_EQ(image.riceOne, f.zcmptype == "RICE_ONE");
    EXPECT_EQ(image.bitpix, f.zbitpix);
    ASSERT_EQ(image.naxis, f.axes.size());
    for (uint32_t k = 0; k < image.naxis; ++k) {
        EXPECT_EQ(image.axes[k], f.axes[k]) << "axis " << k + 1;
        // A ZTILEn past its axis is kept as the axis.
        EXPECT_EQ(image.tile[k], std::min(f.tiles[k], f.axes[k])) << "axis " << k + 1;
    }
    // fpack -d names a quantization for floats whose tiles are raw floats.
    if (image.algorithm != Algorithm::none) {
        EXPECT_EQ(image.quantization, quantizationNamed(f.zquantiz));
    }

    // Every row's tile into the image, axis 1 fastest.
    ASSERT_TRUE(plausibleTiling(image));
    ASSERT_LE(header.dataStart + image.dataBytes, file.size());
    const uint8_t* data = file.data() + header.dataStart;
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
        TileArrays arrays;
        ASSERT_TRUE(tileArrays(image, data, row, arrays)) << "row " << row + 1;
        ASSERT_EQ(decodeTile(image, row, arrays, work, tile), TileResult::ok) << "row " << row + 1;
        int64_t start[kMaxTiledAxes], size[kMaxTiledAxes];
        const uint64_t n = tileGeometry(image, row, start, size);
        const uint64_t across = static_cast<uint64_t>(size[0]);
        for (uint64_t first = 0; first < n; first += across) {
            uint64_t rest = first / across, index = static_cast<uint64_t>(start[0]);
            uint64_t stride = static_cast<uint64_t>(image.axes[0]);
            for (uint32_t k = 1; k < image.naxis; ++k) {
                index += (static_cast<uint64_t>(start[k]) + rest % static_cast<uint64_t>(size[k])) * stride;
                rest /= static_cast<uint64_t>(size[k]);
                stride *= static_cast<uint64_t>(image.axes[k]);
            }
            std::memcpy(ours.data() + index * sample, tile.data() + first * sample, across * sample);
        }
    }
    EXPECT_EQ(fnv1a64(canonicalNaNs(ours, image.bitpix)), f.checksum)
        << "the decoded image is not the one funpack and astropy expanded";
}

INSTANTIATE_TEST_SUITE_P(Fpacked, TiledFixture, ::testing::ValuesIn(readFixtures()),
                         [](const ::testing::TestParamInfo<Fixture>& fixture) { return fixture.param.name; });

// The committed set still covers what the fpack-driven tests cover: every
// algorithm, every BITPIX, every quantization and dither, tiles of two and
// three axes, and files that stay small.
TEST(TiledFixtures, CoverEveryAlgorithmBitpixAndDither) {
    const std::vector<Fixture> fixtures = readFixtures();
    EXPECT_GE(fixtures.size(), 50u);
    std::set<std::string> algorithms, quantizations, files;
    std::set<int> bitpixes;
    bool twoAxisTiles = false, threeAxisTiles = false, tileBeyondImage = false;
    for (const Fixture& f : fixtures) {
        algorithms.insert(f.zcmptype);
        quantizations.insert(f.zquantiz);
        bitpixes.insert(f.zbitpix);
        files.insert(f.file);
        int tiledAxes = 0;
        for (size_t k = 0; k < f.tiles.size(); ++k) {
            tiledAxes += f.tiles[k] > 1 ? 1 : 0;
            tileBeyondImage = tileBeyondImage || f.tiles[k] > f.axes[k];
        }
        twoAxisTiles = twoAxisTiles || (tiledAxes >= 2 && f.tiles[0] < f.axes[0]);
        threeAxisTiles = threeAxisTiles || (f.tiles.size() == 3 && f.tiles[2] > 1);
    }
    EXPECT_EQ(algorithms, (std::set<std::string>{"RICE_1", "RICE_ONE", "GZIP_1", "GZIP_2", "HCOMPRESS_1", "PLIO_1",
                                                 "NOCOMPRESS"}));
    EXPECT_EQ(bitpixes, (std::set<int>{8, 16, 32, -32, -64}));
    EXPECT_EQ(quantizations,
              (std::set<std::string>{"-", "NONE", "NO_DITHER", "SUBTRACTIVE_DITHER_1", "SUBTRACTIVE_DITHER_2"}));
    EXPECT_TRUE(twoAxisTiles);
    EXPECT_TRUE(threeAxisTiles);
    EXPECT_TRUE(tileBeyondImage);
    uintmax_t bytes = 0;
    for (const std::string& file : files) bytes += fs::file_size(kFolder / file);
    EXPECT_LT(bytes, uintmax_t{1} << 19) << "the fixtures should stay small";
}

}  // namespace
