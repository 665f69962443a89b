// The range of a tile-compressed image found from its tiles (quantized
// tiles without unquantizing every pixel) against funpack's images of the
// committed fpack files: tests/data/tiled/ranges.tsv gives, for every table
// and for single planes and pairs of a cube's, the smallest and largest
// defined physical value of funpack's image (astropy agreeing), exact.
// No fpack, funpack or cfitsio needed at run time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "import/sample_conversion.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_range.h"
#include "tests/oracle/tiled_fixture_files.h"

namespace {

using namespace nebulite::tiled;
using namespace tiled_fixtures;
using nebulite::WideRange;
using nebulite::WideRules;

// One line of ranges.tsv.
struct RangeCase {
    std::string file;
    int hdu = 0;
    std::string name;
    std::string label;             // the planes as written
    std::vector<uint32_t> planes;  // empty for 'all'
    uint64_t defined = 0;
    double low = 0.0;
    double high = 0.0;
};

std::ostream& operator<<(std::ostream& os, const RangeCase& c) { return os << c.name << " planes " << c.label; }

// Read when the tests are registered: a line that does not parse becomes a
// case of that name, which then fails.
std::vector<RangeCase> readRanges() {
    std::vector<RangeCase> cases;
    std::ifstream table(kFolder / "ranges.tsv");
    std::string line;
    bool columns = false;
    int number = 0;
    while (std::getline(table, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        if (!columns) {
            columns = true;
            continue;
        }
        std::vector<std::string> field;
        std::stringstream s(line);
        for (std::string f; std::getline(s, f, '\t');) field.push_back(f);
        RangeCase c;
        if (field.size() == 7) {
            c.file = field[0];
            c.hdu = std::atoi(field[1].c_str());
            c.name = field[2];
            c.label = field[3];
            std::stringstream p(field[3]);
            for (std::string part; field[3] != "all" && std::getline(p, part, ',');)
                c.planes.push_back(static_cast<uint32_t>(std::stoul(part)));
            c.defined = std::stoull(field[4]);
            // Hexadecimal floats: exact.
            c.low = field[5] == "-" ? 0.0 : std::strtod(field[5].c_str(), nullptr);
            c.high = field[6] == "-" ? 0.0 : std::strtod(field[6].c_str(), nullptr);
        } else {
            c.name = "ranges_tsv_line_" + std::to_string(number) + "_does_not_parse";
        }
        cases.push_back(c);
    }
    return cases;
}

// A card's number from the table's header (the image's own cards are
// copied into it verbatim), `fallback` when it is absent.
bool cardNumber(const std::string& cards, const char* key, double& value) {
    for (size_t at = 0; at + kCard <= cards.size(); at += kCard) {
        std::string name = cards.substr(at, 8);
        name.erase(name.find_last_not_of(' ') + 1);
        if (name == key && cards.compare(at + 8, 2, "= ") == 0) {
            value = std::strtod(cards.substr(at + 10, 70).c_str(), nullptr);
            return true;
        }
    }
    return false;
}

// The rules the pixel roads take from the restored header.
WideRules rulesOf(const TiledImage& image, const std::string& cards) {
    WideRules rules;
    rules.isFloat = image.bitpix < 0;
    rules.sampleBytes = std::abs(image.bitpix) / 8;
    if (!cardNumber(cards, "BSCALE", rules.bscale) || rules.bscale == 0.0) rules.bscale = 1.0;
    if (!cardNumber(cards, "BZERO", rules.bzero)) rules.bzero = 0.0;
    double blank = 0.0;
    rules.blankSeen = image.bitpix > 0 && cardNumber(cards, "BLANK", blank);
    rules.blankValue = static_cast<int64_t>(blank);
    return rules;
}

class TiledRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(TiledRange, IsFunpacksRange) {
    const RangeCase& c = GetParam();
    ASSERT_FALSE(c.file.empty()) << "a line of ranges.tsv does not parse";
    const std::vector<uint8_t> file = readFile(kFolder / c.file);
    Header header;
    TiledImage image;
    ASSERT_TRUE(findTable(file, c.hdu, header, image));
    const WideRules rules = rulesOf(image, header.cards);
    if (!tileRangeApplies(image, rules)) {
        // 8- and 16-bit images: their rows are read.
        EXPECT_LE(rules.sampleBytes, 2) << "a 4- or 8-byte image the range does not take";
        return;
    }
    std::vector<uint32_t> planes = c.planes;
    if (planes.empty())
        for (uint32_t p = 0; p < static_cast<uint32_t>(image.naxis > 2 ? image.axes[2] : 1); ++p) planes.push_back(p);

    const TileWorkspaceSize need = tileWorkspaceSize(image);
    std::vector<int64_t> wide(need.wide);
    std::vector<int32_t> ints(need.ints);
    std::vector<double> reals(need.reals);
    std::vector<uint8_t> bytes(need.bytes);
    const TileWorkspace work{wide, ints, reals, bytes};
    std::vector<uint8_t> samples(image.maxTilePixels * sampleBytes(image));
    const uint8_t* data = file.data() + header.dataStart;
    WideRange range;
    for (uint64_t row = 0; row < image.rows; ++row) {
        TileArrays arrays;
        ASSERT_TRUE(tileArrays(image, data, row, arrays)) << "row " << row + 1;
        ASSERT_EQ(widenByTile(image, row, arrays, work, samples, planes, rules, range), TileResult::ok)
            << "row " << row + 1;
    }
    if (c.defined == 0) {
        EXPECT_GT(range.lo, range.hi) << "a range where funpack has no defined value";
        return;
    }
    EXPECT_EQ(range.lo, c.low) << std::hexfloat << range.lo << " against funpack's " << c.low;
    EXPECT_EQ(range.hi, c.high) << std::hexfloat << range.hi << " against funpack's " << c.high;
}

INSTANTIATE_TEST_SUITE_P(Fpacked, TiledRange, ::testing::ValuesIn(readRanges()),
                         [](const ::testing::TestParamInfo<RangeCase>& c) {
                             std::string label = c.param.label;
                             for (char& ch : label)
                                 if (ch == ',') ch = '_';
                             return c.param.name + "_planes_" + label;
                         });

}  // namespace
