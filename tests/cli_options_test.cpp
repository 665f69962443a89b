// The CLI's options as a user gives them: open and save flags parsed by the
// options library and played as the scripting descriptor an action plays,
// --record and --replay and their JSON, `info`'s list of HDUs.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/descriptor_json.h"
#include "host/descriptor.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using nebulite::host::Descriptor;
using nebulite::host::DescriptorItem;
using nebulite::host::fourCharCode;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string card(std::string text) {
    text.resize(80, ' ');
    return text;
}

std::string intCard(const char* key, long long v) {
    char buffer[81];
    std::snprintf(buffer, sizeof buffer, "%-8s= %20lld", key, v);
    return card(buffer);
}

std::string textCard(const char* key, const std::string& v) {
    std::string value(1, '\'');
    value += v;
    value.resize(std::max<size_t>(value.size(), 9), ' ');
    value += '\'';
    char buffer[81];
    std::snprintf(buffer, sizeof buffer, "%-8s= %s", key, value.c_str());
    return card(buffer);
}

std::string blocked(std::string bytes, char fill) {
    bytes.resize((bytes.size() + 2879) / 2880 * 2880, fill);
    return bytes;
}

// One HDU: its cards (END added), then `dataBytes` bytes of data.
std::string hdu(std::vector<std::string> cards, size_t dataBytes) {
    std::string header;
    for (const std::string& c : cards) header += c;
    header += card("END");
    std::string data(dataBytes, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37 % 251);
    return blocked(header, ' ') + blocked(data, '\0');
}

// An 8-bit image of `planes` planes (NAXIS 3 when more than one).
std::string imageFile(int width, int height, int planes) {
    std::vector<std::string> cards = {card("SIMPLE  =                    T"), intCard("BITPIX", 8),
                                      intCard("NAXIS", planes > 1 ? 3 : 2), intCard("NAXIS1", width),
                                      intCard("NAXIS2", height)};
    if (planes > 1) cards.push_back(intCard("NAXIS3", planes));
    return hdu(cards, static_cast<size_t>(width * height * planes));
}

// A primary without data, two images named SCI (versions 1 and 2), a
// binary table, an ASCII table and an image without a name.
std::string multiExtensionFile() {
    std::string file = hdu({card("SIMPLE  =                    T"), intCard("BITPIX", 16), intCard("NAXIS", 0),
                            card("EXTEND  =                    T")},
                           0);
    auto image = [](int bitpix, int w, int h, const char* name, int ver) {
        std::vector<std::string> cards = {textCard("XTENSION", "IMAGE"), intCard("BITPIX", bitpix), intCard("NAXIS", 2),
                                          intCard("NAXIS1", w), intCard("NAXIS2", h), intCard("PCOUNT", 0),
                                          intCard("GCOUNT", 1)};
        if (name != nullptr) cards.push_back(textCard("EXTNAME", name));
        if (ver > 0) cards.push_back(intCard("EXTVER", ver));
        return hdu(cards, static_cast<size_t>(w * h * std::abs(bitpix) / 8));
    };
    file += image(8, 4, 3, "SCI", 1);
    file += image(16, 5, 2, "SCI", 2);
    file += hdu({textCard("XTENSION", "BINTABLE"), intCard("BITPIX", 8), intCard("NAXIS", 2), intCard("NAXIS1", 8),
                 intCard("NAXIS2", 3), intCard("PCOUNT", 0), intCard("GCOUNT", 1), intCard("TFIELDS", 1),
                 textCard("TFORM1", "2J"), textCard("EXTNAME", "EVENTS")},
                24);
    file += hdu({textCard("XTENSION", "TABLE"), intCard("BITPIX", 8), intCard("NAXIS", 2), intCard("NAXIS1", 10),
                 intCard("NAXIS2", 2), intCard("PCOUNT", 0), intCard("GCOUNT", 1), intCard("TFIELDS", 1),
                 textCard("TFORM1", "A10"), intCard("TBCOL1", 1)},
                20);
    file += image(-32, 3, 3, nullptr, 0);
    return file;
}

