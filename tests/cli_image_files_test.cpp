// The CLI's image files: exact 16-bit round trips, the header chunk, and
// what PNM input the host accepts.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/image_files.h"
#include "cli/png.h"
#include "cli/pnm.h"
#include "cli/sample_scaling.h"

namespace {

using namespace nebulite::cli;
using nebulite::host::kHistoryResource;

std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Png16, EveryHostValueSurvivesTheRoundTrip) {
    // 257 x 128 samples cover 0..32768 once each (and a few again).
    Document document;
    document.image = blankImage(128, 257, 1, 16);
    for (int r = 0; r < 128; ++r)
        for (int c = 0; c < 257; ++c)
            document.image.setSample(0, r, c, static_cast<uint32_t>((r * 257 + c) % 32769));
    Document back = decodePng(encodePng(document));
    EXPECT_EQ(back.image, document.image);
}

TEST(Png16, ScalingUsesTheWholePngRangeAndIsMonotonic) {
    EXPECT_EQ(hostToFull16(0), 0);
    EXPECT_EQ(hostToFull16(32768), 65535);
    EXPECT_EQ(hostToFull16(16384), 32768);
    EXPECT_EQ(hostToFull16(40000), 65535);  // out-of-range samples are clipped, not wrapped
    for (uint32_t v = 1; v <= 32768; ++v) {
        ASSERT_LT(hostToFull16(v - 1), hostToFull16(v)) << v;
        ASSERT_EQ(full16ToHost(hostToFull16(v)), v) << v;
    }
    EXPECT_EQ(full16ToHost(65535), 32768u);
}

TEST(Png, RgbAndGreyAtBothDepthsRoundTrip) {
    for (int planes : {1, 3}) {
        for (int depth : {8, 16}) {
            Document document;
            document.image = blankImage(5, 7, planes, depth);
            for (int p = 0; p < planes; ++p)
                for (int r = 0; r < 5; ++r)
                    for (int c = 0; c < 7; ++c)
                        document.image.setSample(p, r, c, static_cast<uint32_t>(p * 40 + r * 9 + c * 3));
            Document back = decodePng(encodePng(document));
            EXPECT_EQ(back.image, document.image) << planes << " planes, depth " << depth;
        }
    }
}

TEST(Png, HistoryRecordsTravelInOrderInPrivateChunks) {
    Document document;
    document.image = blankImage(2, 2, 1, 8);
    document.resources[kHistoryResource] = {bytesOf("SIMPLE  =                    T"), {}, bytesOf("END")};
    document.resources[0x41424344] = {bytesOf("other")};  // not carried
    std::vector<uint8_t> png = encodePng(document);

    // The chunk is there by name, before the image data.
    std::string text(png.begin(), png.end());
    size_t chunk = text.find("hiST");
    ASSERT_NE(chunk, std::string::npos);
    EXPECT_LT(chunk, text.find("IDAT"));

    Document back = decodePng(png);
    ASSERT_EQ(back.resources.size(), 1u);
    EXPECT_EQ(back.resources[kHistoryResource], document.resources[kHistoryResource]);
}

