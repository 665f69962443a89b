// The CLI's table of image formats: each extension leads to the file its
// format's signature says it is, and the refusals name the extensions
// exactly as the CLI has always spelled them.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/image_files.h"
#include "cli/image_formats.h"
#include "document/open_record.h"

namespace {

namespace fs = std::filesystem;
using namespace nebulite::cli;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ImageFormats : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("nebulite-formats-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string at(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

Document smallDocument(int planes, int depth) {
    Document document;
    document.image = blankImage(3, 5, planes, depth);
    if (depth == 32) {
        // Values a 32-bit document holds: beyond 0..1, negative, tiny.
        for (int p = 0; p < planes; ++p)
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 5; ++c)
                    document.image.setRealSample(p, r, c, static_cast<float>(p * 41 + r * 97 - c * 13) / 64.0f + 1e-30f);
        return document;
    }
    const uint32_t top = depth == 16 ? 32768 : 255;
    for (int p = 0; p < planes; ++p)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 5; ++c)
                document.image.setSample(p, r, c, static_cast<uint32_t>(p * 41 + r * 97 + c * 13) % (top + 1));
    return document;
}

// Each extension, in either case, writes the format whose signature the
// file then starts with, and reads back the samples it wrote.
TEST_F(ImageFormats, EachExtensionWritesAndReadsItsFormat) {
    struct Case {
        const char* name;
        int planes;
        int depth;
        std::string signature;
    };
    const std::string png("\x89PNG\r\n\x1a\n", 8);
    const Case cases[] = {
        {"grey.png", 1, 16, png},
        {"rgb.PNG", 3, 8, png},
        {"grey.pgm", 1, 8, "P5"},
        {"rgb.ppm", 3, 16, "P6"},
        {"grey.pnm", 1, 16, "P5"},
        {"rgb.pnm", 3, 8, "P6"},
        {"grey.tif", 1, 8, ""},
        {"rgb.TIFF", 3, 16, ""},
        {"grey.pfm", 1, 32, "Pf\n5 3\n-1.0\n"},
        {"rgb.PFM", 3, 32, "PF\n5 3\n-1.0\n"},
        {"grey32.tif", 1, 32, ""},
        {"rgb32.tiff", 3, 32, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Document document = smallDocument(c.planes, c.depth);
        saveImage(document, at(c.name));
        const std::string head = slurp(at(c.name)).substr(0, 16);
        if (c.signature.empty())  // TIFF: either byte order
            EXPECT_TRUE(head.compare(0, 4, "II*\0", 4) == 0 || head.compare(0, 4, "MM\0*", 4) == 0) << head;
        else
            EXPECT_EQ(head.substr(0, c.signature.size()), c.signature);
        EXPECT_TRUE(loadImage(at(c.name)).image == document.image);
    }
}

// The module's records travel with the image in the formats that carry the
// FITS header: the cards, the whole header, and how the document was opened
// (without which a save of a document opened the sky's way up would write
// its rows the wrong way round).
static_assert(nebulite::host::kOpenRecordResource == nebulite::kOpenRecordResourceType);

TEST_F(ImageFormats, HeaderFormatsCarryEveryRecordOfTheModule) {
    Document document = smallDocument(1, 16);
    document.resources[nebulite::host::kHistoryResource] = {{'S', 'I', 'M'}, {'E', 'N', 'D'}};
    document.resources[nebulite::host::kWholeHeaderResource] = {{1, 2, 3, 4}};
    document.resources[nebulite::host::kOpenRecordResource] = {{'n', 'b', 'O', 'r', 0, 255}};
    for (const char* name : {"kept.png", "kept.tif"}) {
        SCOPED_TRACE(name);
        saveImage(document, at(name));
        EXPECT_EQ(loadImage(at(name)).resources, document.resources);
    }
}

// The lines the CLI has always printed; a change to the table must not
// change them by accident.
TEST_F(ImageFormats, RefusalsSayWhatTheyAlwaysSaid) {
    struct Case {
        std::string name;
        Document document;
        bool save;
        OSErr code;
        std::string message;
    };
    const std::string list = ".png, .pgm, .ppm, .pnm, .pfm, .tif or .tiff";
    ASSERT_EQ(kImageExtensionList, list);
    const std::string floats = "a 32-bit floating-point image is written only as .pfm, .tif or .tiff (PFM or TIFF)";
    const Case cases[] = {
        {"notes.txt", {}, false, formatBadParameters, at("notes.txt") + ": not a " + list + " file"},
        {"frame.fits", {}, false, formatBadParameters, at("frame.fits") + ": not a " + list + " file"},
        {"noext", smallDocument(1, 8), true, formatBadParameters, at("noext") + ": not a " + list + " file"},
        {"rgb.pgm", smallDocument(3, 8), true, formatBadParameters,
         "a colour image cannot be written as PGM (use .ppm or --gray)"},
        {"grey.ppm", smallDocument(1, 16), true, formatBadParameters,
         "a grey image cannot be written as PPM (use .pgm or .pnm)"},
        {"float.png", smallDocument(1, 32), true, formatBadParameters, floats},
        {"float.pgm", smallDocument(1, 32), true, formatBadParameters, floats},
        {"float.pnm", smallDocument(3, 32), true, formatBadParameters, floats},
        {"levels.pfm", smallDocument(3, 16), true, formatBadParameters,
         "a 16-bit image has no PFM form (PFM holds 32-bit floating point)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            if (c.save)
                saveImage(c.document, at(c.name));
            else
                loadImage(at(c.name));
            ADD_FAILURE() << "not refused";
        } catch (const ImageError& e) {
            EXPECT_EQ(e.what(), c.message);
            EXPECT_EQ(e.code(), c.code);
        }
        EXPECT_FALSE(c.save && fs::exists(at(c.name)));
    }
    Document fourPlanes = smallDocument(1, 8);
    fourPlanes.image.planes = 4;
    try {
        saveImage(fourPlanes, at("four.tif"));
        ADD_FAILURE() << "four planes written";
    } catch (const ImageError& e) {
        EXPECT_STREQ(e.what(), "an image of 4 planes has no PNG, PGM, PPM, PNM, PFM or TIFF form");
    }
}

}  // namespace