class CliOptions : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = fs::path(NEBULITE_BINARY_DIR) / "nebulite";
        if (!fs::exists(exe_) || !fs::exists(fs::path(NEBULITE_BINARY_DIR) / "Nebulite.so"))
            GTEST_SKIP() << "build the nebulite CLI and the module first";
        dir_ = fs::temp_directory_path() /
               ("nebulite-cli-options-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        sample_ = (fs::path(NEBULITE_SOURCE_DIR) / "samples" / "m51-64x48.fits").string();
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    struct Run {
        int status = -1;
        std::string out;
        std::string err;
    };

    Run run(const std::string& args) {
        fs::path out = dir_ / ".stdout";
        fs::path err = dir_ / ".stderr";
        int raw = std::system((exe_.string() + " " + args + " >" + out.string() + " 2>" + err.string()).c_str());
        Run r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    std::string at(const std::string& name) const { return (dir_ / name).string(); }

    fs::path exe_;
    fs::path dir_;
    std::string sample_;
};

bool oneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

// ---- Flags --------------------------------------------------------------------------------------

TEST_F(CliOptions, MistakesInOptionsAreOneLineAndExit2) {
    spit(at("in.pgm"), "P5 2 2 255\n\x01\x02\x03\x04");
    const std::string open = "open " + sample_ + " " + at("x.pgm") + " ";
    const std::string save = "save " + at("in.pgm") + " " + at("x.fits") + " ";
    const std::string convert = "convert " + sample_ + " " + at("x.fits") + " ";
    struct Case {
        std::string args;
        std::string says;  // a part of the line
    } cases[] = {
        {open + "--image", "--image needs a value"},
        {open + "--image 'SCI,x'", "--image"},
        {open + "--plane 0", "--plane: planes are counted from 1"},
        {open + "--planes 1,2", "--planes"},
        {open + "--orientation up", "--orientation"},
        {open + "--interval 120", "--interval"},
        {open + "--interval median", "--interval"},
        {open + "--black dark", "--black"},
        {open + "--midtone x", "--midtone"},
        {open + "--depth 12", "--depth: a depth is one of auto|8|16|32, not '12'"},
        {open + "--debayer XYZW", "--debayer"},
        {open + "--demosaic best", "--demosaic"},
        {open + "--compress rice", "unknown option --compress"},
        {open + "--plane 2 --replay " + at("r.json"), "--replay plays a recorded descriptor as it is"},
        {open + "--record " + at("x.pgm"), "--record names the image's own file"},
        {save + "--compress zip", "--compress: a compression is one of none|rice|gzip1|gzip2|hcompress"},
        {save + "--tile 3", "--tile"},
        {save + "--quantize -1", "--quantize: quantize level -1 is below 0"},
        {save + "--bitpix 16", "--bitpix"},
        {save + "--plane 1", "unknown option --plane"},
        {convert + "--orientation down", "--orientation"},
        {convert + "--compress", "--compress needs a value"},
    };
    for (const Case& c : cases) {
        Run r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.err;
        EXPECT_TRUE(oneLine(r.err)) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("nebulite: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find("formatBadParameters (-30500)"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args;
        EXPECT_FALSE(fs::exists(at("x.pgm")) || fs::exists(at("x.fits"))) << c.args;
    }
}

TEST_F(CliOptions, EveryFlagAndFormIsTaken) {
    spit(at("cube.fits"), imageFile(6, 4, 3));
    const std::string open = "open " + at("cube.fits") + " " + at("x.ppm") + " ";
    for (const std::string flags :
         {"--image 0", "--image auto", "--image SCI", "--image SCI,2", "--image=\"'12'\"", "--plane 2",
          "--planes 3,2,1", "--planes auto", "--orientation sky", "--orientation stored", "--interval minmax",
          "--interval zscale", "--interval 99.5", "--interval 98%", "--black 10 --white 200",
          "--black=-5.5 --white=1e3 --midtone 0.25", "--depth 8", "--depth 16", "--depth 32", "--depth auto",
          "--debayer auto", "--debayer RGGB", "--debayer GBRG --demosaic quality", "--demosaic bilinear",
          "--stretch --depth 8", "--planes 1,1,1 --plane 2"}) {
        Run r = run(open + flags);
        // Options are for the module: one that cannot apply them to this
        // file refuses with its own result, never a usage error.
        EXPECT_NE(r.status, 2) << flags << "\n" << r.err;
        if (r.status != 0) {
            EXPECT_TRUE(oneLine(r.err)) << flags << "\n" << r.err;
        }
    }
    spit(at("in.pgm"), "P5 2 2 255\n\x01\x02\x03\x04");
    for (const std::string flags :
         {"--compress none", "--compress rice", "--compress gzip1 --tile 1x2", "--compress gzip2 --tile auto",
          "--compress hcompress --quantize 4", "--orientation sky", "--bitpix -32", "--bitpix original"}) {
        Run r = run("save " + at("in.pgm") + " " + at("x.fits") + " " + flags);
        EXPECT_NE(r.status, 2) << flags << "\n" << r.err;
    }
}

// ---- --replay and --record ------------------------------------------------------------------------

TEST_F(CliOptions, ReplayingTheDefaultsOpensAsAPlainOpen) {
    Descriptor defaults;
    defaults.items = {DescriptorItem::ofEnumerated(fourCharCode("nbPl"), fourCharCode("nbTP"), fourCharCode("nbAu")),
                      DescriptorItem::ofEnumerated(fourCharCode("nbOr"), fourCharCode("nbTO"), fourCharCode("nbSd")),
                      DescriptorItem::ofEnumerated(fourCharCode("nbSt"), fourCharCode("nbTS"), fourCharCode("nbRn")),
                      DescriptorItem::ofEnumerated(fourCharCode("nbDp"), fourCharCode("nbTD"), fourCharCode("nbAu")),
                      DescriptorItem::ofEnumerated(fourCharCode("nbDb"), fourCharCode("nbTB"), fourCharCode("nbOf"))};
    spit(at("defaults.json"), nebulite::cli::descriptorToJson(defaults));
    ASSERT_EQ(run("open " + sample_ + " " + at("plain.pgm")).status, 0);
    Run r = run("open " + sample_ + " " + at("replayed.pgm") + " --replay " + at("defaults.json"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(at("plain.pgm")), slurp(at("replayed.pgm")));
    // The flags of the defaults, likewise.
    r = run("open " + sample_ + " " + at("flags.pgm") + " --planes auto --orientation stored --depth auto");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(at("plain.pgm")), slurp(at("flags.pgm")));
}

TEST_F(CliOptions, AReplayFileThatIsNoDescriptorIsOneLine) {
    struct Case {
        const char* name;
        std::string text;
        std::string says;
        int status;
    } cases[] = {
        {"missing", "", "cannot open it", 1},
        {"not json", "{format: 1}", "line 1, column 2: a member name should be here", 1},
        {"other format", "{\"format\": \"x\", \"version\": 1, \"items\": []}", "\"format\" is \"nebulite descriptor\"", 1},
        {"other version", "{\"format\": \"nebulite descriptor\", \"version\": 2, \"items\": []}", "\"version\" is 1", 1},
        {"bad key", "{\"format\": \"nebulite descriptor\", \"version\": 1,\n \"items\": [{\"key\": \"nbI\", \"type\": \"integer\", \"value\": 1}]}",
         "line 2, column 20: \"key\": a code of four printable ASCII characters", 1},
        {"too large", "{\"format\": \"nebulite descriptor\", \"version\": 1, \"items\": [{\"key\": \"nbIm\", \"type\": \"integer\", \"value\": 2147483648}]}",
         "\"value\" is a whole number from -2147483648 to 2147483647", 1},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) != "missing") spit(at("r.json"), c.text);
        Run r = run("open " + sample_ + " " + at("x.pgm") + " --replay " + at("r.json"));
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_TRUE(oneLine(r.err)) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_FALSE(fs::exists(at("x.pgm"))) << c.name;
    }
}