TEST(Png, DamageIsAnErrorNotACrash) {
    Document document;
    document.image = blankImage(4, 4, 1, 8);
    std::vector<uint8_t> png = encodePng(document);
    for (size_t cut : {size_t{0}, size_t{8}, size_t{20}, png.size() / 2, png.size() - 13}) {
        std::vector<uint8_t> shorter(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_THROW(decodePng(shorter), ImageError) << cut;
    }
}

TEST(Pnm, WritesTheHostSamplesExactly) {
    Image grey16 = blankImage(1, 2, 1, 16);
    grey16.setSample(0, 0, 0, 32768);
    grey16.setSample(0, 0, 1, 258);
    std::vector<uint8_t> expected = bytesOf("P5\n2 1\n32768\n");
    for (uint8_t b : {0x80, 0x00, 0x01, 0x02}) expected.push_back(b);
    EXPECT_EQ(encodePnm(grey16), expected);

    Image rgb8 = blankImage(1, 1, 3, 8);
    rgb8.setSample(0, 0, 0, 1);
    rgb8.setSample(1, 0, 0, 2);
    rgb8.setSample(2, 0, 0, 255);
    std::vector<uint8_t> expectedRgb = bytesOf("P6\n1 1\n255\n");
    for (uint8_t b : {1, 2, 255}) expectedRgb.push_back(b);
    EXPECT_EQ(encodePnm(rgb8), expectedRgb);
}

struct PnmCase {
    const char* name;
    std::string header;     // up to and including the whitespace before the data
    std::vector<uint8_t> data;
    int depth;
    std::vector<uint32_t> samples;  // grey, row by row
};

class PnmDecode : public ::testing::TestWithParam<PnmCase> {};

TEST_P(PnmDecode, ScalesIntoTheHostRange) {
    const PnmCase& c = GetParam();
    std::vector<uint8_t> bytes = bytesOf(c.header);
    bytes.insert(bytes.end(), c.data.begin(), c.data.end());
    Image image = decodePnm(bytes);
    EXPECT_EQ(image.depth, c.depth);
    ASSERT_EQ(image.sampleCount(), c.samples.size());
    for (size_t i = 0; i < c.samples.size(); ++i)
        EXPECT_EQ(image.sample(0, 0, static_cast<int>(i)), c.samples[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, PnmDecode,
    ::testing::Values(
        PnmCase{"Maxval255", "P5 3 1 255\n", {0, 128, 255}, 8, {0, 128, 255}},
        PnmCase{"Maxval1", "P5\n2 1\n1\n", {0, 1}, 8, {0, 255}},
        PnmCase{"Maxval15", "P5 2 1 15 ", {7, 15}, 8, {119, 255}},
        PnmCase{"Comments", "P5 # made by hand\n2 # wide\n1\n255\n", {9, 10}, 8, {9, 10}},
        PnmCase{"Maxval256", "P5 2 1 256\n", {0, 128, 1, 0}, 16, {16384, 32768}},
        PnmCase{"Maxval32768IsExact", "P5 3 1 32768\n", {0, 0, 0x40, 0x01, 0x80, 0x00}, 16, {0, 16385, 32768}},
        PnmCase{"Maxval65535", "P5 3 1 65535\n", {0, 0, 0x80, 0x00, 0xFF, 0xFF}, 16, {0, 16384, 32768}}),
    [](const auto& p) { return std::string(p.param.name); });

struct BadPnm {
    const char* name;
    std::string bytes;
    OSErr code;
};

class PnmRefuses : public ::testing::TestWithParam<BadPnm> {};

TEST_P(PnmRefuses, WithAnImageError) {
    std::vector<uint8_t> bytes = bytesOf(GetParam().bytes);
    try {
        decodePnm(bytes);
        FAIL() << "decoded";
    } catch (const ImageError& e) {
        EXPECT_EQ(e.code(), GetParam().code) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, PnmRefuses,
    ::testing::Values(BadPnm{"PlainText", "P2 1 1 255\n7", formatCannotRead},
                      BadPnm{"Empty", "", formatCannotRead},
                      BadPnm{"NoHeight", "P5 3", formatCannotRead},
                      BadPnm{"ZeroWidth", "P5 0 1 255\n", formatCannotRead},
                      BadPnm{"Wider", "P5 300001 1 255\n", formatCannotRead},
                      BadPnm{"MaxvalZero", "P5 1 1 0\n\x01", formatCannotRead},
                      BadPnm{"MaxvalTooLarge", "P5 1 1 65536\n\x01\x01", formatCannotRead},
                      BadPnm{"NoSpaceAfterMaxval", "P5 1 1 255", formatCannotRead},
                      BadPnm{"SampleAboveMaxval", "P5 1 1 100\n\x65", formatCannotRead},
                      BadPnm{"Truncated", "P6 2 2 255\n\x01\x02\x03", eofErr}),
    [](const auto& p) { return std::string(p.param.name); });

// netpbm is an independent PNG reader and writer: what it makes of our PNG
// files, and what we make of its, must agree with the scaling above.
class PngAgainstNetpbm : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v pngtopnm >/dev/null && command -v pnmtopng >/dev/null") != 0)
            GTEST_SKIP() << "netpbm is not installed";
        base_ = "/tmp/nebulite-netpbm-" + std::to_string(::getpid());
    }
    void TearDown() override {
        for (const char* ext : {".png", ".pnm", ".pgm"}) std::remove((base_ + ext).c_str());
    }
    std::vector<uint8_t> load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void save(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string base_;
};

TEST_F(PngAgainstNetpbm, ReadsOurSixteenBitPngAsTheScaledSamples) {
    Document document;
    document.image = blankImage(3, 4, 3, 16);
    const uint32_t values[] = {0, 1, 2, 16383, 16384, 16385, 32766, 32767, 32768, 12345, 20000, 3};
    for (int p = 0; p < 3; ++p)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) document.image.setSample(p, r, c, values[(p + r * 4 + c) % 12]);
    save(base_ + ".png", encodePng(document));
    ASSERT_EQ(std::system(("pngtopnm " + base_ + ".png > " + base_ + ".pnm 2>/dev/null").c_str()), 0);
    std::vector<uint8_t> pnm = load(base_ + ".pnm");
    // netpbm keeps maxval 65535; our reader scales that back to 0..32768.
    ASSERT_NE(std::string(pnm.begin(), pnm.end()).find("65535"), std::string::npos);
    EXPECT_EQ(decodePnm(pnm), document.image);
}

TEST_F(PngAgainstNetpbm, ReadsNetpbmPngFiles) {
    std::vector<uint8_t> pgm = bytesOf("P5 3 1 65535\n");
    for (uint8_t b : {0x00, 0x00, 0x80, 0x00, 0xFF, 0xFF}) pgm.push_back(b);
    save(base_ + ".pgm", pgm);
    ASSERT_EQ(std::system(("pnmtopng " + base_ + ".pgm > " + base_ + ".png 2>/dev/null").c_str()), 0);
    Document document = decodePng(load(base_ + ".png"));
    ASSERT_EQ(document.image.depth, 16);
    EXPECT_EQ(document.image.sample(0, 0, 0), 0u);
    EXPECT_EQ(document.image.sample(0, 0, 1), full16ToHost(0x8000));
    EXPECT_EQ(document.image.sample(0, 0, 2), 32768u);
}

TEST(Depth, EightBitsSurviveSixteenAndBack) {
    EXPECT_EQ(depth8To16(255), 32768u);
    EXPECT_EQ(depth8To16(0), 0u);
    EXPECT_EQ(depth8To16(1), 129u);  // 128.5 rounds up
    for (uint32_t v = 0; v <= 255; ++v) EXPECT_EQ(depth16To8(depth8To16(v)), v) << v;
    EXPECT_EQ(depth16To8(32768), 255u);
    EXPECT_EQ(depth16To8(64), 0u);
    EXPECT_EQ(depth16To8(65), 1u);
}

TEST(ImageFiles, FormatsGoByExtension) {
    EXPECT_EQ(formatForPath("a/b.PNG"), ImageFormat::png);
    EXPECT_EQ(formatForPath("x.pgm"), ImageFormat::pgm);
    EXPECT_EQ(formatForPath("x.fits"), ImageFormat::fits);
    EXPECT_EQ(formatForPath("dir.png/file"), ImageFormat::unknown);
    EXPECT_EQ(formatForPath("noext"), ImageFormat::unknown);
}

}  // namespace

// The files the CLI reads and writes go a chunk of rows at a time; what
// lands on disk and what comes back must be what the in-memory codec makes,
// whatever the header's length and wherever a chunk ends.
class PnmFiles : public ::testing::Test {
protected:
    void SetUp() override { base_ = "/tmp/nebulite-pnmfiles-" + std::to_string(::getpid()); }
    void TearDown() override {
        for (const char* ext : {".pgm", ".ppm", ".pnm"}) std::remove((base_ + ext).c_str());
    }
    void save(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string base_;
};

TEST_F(PnmFiles, WideRgbRowsAcrossChunksRoundTrip) {
    // 196 602 bytes a row: five rows to a chunk, and 13 rows end mid-chunk.
    Document document;
    document.image = blankImage(13, 32767, 3, 16);
    Image& image = document.image;
    for (int p = 0; p < 3; ++p)
        for (int r = 0; r < 13; ++r)
            for (int c = 0; c < 32767; ++c)
                image.setSample(p, r, c, static_cast<uint32_t>((p * 7919 + r * 104729 + c * 31) % 32769));
    image.setSample(1, 12, 32766, 40000);  // a module's fault: written as 32768
    saveImage(document, base_ + ".ppm");
    std::vector<uint8_t> written = load(base_ + ".ppm");
    EXPECT_TRUE(written == encodePnm(image));
    Image back = loadImage(base_ + ".ppm").image;
    image.setSample(1, 12, 32766, 32768);
    EXPECT_TRUE(back == image);
}

TEST_F(PnmFiles, LongHeadersAndScaledSamplesReadAsInMemory) {
    // A comment longer than the first read of the header, maxval 1000 (scaled
    // through a table) and samples that follow the header in the same read.
    std::string header = "P5\n# " + std::string(10000, 'c') + "\n300 # columns\n7\n1000\n";
    std::vector<uint8_t> bytes = bytesOf(header);
    for (int i = 0; i < 300 * 7; ++i) {
        uint32_t v = static_cast<uint32_t>(i * 37 % 1001);
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    }
    save(base_ + ".pgm", bytes);
    Image expected = decodePnm(bytes);
    EXPECT_EQ(expected.sample(0, 0, 1), rescale(37, 1000, kHostMax16));
    EXPECT_TRUE(loadImage(base_ + ".pgm").image == expected);
}

TEST_F(PnmFiles, ShortFilesAndSamplesAboveMaxvalAreRefused) {
    std::vector<uint8_t> bytes = bytesOf("P6 200 300 255\n");
    bytes.resize(bytes.size() + 200 * 300 * 3 - 1, 9);
    save(base_ + ".ppm", bytes);
    try {
        loadImage(base_ + ".ppm");
        FAIL() << "read a short file";
    } catch (const ImageError& e) {
        EXPECT_EQ(e.code(), eofErr) << e.what();
    }
    std::vector<uint8_t> high = bytesOf("P5 5000 300 100\n");
    high.resize(high.size() + 5000 * 300, 100);
    high[high.size() - 1] = 101;  // in the last chunk
    save(base_ + ".pgm", high);
    try {
        loadImage(base_ + ".pgm");
        FAIL() << "read a sample above maxval";
    } catch (const ImageError& e) {
        EXPECT_EQ(e.code(), formatCannotRead) << e.what();
        EXPECT_NE(std::string(e.what()).find("101"), std::string::npos) << e.what();
    }
}

TEST(ImageFiles, ASaveOverALongerFileLeavesJustTheNewImage) {
    // Writers open their file without truncating it when it is empty; one
    // that holds more than the new image must still end as the new image.
    Document document;
    document.image = blankImage(5, 7, 1, 16);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 7; ++c) document.image.setSample(0, r, c, static_cast<uint32_t>(r * 1000 + c * 37));
    const std::string base = "/tmp/nebulite-overwrite-" + std::to_string(::getpid());
    for (const char* ext : {".pgm", ".png", ".tif"}) {
        SCOPED_TRACE(ext);
        const std::string fresh = base + "-fresh" + ext, over = base + ext;
        saveImage(document, fresh);
        {
            std::ofstream junk(over, std::ios::binary);
            junk << std::string(1 << 20, 'x');
        }
        saveImage(document, over);
        EXPECT_EQ(std::filesystem::file_size(over), std::filesystem::file_size(fresh));
        EXPECT_TRUE(loadImage(over).image == document.image);
        std::remove(fresh.c_str());
        std::remove(over.c_str());
    }
}
