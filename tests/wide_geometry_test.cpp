// Images wider or taller than 32767, through a host that offers 32-bit
// geometry (the current editor) and through one that does not; and an image
// whose data lies past 2 GiB in its file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/module_state.h"
#include "fits_fixture.h"
#include "host/result_codes.h"
#include "module_host.h"

using namespace testing_host;

namespace {

HostSetup hostWith(bool coordinates32) {
    HostSetup setup;
    setup.coordinates32 = coordinates32;
    return setup;
}

struct Shape {
    const char* name;
    int bitpix;
    int columns;
    int rows;
    int planes;
};

const Shape kShapes[] = {
    {"8-bit 40000 x 300", 8, 40000, 300, 1},
    {"16-bit 300 x 40000", 16, 300, 40000, 1},
    {"8-bit RGB 33000 x 7", 8, 33000, 7, 3},
    {"16-bit RGB 7 x 33000", 16, 7, 33000, 3},
    {"float 40000 x 20", -32, 40000, 20, 1},
};

// Sample i of the file, as stored.
int storedValue(const Shape& s, size_t i) {
    switch (s.bitpix) {
        case 8: return static_cast<int>((i * 7 + i / 40001) % 256);
        case 16: return static_cast<int>((i * 131) % 65536) - 32768;
        default: return static_cast<int>(i % 1000);
    }
}

std::vector<uint8_t> shapeFile(const Shape& s) {
    std::vector<long long> axes = {s.columns, s.rows};
    if (s.planes == 3) axes.push_back(3);
    fixture::Fits f = fixture::image(s.bitpix, axes);
    if (s.bitpix == 16) f.add("BZERO   =              32768.0");
    const size_t n = size_t(s.columns) * size_t(s.rows) * size_t(s.planes);
    for (size_t i = 0; i < n; ++i) {
        int v = storedValue(s, i);
        if (s.bitpix == 8) f.data.push_back(static_cast<uint8_t>(v));
        else if (s.bitpix == 16) fixture::put16(f.data, v);
        else fixture::putFloat(f.data, static_cast<float>(v));
    }
    return f.bytes();
}

// The host sample the import rules give stored sample i: bytes as they
// are, 16-bit physical values (BZERO 32768) halved with rounding, floats
// mapped from their range 0..999 onto 0..32768.
uint32_t expectedHostSample(const Shape& s, size_t i) {
    int v = storedValue(s, i);
    if (s.bitpix == 8) return static_cast<uint32_t>(v);
    if (s.bitpix == 16) return static_cast<uint32_t>((v + 32768 + 1) / 2);
    return static_cast<uint32_t>(std::floor(v / 999.0 * 32768.0 + 0.5));
}

void expectSamples(const Shape& s, const Image& image) {
    ASSERT_EQ(image.columns, s.columns);
    ASSERT_EQ(image.rows, s.rows);
    ASSERT_EQ(image.planes, s.planes);
    size_t wrong = 0, i = 0;
    for (int p = 0; p < s.planes; ++p)
        for (int r = 0; r < s.rows; ++r)
            for (int c = 0; c < s.columns; ++c, ++i)
                if (image.sample(p, r, c) != expectedHostSample(s, i) && wrong++ == 0)
                    ADD_FAILURE() << "first wrong sample at plane " << p << " row " << r << " column " << c;
    EXPECT_EQ(wrong, 0u);
}

// The value of an integer card in a saved file's header.
long long headerInt(const std::vector<uint8_t>& file, const std::string& keyword) {
    for (size_t at = 0; at + 80 <= file.size(); at += 80) {
        std::string card(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + 80));
        if (card.compare(0, 8, (keyword + "        ").substr(0, 8)) == 0) return std::stoll(card.substr(10, 20));
        if (card.compare(0, 8, "END     ") == 0) break;
    }
    return -1;
}

}  // namespace