TEST_F(CliOptions, AnOptionChangesTheDocument) {
    spit(at("cube.fits"), imageFile(6, 4, 3));
    ASSERT_EQ(run("open " + at("cube.fits") + " " + at("rgb.ppm")).status, 0);
    Run r = run("open " + at("cube.fits") + " " + at("plane2.pgm") + " --plane 2");
    ASSERT_EQ(r.status, 0) << r.err;
    // Plane 2 alone, as grey: the second plane of the RGB open.
    std::string rgb = slurp(at("rgb.ppm")), grey = slurp(at("plane2.pgm"));
    ASSERT_GE(rgb.size(), 72u);
    std::string expected;
    for (size_t i = 0; i < 24; ++i) expected += rgb[rgb.size() - 72 + 3 * i + 1];
    EXPECT_EQ(grey.substr(grey.size() - 24), expected);
    // Sky orientation turns the rows over.
    ASSERT_EQ(run("open " + sample_ + " " + at("stored.pgm")).status, 0);
    ASSERT_EQ(run("open " + sample_ + " " + at("sky.pgm") + " --orientation sky").status, 0);
    EXPECT_NE(slurp(at("stored.pgm")), slurp(at("sky.pgm")));
    // An 8-bit document of a 16-bit file.
    ASSERT_EQ(run("open " + sample_ + " " + at("eight.pgm") + " --depth 8").status, 0);
    EXPECT_NE(slurp(at("eight.pgm")).find("\n255\n"), std::string::npos);
}

