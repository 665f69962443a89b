// The CLI's image readers against files from elsewhere: the kept bombs are
// refused with their line before anything large is allocated, and every
// kind of PNG reads as netpbm's independent reader reads it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/image_files.h"
#include "cli/png.h"
#include "cli/pnm.h"
#include "cli/sample_scaling.h"

namespace {

namespace fs = std::filesystem;
using namespace nebulite::cli;

std::vector<uint8_t> load(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A shell command, its messages dropped.
bool run(const std::string& command) { return std::system(("(" + command + ") 2>/dev/null").c_str()) == 0; }

// tests/data/bombs: each file with the code and the line the reader refuses
// it with (generate.py makes them; the CLI prints the line and the code).
TEST(Bombs, AreRefusedWithTheirLine) {
    const fs::path dir = fs::path(NEBULITE_SOURCE_DIR) / "tests" / "data" / "bombs";
    std::ifstream table(dir / "expected.tsv");
    ASSERT_TRUE(table) << dir;
    std::string line;
    std::getline(table, line);  // the column names
    int count = 0;
    while (std::getline(table, line)) {
        std::stringstream fields(line);
        std::string file, code, message;
        ASSERT_TRUE(std::getline(fields, file, '\t') && std::getline(fields, code, '\t') &&
                    std::getline(fields, message))
            << line;
        SCOPED_TRACE(file);
        ++count;
        try {
            loadImage((dir / file).string());
            ADD_FAILURE() << "opened";
        } catch (const ImageError& e) {
            EXPECT_EQ(e.what(), message);
            EXPECT_EQ(e.code(), std::stoi(code));
        }
    }
    EXPECT_GE(count, 7);
}

// The least image data a PNG header may claim: a deflate stream expands at
// most 1032 times.
TEST(Bombs, PngClaimsAreMeasuredAgainstDeflatesLargestExpansion) {
    EXPECT_NO_THROW(requirePngCanHold(1, 1032, 1, 8));
    EXPECT_THROW(requirePngCanHold(1, 2064, 1, 8), ImageError);
    EXPECT_NO_THROW(requirePngCanHold(131000, 32767, 32767, 1));  // 134 MB of 1-bit samples
    EXPECT_THROW(requirePngCanHold(129000, 32767, 32767, 1), ImageError);
    EXPECT_THROW(requirePngCanHold(100, 32767, 32767, 64), ImageError);
}

// One kind of PNG: colour type, bit depth, interlace, and a tRNS chunk
// (grey, RGB and palette; grey + alpha and RGBA carry alpha of their own).
struct PngKind {
    int colourType;
    int bitDepth;
    bool interlaced;
    bool transparent;
};

std::string nameOf(const PngKind& kind) {
    static const char* const kTypes[] = {"grey", "", "rgb", "palette", "greyalpha", "", "rgba"};
    return std::string(kTypes[kind.colourType]) + std::to_string(kind.bitDepth) + (kind.transparent ? "_trns" : "") +
           (kind.interlaced ? "_interlaced" : "");
}

class PngKinds : public ::testing::TestWithParam<PngKind> {
protected:
    void SetUp() override {
        if (!run("command -v pngtopam >/dev/null") || !run("command -v pgmtopgm >/dev/null"))
            GTEST_SKIP() << "needs netpbm";
        base_ = (fs::temp_directory_path() / ("nebulite-pngkind-" + std::to_string(::getpid()) + "-" +
                                              nameOf(GetParam())))
                    .string();
    }
    void TearDown() override {
        for (const char* ext : {".png", ".pnm"}) std::remove((base_ + ext).c_str());
    }
    std::string base_;
};

TEST_P(PngKinds, ReadAsNetpbmReadsThem) {
    const PngKind& kind = GetParam();
    std::string png = base_ + ".png";
    std::string make = "/usr/bin/python3 " + std::string(NEBULITE_SOURCE_DIR) + "/tests/png_kinds.py " + png + " " +
                       std::to_string(kind.colourType) + " " + std::to_string(kind.bitDepth) + " " +
                       (kind.interlaced ? "1" : "0") + " " + (kind.transparent ? "1" : "0");
    ASSERT_TRUE(run(make)) << make;
    // netpbm's reader: the colour without alpha, at the file's own maxval
    // (pgmtopgm turns its 1-bit PBM into PGM).
    bool grey = kind.colourType == 0 || kind.colourType == 4;
    ASSERT_TRUE(run("pngtopam " + png + (grey ? " | pgmtopgm" : "") + " > " + base_ + ".pnm")) << png;
    Image oracle = decodePnm(load(base_ + ".pnm"));

    Image ours = decodePng(load(png)).image;
    ASSERT_EQ(ours.columns, 37);
    ASSERT_EQ(ours.rows, 23);
    ASSERT_EQ(ours.planes, grey ? 1 : 3);
    ASSERT_EQ(ours.depth, kind.bitDepth == 16 ? 16 : 8);
    ASSERT_EQ(oracle.planes, ours.planes);
    ASSERT_EQ(oracle.depth, ours.depth);
    // decodePnm scales netpbm's 0..maxval into the host's range as our
    // reader scales the file's, so the two images must be equal.
    size_t wrong = 0;
    for (int p = 0; p < ours.planes; ++p)
        for (int r = 0; r < ours.rows; ++r)
            for (int c = 0; c < ours.columns; ++c)
                if (ours.sample(p, r, c) != oracle.sample(p, r, c) && wrong++ < 5)
                    ADD_FAILURE() << "plane " << p << " row " << r << " column " << c << ": "
                                  << ours.sample(p, r, c) << ", netpbm " << oracle.sample(p, r, c);
    EXPECT_EQ(wrong, 0u);
}

std::vector<PngKind> pngKinds() {
    const std::pair<int, std::vector<int>> depths[] = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    std::vector<PngKind> kinds;
    for (bool interlaced : {false, true})
        for (const auto& [type, list] : depths)
            for (int depth : list)
                for (bool transparent : {false, true})
                    if (!transparent || type == 0 || type == 2 || type == 3)
                        kinds.push_back({type, depth, interlaced, transparent});
    return kinds;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, PngKinds, ::testing::ValuesIn(pngKinds()),
                         [](const auto& info) { return nameOf(info.param); });

}  // namespace