TEST(WideGeometry, OpenThroughTheCurrentEditorAndSaveBack) {
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(s.name);
        Host host(&ENTRYPOINT, hostWith(true));
        File file = memoryFile(shapeFile(s));
        Outcome read = host.read(file);
        ASSERT_TRUE(read.ok()) << resultName(read.result);
        EXPECT_EQ(host.record().PluginUsing32BitCoordinates, 1);
        EXPECT_EQ(read.told.columns, s.columns);
        EXPECT_EQ(read.told.rows, s.rows);
        EXPECT_EQ(read.rowsMoved, int64_t{s.rows} * s.planes);
        EXPECT_TRUE(read.violations.empty()) << read.violations[0];
        expectSamples(s, host.document().image);

        // Saved with its kept header: the size cards say the true size, the
        // samples come back in order, and the file opens as the same image.
        Document opened = host.takeDocument();
        File saved = File::memory();
        Outcome save = host.save(opened, saved);
        ASSERT_TRUE(save.ok()) << resultName(save.result);
        EXPECT_TRUE(save.violations.empty()) << save.violations[0];
        const std::vector<uint8_t> bytes = saved.contents();
        EXPECT_EQ(headerInt(bytes, "NAXIS1"), s.columns);
        EXPECT_EQ(headerInt(bytes, "NAXIS2"), s.rows);
        const size_t header = static_cast<size_t>(module_state::peekHeaderLength(host).value_or(2880));
        const size_t sampleBytes = s.bitpix == 8 ? 1 : 2;
        const size_t n = size_t(s.columns) * size_t(s.rows) * size_t(s.planes);
        EXPECT_EQ(bytes.size(), (header + n * sampleBytes + 2879) / 2880 * 2880);
        if (s.bitpix == 8) {
            EXPECT_TRUE(std::equal(opened.image.narrow.begin(), opened.image.narrow.end(),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(header)));
        }
        File again = File::memory(bytes);
        ASSERT_TRUE(host.read(again).ok());
        EXPECT_TRUE(host.document().image == opened.image);
    }
}

TEST(WideGeometry, AnOlderHostGetsTodaysRefusal) {
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(s.name);
        Host host(&ENTRYPOINT, hostWith(false));
        File file = memoryFile(shapeFile(s));
        Outcome read = host.read(file);
        EXPECT_EQ(read.result, userCanceledErr);
        EXPECT_EQ(host.record().PluginUsing32BitCoordinates, 0);
        ASSERT_EQ(read.messages.size(), 1u);
        const std::string axis = s.columns > 32767 ? "NAXIS1 = " + std::to_string(s.columns)
                                                   : "NAXIS2 = " + std::to_string(s.rows);
        EXPECT_EQ(read.messages[0].text, "Fits Files with " + axis + " are not supported");
    }
}

TEST(WideGeometry, TheCurrentEditorsLimits) {
    struct Case {
        long long columns, rows;
        bool opens;
    } cases[] = {{300000, 1, true}, {1, 300000, true}, {300001, 1, false}, {1, 300001, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.columns) + " x " + std::to_string(c.rows));
        fixture::Fits f = fixture::image(8, {c.columns, c.rows});
        f.data.assign(static_cast<size_t>(c.columns * c.rows), 9);
        Host host(&ENTRYPOINT, hostWith(true));
        File file = memoryFile(f.bytes());
        Outcome read = host.read(file);
        EXPECT_EQ(read.result, c.opens ? noErr : userCanceledErr);
        if (!c.opens) {
            ASSERT_EQ(read.messages.size(), 1u);
            EXPECT_NE(read.messages[0].text.find("300001"), std::string::npos) << read.messages[0].text;
        }
    }
}

// A file whose image extension follows 2.2 GB of table data, made sparse so
// that it costs no disk: the walk seeks past the table with 64-bit positions.
TEST(WideGeometry, ImageWhoseDataStartsPast2GiB) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("nebulite-past-2gib-" + std::to_string(::getpid()) + ".fits")).string();
    fixture::Fits primary = fixture::image(8, {});
    primary.add("EXTEND  =                    T");
    fixture::Fits table = fixture::extension(8, {1036800, 2100}, "BINTABLE");
    table.add("TFIELDS =                    1");
    table.add("TFORM1  = '1036800B'");
    const Shape s{"16-bit 64 x 48", 16, 64, 48, 1};
    fixture::Fits image = fixture::extension(16, {s.columns, s.rows});
    image.add("BZERO   =              32768.0");
    for (size_t i = 0; i < size_t(s.columns) * size_t(s.rows); ++i) fixture::put16(image.data, storedValue(s, i));

    const std::vector<uint8_t> head = fixture::join({primary.bytes(), table.bytes()});
    const int64_t tableData = int64_t{1036800} * 2100;  // a whole number of blocks
    ASSERT_EQ(tableData % 2880, 0);
    const std::vector<uint8_t> tail = image.bytes();
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(head.data(), 1, head.size(), out), head.size());
        ASSERT_EQ(fseeko(out, static_cast<off_t>(head.size() + tableData), SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(tail.data(), 1, tail.size(), out), tail.size());
        ASSERT_EQ(std::fclose(out), 0);
    }
    ASSERT_GT(std::filesystem::file_size(path), uint64_t{1} << 31);
    for (bool coordinates32 : {true, false}) {
        SCOPED_TRACE(coordinates32 ? "current editor" : "older host");
        Host host(&ENTRYPOINT, hostWith(coordinates32));
        File file = File::disk(path);
        Outcome read = host.read(file);
        ASSERT_TRUE(read.ok()) << resultName(read.result)
                               << (read.messages.empty() ? "" : ": " + read.messages[0].text);
        expectSamples(s, host.document().image);
    }
    std::filesystem::remove(path);
}