TEST_F(CliOptions, RecordHoldsTheResolvedOptionsAndReplayOpensTheSame) {
    spit(at("cube.fits"), imageFile(6, 4, 3));
    Run r = run("open " + at("cube.fits") + " " + at("a.pgm") + " --plane 2 --record " + at("a.json"));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string error;
    std::optional<Descriptor> recorded = nebulite::cli::descriptorFromJson(slurp(at("a.json")), &error);
    ASSERT_TRUE(recorded.has_value()) << error;
    // Nothing left automatic: the image, the planes, the depth as resolved.
    const DescriptorItem* planes = recorded->find(fourCharCode("nbPl"));
    ASSERT_NE(planes, nullptr);
    EXPECT_EQ(planes->value, fourCharCode("nbOn"));
    ASSERT_NE(recorded->find(fourCharCode("nbP1")), nullptr);
    EXPECT_EQ(recorded->find(fourCharCode("nbP1"))->integer, 2);
    ASSERT_NE(recorded->find(fourCharCode("nbIm")), nullptr);
    EXPECT_EQ(recorded->find(fourCharCode("nbIm"))->integer, 0);
    ASSERT_NE(recorded->find(fourCharCode("nbDp")), nullptr);
    EXPECT_EQ(recorded->find(fourCharCode("nbDp"))->value, fourCharCode("nb08"));

    r = run("open " + at("cube.fits") + " " + at("b.pgm") + " --replay " + at("a.json") + " --record " + at("b.json"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(at("a.pgm")), slurp(at("b.pgm")));
    EXPECT_EQ(slurp(at("a.json")), slurp(at("b.json")));
    // A plain open records the resolved defaults, which replay to the same.
    ASSERT_EQ(run("open " + sample_ + " " + at("c.pgm") + " --record " + at("c.json")).status, 0);
    ASSERT_EQ(run("open " + sample_ + " " + at("d.pgm") + " --replay " + at("c.json")).status, 0);
    EXPECT_EQ(slurp(at("c.pgm")), slurp(at("d.pgm")));
}

TEST_F(CliOptions, SaveOptionsReachTheFile) {
    ASSERT_EQ(run("open " + sample_ + " " + at("m51.pgm")).status, 0);
    // A .fz name: RICE_1 for integer samples.
    ASSERT_EQ(run("save " + at("m51.pgm") + " " + at("m51.fits.fz")).status, 0);
    Run r = run("info --json " + at("m51.fits.fz"));
    EXPECT_NE(r.out.find("\"compression\": \"RICE_1\""), std::string::npos) << r.out;
    ASSERT_EQ(run("save " + at("m51.pgm") + " " + at("gz.fits") + " --compress gzip2 --tile 8x64").status, 0);
    r = run("info " + at("gz.fits"));
    EXPECT_NE(r.out.find("GZIP_2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("tiles 64x8"), std::string::npos) << r.out;
    // --compress none keeps a .fz name uncompressed.
    ASSERT_EQ(run("save " + at("m51.pgm") + " " + at("plain.fz") + " --compress none").status, 0);
    r = run("info --json " + at("plain.fz"));
    EXPECT_EQ(r.out.find("RICE_1"), std::string::npos) << r.out;
    ASSERT_EQ(run("convert " + sample_ + " " + at("c.fits.fz") + " --compress hcompress").status, 0);
    r = run("info --json " + at("c.fits.fz"));
    EXPECT_NE(r.out.find("\"compression\": \"HCOMPRESS_1\""), std::string::npos) << r.out;
}

// ---- info's HDUs ------------------------------------------------------------------------------------

TEST_F(CliOptions, InfoListsEveryHdu) {
    spit(at("mef.fits"), multiExtensionFile());
    Run r = run("info " + at("mef.fits"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string listing =
        "hdus:\n"
        "  #   type             extname        ver bitpix  axes            compression\n"
        "  0   primary          -                1     16  -               -\n"
        "  1   IMAGE            SCI              1      8  4x3             -\n"
        "  2   IMAGE            SCI              2     16  5x2             -\n"
        "  3   BINTABLE         EVENTS           1      8  8x3             -\n"
        "  4   TABLE            -                1      8  10x2            -\n"
        "  5   IMAGE            -                1    -32  3x3             -\n"
        "header:\n";
    EXPECT_NE(r.out.find(listing), std::string::npos) << r.out;

    r = run("info --json " + at("mef.fits"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string hdus =
        "\"hdus\": ["
        "{\"index\": 0, \"type\": \"primary\", \"extname\": \"\", \"extver\": 1, \"bitpix\": 16, \"axes\": [], \"compression\": \"\"}, "
        "{\"index\": 1, \"type\": \"IMAGE\", \"extname\": \"SCI\", \"extver\": 1, \"bitpix\": 8, \"axes\": [4, 3], \"compression\": \"\"}, "
        "{\"index\": 2, \"type\": \"IMAGE\", \"extname\": \"SCI\", \"extver\": 2, \"bitpix\": 16, \"axes\": [5, 2], \"compression\": \"\"}, "
        "{\"index\": 3, \"type\": \"BINTABLE\", \"extname\": \"EVENTS\", \"extver\": 1, \"bitpix\": 8, \"axes\": [8, 3], \"compression\": \"\"}, "
        "{\"index\": 4, \"type\": \"TABLE\", \"extname\": \"\", \"extver\": 1, \"bitpix\": 8, \"axes\": [10, 2], \"compression\": \"\"}, "
        "{\"index\": 5, \"type\": \"IMAGE\", \"extname\": \"\", \"extver\": 1, \"bitpix\": -32, \"axes\": [3, 3], \"compression\": \"\"}]";
    EXPECT_NE(r.out.find(hdus), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("hdusIncomplete"), std::string::npos) << r.out;
}

TEST_F(CliOptions, InfoSaysWhereItsListStops) {
    std::string file = multiExtensionFile();
    // Cut inside the binary table's header: the list ends before it.
    spit(at("cut.fits"), file.substr(0, 2880 * 5 + 400));
    Run r = run("info --json " + at("cut.fits"));
    EXPECT_NE(r.out.find("\"hdusIncomplete\": \"the file ends inside HDU 3's header\""), std::string::npos) << r.out;
    // Bytes after the last HDU that start no header.
    spit(at("junk.fits"), imageFile(4, 4, 1) + std::string(2880, 'x'));
    r = run("info " + at("junk.fits"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  (the list stops here: the bytes after HDU 0 start no extension header)\n"), std::string::npos)
        << r.out;
}

TEST_F(CliOptions, InfoListsTheHdusOfTheTiledFixtures) {
    // A committed fpack file: its primary and the compressed image.
    const fs::path dir = fs::path(NEBULITE_SOURCE_DIR) / "tests" / "data" / "tiled";
    std::string fz;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".fz" && entry.path().filename().string().find("rice") != std::string::npos)
            fz = entry.path().string();
    if (fz.empty()) GTEST_SKIP() << "no RICE fixture in " << dir;
    Run r = run("info --json " + fz);
    EXPECT_NE(r.out.find("{\"index\": 1, \"type\": \"compressed image\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"compression\": \"RICE_1\"}"), std::string::npos) << r.out;
}

TEST_F(CliOptions, InfoListsTheMidasMultiExtensionFilesAsAstropyDoes) {
    // astropy's listing of two of the package's files (the oracle test
    // tests/oracle/hdu_list_check.py compares every file with astropy itself).
    const std::string midas = "/usr/lib/eso-midas/22FEB/test/prim/";
    if (!fs::exists(midas + "vimos.fits") || !fs::exists(midas + "NOT.fits"))
        GTEST_SKIP() << "eso-midas-testdata is not installed (scripts/setup.sh)";
    Run r = run("info --json " + midas + "vimos.fits");
    EXPECT_NE(r.out.find("\"hdus\": ["
                         "{\"index\": 0, \"type\": \"primary\", \"extname\": \"\", \"extver\": 1, \"bitpix\": 16, \"axes\": [], \"compression\": \"\"}, "
                         "{\"index\": 1, \"type\": \"IMAGE\", \"extname\": \"WIN1.CHIP1.OUT1\", \"extver\": 1, \"bitpix\": -32, \"axes\": [880, 959], \"compression\": \"\"}, "
                         "{\"index\": 2, \"type\": \"IMAGE\", \"extname\": \"WIN1.CHIP2.OUT1\", \"extver\": 1, \"bitpix\": -32, \"axes\": [880, 959], \"compression\": \"\"}]"),
              std::string::npos)
        << r.out;
    r = run("info --json " + midas + "NOT.fits");
    EXPECT_NE(r.out.find("{\"index\": 1, \"type\": \"IMAGE\", \"extname\": \"im1\", \"extver\": 1, \"bitpix\": 32, \"axes\": [2148, 2052], \"compression\": \"\"}]"),
              std::string::npos)
        << r.out;
}

// ---- The JSON of descriptors ----------------------------------------------------------------------

TEST(DescriptorJson, EveryKindRoundTrips) {
    Descriptor d;
    const DescriptorItem inner[] = {DescriptorItem::ofInteger(fourCharCode("nbXV"), 2),
                                    DescriptorItem::ofText(fourCharCode("nbXN"), "SCI")};
    d.items = {
        DescriptorItem::ofInteger(fourCharCode("nbIm"), -2147483647 - 1),
        DescriptorItem::ofCount(fourCharCode("cnt "), 4294967295u),
        DescriptorItem::ofFloat(fourCharCode("nbBk"), 0.1),
        DescriptorItem::ofFloat(fourCharCode("nbWh"), 1e300),
        DescriptorItem::ofFloat(fourCharCode("nbPr"), 3.0),
        DescriptorItem::ofFloat(fourCharCode("nan "), std::numeric_limits<double>::quiet_NaN()),
        DescriptorItem::ofFloat(fourCharCode("inf "), -std::numeric_limits<double>::infinity()),
        DescriptorItem::ofUnitFloat(fourCharCode("unit"), fourCharCode("#Pxl"), -2.5),
        DescriptorItem::ofBoolean(fourCharCode("fooB"), true),
        DescriptorItem::ofBoolean(fourCharCode("barF"), false),
        DescriptorItem::ofEnumerated(fourCharCode("nbPl"), fourCharCode("nbTP"), fourCharCode("nbTh")),
        DescriptorItem::ofText(fourCharCode("text"), "a \"q\" \\ \t\n\x01 caf\xE9 \x80\xFF\0!"s),
        DescriptorItem::ofAlias(fourCharCode("alis"), "C:\\data"),
        DescriptorItem::ofString(fourCharCode("strg"), std::string(255, 'z')),
        DescriptorItem::ofClass(fourCharCode("clss"), fourCharCode("Fmt ")),
        DescriptorItem::ofObject(fourCharCode("objc"), fourCharCode("Objc"), {inner[0], inner[1]}),
        DescriptorItem::ofObject(fourCharCode("empt"), 0x01020304, {}),
        DescriptorItem::ofInteger(0x00000001, 7),
        DescriptorItem::ofInteger(fourCharCode("q\"\\x"), 8),
    };
    const std::string json = nebulite::cli::descriptorToJson(d);
    std::string error;
    std::optional<Descriptor> back = nebulite::cli::descriptorFromJson(json, &error);
    ASSERT_TRUE(back.has_value()) << error << "\n" << json;
    EXPECT_EQ(*back, d) << json;
    EXPECT_EQ(nebulite::cli::descriptorToJson(*back), json);
    // What it looks like.
    EXPECT_NE(json.find("{\"key\": \"nbPl\", \"type\": \"enumerated\", \"enumType\": \"nbTP\", \"value\": \"nbTh\"}"),
              std::string::npos) << json;
    EXPECT_NE(json.find("{\"key\": \"nbPr\", \"type\": \"float\", \"value\": 3.0}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"value\": \"NaN\""), std::string::npos) << json;
    EXPECT_NE(json.find("{\"key\": \"0x00000001\", \"type\": \"integer\", \"value\": 7}"), std::string::npos) << json;
    // Bytes as the code points of their number, in UTF-8; controls escaped.
    EXPECT_NE(json.find("\"a \\\"q\\\" \\\\ \\u0009\\u000A\\u0001 caf\xC3\xA9 \xC2\x80\xC3\xBF\\u0000!\""),
              std::string::npos) << json;
    // Python's json module reads it too.
    const fs::path file = fs::temp_directory_path() / ("nebulite-descriptor-" + std::to_string(::getpid()) + ".json");
    spit(file, json);
    std::string check = "/usr/bin/python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
                        "assert d['format']=='nebulite descriptor' and d['version']==1 and len(d['items'])==19\" " +
                        file.string();
    EXPECT_EQ(std::system(check.c_str()), 0);
    fs::remove(file);
}

TEST(DescriptorJson, MistakesAreNamedWithTheirPlace) {
    auto error = [](const std::string& items) {
        std::string e;
        std::string text = "{\"format\": \"nebulite descriptor\", \"version\": 1, \"items\": [" + items + "]}";
        EXPECT_FALSE(nebulite::cli::descriptorFromJson(text, &e).has_value()) << items;
        return e;
    };
    EXPECT_NE(error("{\"key\": \"nbIm\", \"type\": \"integer\", \"value\": 1.5}").find("whole number"), std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbIm\", \"type\": \"integer\"}").find("missing \"value\""), std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbIm\", \"type\": \"int\", \"value\": 1}").find("unknown type \"int\""), std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbIm\", \"type\": \"integer\", \"value\": 1, \"extra\": 2}").find("unknown member \"extra\""),
              std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbIm\", \"type\": \"count\", \"value\": -1}").find("from 0 to 4294967295"), std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbIm\", \"type\": \"boolean\", \"value\": 1}").find("true or false"), std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbXN\", \"type\": \"text\", \"value\": \"\\u0100\"}").find("above U+00FF"), std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbXN\", \"type\": \"string\", \"value\": \"" + std::string(256, 'a') + "\"}")
                  .find("longer than 255 bytes"),
              std::string::npos);
    EXPECT_NE(error("{\"key\": \"0x1234567\", \"type\": \"integer\", \"value\": 1}").find("a code of four"), std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbPl\", \"type\": \"enumerated\", \"value\": \"nbTh\"}").find("missing \"enumType\""),
              std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbBk\", \"type\": \"float\", \"value\": \"inf\"}").find("\"NaN\", \"Infinity\""), std::string::npos);
    EXPECT_NE(error("{\"key\": \"nbBk\", \"type\": \"float\", \"value\": 1e999}").find("out of a double's range"), std::string::npos);
    EXPECT_NE(error("{\"key\": \"objc\", \"type\": \"object\", \"class\": \"Objc\"}").find("missing \"items\""), std::string::npos);
    EXPECT_NE(error("1").find("an item is an object"), std::string::npos);
    std::string e;
    EXPECT_FALSE(nebulite::cli::descriptorFromJson("{\"format\": \"nebulite descriptor\",\n\"version\": 1,\n\"items\": [}", &e));
    EXPECT_EQ(e.rfind("line 3, column 11: ", 0), 0u) << e;
    EXPECT_FALSE(nebulite::cli::descriptorFromJson("[]", &e));
    EXPECT_NE(e.find("a descriptor is a JSON object"), std::string::npos) << e;
    EXPECT_FALSE(nebulite::cli::descriptorFromJson("{\"format\": \"nebulite descriptor\", \"version\": 1, \"items\": []} x", &e));
    EXPECT_NE(e.find("text after the JSON value"), std::string::npos) << e;
    // Deep nesting is refused, not recursed into without end.
    EXPECT_FALSE(nebulite::cli::descriptorFromJson(std::string(100000, '[') , &e));
}

}  // namespace
