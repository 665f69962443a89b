// TIFF in and out, judged by an independent reader and writer (Debian's
// python3-tifffile, through tiff_oracle.py): what nebulite writes must read
// back as the scaled samples, and every layout tifffile writes must load
// as the samples it was given.
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
#include "cli/sample_scaling.h"
#include "cli/tiff.h"

namespace {

namespace fs = std::filesystem;
using namespace nebulite::cli;
using nebulite::host::kHistoryResource;
using nebulite::host::ResourceRecord;

const std::string kOracle = std::string(NEBULITE_SOURCE_DIR) + "/tests/tiff_oracle.py";

bool haveTifffile() { return std::system("/usr/bin/python3 -c 'import tifffile, numpy' 2>/dev/null") == 0; }

// The command's standard output, or "" with `ok` false when it failed.
std::string capture(const std::string& command, bool& ok) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ok = false;
        return out;
    }
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ok = ::pclose(pipe) == 0;
    return out;
}

std::vector<uint16_t> readRaw(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<uint16_t> values(bytes.size() / 2);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return values;
}

class Tiff : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTifffile()) GTEST_SKIP() << "python3-tifffile is not installed";
        dir_ = fs::temp_directory_path() /
               ("nebulite-tiff-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(Tiff, WritesEverySampleExactlyForAnIndependentReader) {
    // 16-bit images hold every host value 0..32768; the reader must see
    // them scaled to 0..65535 exactly as PNG does, and nebulite must read
    // its own file back to the same document, header records included.
    for (int planes : {1, 3}) {
        for (int depth : {8, 16}) {
            SCOPED_TRACE(std::to_string(planes) + " planes, depth " + std::to_string(depth));
            Document document;
            document.image = blankImage(129, 255, planes, depth);
            Image& image = document.image;
            uint32_t top = image.maxSample() + 1;
            for (int p = 0; p < planes; ++p)
                for (int r = 0; r < image.rows; ++r)
                    for (int c = 0; c < image.columns; ++c)
                        image.setSample(p, r, c, static_cast<uint32_t>((p * 7 + r * 255 + c) % top));
            document.resources[kHistoryResource] = {ResourceRecord{'S', 'I', 0, 0xFF}, {}, ResourceRecord(300, 'x')};
            fs::path file = dir_ / "out.tif";
            saveTiff(document, file.string());

            bool ok = false;
            std::string shape =
                capture("/usr/bin/python3 " + kOracle + " read-tiff " + file.string() + " " + (dir_ / "raw").string(), ok);
            ASSERT_TRUE(ok) << shape;
            EXPECT_EQ(shape, std::to_string(planes) + " 129 255 " + std::to_string(depth) + "\n");
            std::vector<uint16_t> seen = readRaw(dir_ / "raw");
            ASSERT_EQ(seen.size(), image.sampleCount());
            size_t wrong = 0;
            for (size_t i = 0; i < seen.size(); ++i) {
                uint32_t host = depth == 16 ? image.wide[i] : image.narrow[i];
                uint32_t expected = depth == 16 ? hostToFull16(host) : host;
                if (seen[i] != expected && wrong++ < 5) ADD_FAILURE() << "sample " << i << ": " << seen[i] << " for " << host;
            }
            EXPECT_EQ(wrong, 0u);
            EXPECT_TRUE(loadTiff(file.string()) == document);
        }
    }
}

TEST_F(Tiff, ReadsEveryLayoutAnotherWriterMakes) {
    // Strips and tiles (with partial tiles at the right and bottom), planar
    // and contiguous, deflate, big-endian, min-is-white and alpha, at both
    // depths; each file comes with the samples a reader must see.
    bool ok = false;
    std::string names = capture("/usr/bin/python3 " + kOracle + " variants " + dir_.string(), ok);
    ASSERT_TRUE(ok) << names;
    std::istringstream list(names);
    int checked = 0;
    for (std::string name; std::getline(list, name); ++checked) {
        SCOPED_TRACE(name);
        Document document;
        try {
            document = loadImage((dir_ / (name + ".tif")).string());
        } catch (const ImageError& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        const Image& image = document.image;
        std::vector<uint16_t> expected = readRaw(dir_ / (name + ".expect"));
        ASSERT_EQ(image.sampleCount(), expected.size());
        bool sixteen = name.find("16") != std::string::npos;
        EXPECT_EQ(image.depth, sixteen ? 16 : 8);
        EXPECT_EQ(image.columns, 37);
        EXPECT_EQ(image.rows, 23);
        EXPECT_EQ(image.mode, image.planes == 3 ? plugInModeRGBColor : plugInModeGrayScale);
        size_t wrong = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            uint32_t want = sixteen ? full16ToHost(expected[i]) : expected[i];
            uint32_t got = sixteen ? image.wide[i] : image.narrow[i];
            if (got != want && wrong++ < 5) ADD_FAILURE() << "sample " << i << ": " << got << ", expected " << want;
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_TRUE(document.resources.empty());
    }
    EXPECT_EQ(checked, 22);
}

TEST(TiffHistoryTag, DamageIsRefusedAndOtherUsesIgnored) {
    std::vector<ResourceRecord> records = {{'E', 'N', 'D'}, {}, ResourceRecord(70000, 0)};
    std::vector<uint8_t> packed = packHistory(records);
    EXPECT_EQ(unpackHistory(packed), records);
    // Another program's bytes in the same private tag are not a header.
    EXPECT_EQ(unpackHistory(std::vector<uint8_t>{1, 2, 3, 4, 5}), std::nullopt);
    for (size_t cut : {size_t{6}, size_t{10}, packed.size() - 1}) {
        std::vector<uint8_t> shorter(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_THROW(unpackHistory(shorter), ImageError) << cut;
    }
}

}  // namespace
