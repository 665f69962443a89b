// The nebulite CLI as a user runs it: exit codes, the one-line failure
// report, outputs that are replaced only by complete files, and the round
// trips through PNG and PNM that keep the samples and the header.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/image_files.h"
#include "cli/image_formats.h"
#include "cli/sample_scaling.h"

namespace {

namespace fs = std::filesystem;
using nebulite::cli::Document;
using nebulite::cli::Image;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

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

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) out.push_back(line);
    return out;
}

// A FITS file of 8-bit samples with the given extra cards.
std::string fitsFile(int width, int height, const std::vector<std::string>& extra) {
    auto card = [](std::string text) {
        text.resize(80, ' ');
        return text;
    };
    auto value = [&](const char* key, int v) {
        char buffer[81];
        std::snprintf(buffer, sizeof buffer, "%-8s= %20d", key, v);
        return card(buffer);
    };
    std::string header = card("SIMPLE  =                    T") + value("BITPIX", 8) + value("NAXIS", 2) +
                         value("NAXIS1", width) + value("NAXIS2", height);
    for (const std::string& e : extra) header += card(e);
    header += card("END");
    header.resize((header.size() + 2879) / 2880 * 2880, ' ');
    std::string data(static_cast<size_t>(width * height), '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37 % 256);
    data.resize((data.size() + 2879) / 2880 * 2880, '\0');
    return header + data;
}

const std::string kPython = "/usr/bin/python3";
const std::string kOracle = std::string(NEBULITE_SOURCE_DIR) + "/tests/tiff_oracle.py";

bool have(const std::string& check) { return std::system((check + " >/dev/null 2>&1").c_str()) == 0; }

// Samples as tiff_oracle.py dumps them: planar, little-endian uint16.
std::vector<uint32_t> raw16(const fs::path& path) {
    std::string bytes = slurp(path);
    std::vector<uint32_t> values(bytes.size() / 2);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint8_t>(bytes[2 * i]) | uint32_t{static_cast<uint8_t>(bytes[2 * i + 1])} << 8;
    return values;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = fs::path(NEBULITE_BINARY_DIR) / "nebulite";
        if (!fs::exists(exe_) || !fs::exists(fs::path(NEBULITE_BINARY_DIR) / "Nebulite.so"))
            GTEST_SKIP() << "build the nebulite CLI and the module first";
        dir_ = fs::temp_directory_path() /
               ("nebulite-cli-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        sample_ = fs::path(NEBULITE_SOURCE_DIR) / "samples" / "m51-64x48.fits";
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    CliRun run(const std::string& args) {
        fs::path out = dir_ / ".stdout";
        fs::path err = dir_ / ".stderr";
        std::string command = exe_.string() + " " + args + " >" + out.string() + " 2>" + err.string();
        int raw = std::system(command.c_str());
        CliRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    std::string at(const std::string& name) const { return (dir_ / name).string(); }

    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path exe_;
    fs::path dir_;
    fs::path sample_;
};

// nebulite: <what failed>: <code name> (<code>), and nothing else.
bool isFailureLine(const std::string& text) {
    if (text.rfind("nebulite: ", 0) != 0 || text.empty() || text.back() != '\n') return false;
    if (text.find('\n') != text.size() - 1) return false;
    size_t open = text.rfind(" (");
    size_t colon = text.rfind(": ", open);
    if (open == std::string::npos || colon == std::string::npos || colon < 10) return false;
    std::string name = text.substr(colon + 2, open - colon - 2);
    std::string code = text.substr(open + 2, text.size() - open - 4);
    if (name.empty() || text.substr(text.size() - 2) != ")\n") return false;
    for (char c : name)
        if (!std::isalpha(static_cast<unsigned char>(c))) return false;
    if (code.empty() || code == "-") return false;
    for (size_t i = 0; i < code.size(); ++i)
        if (!(std::isdigit(static_cast<unsigned char>(code[i])) || (i == 0 && code[i] == '-'))) return false;
    return true;
}

TEST_F(Cli, CheckSaysWhichFilesAreFits) {
    spit(at("notes.txt"), std::string(3000, 'x'));
    CliRun r = run(sample_.string() + " " + at("notes.txt"));  // no command
    EXPECT_EQ(r.status, 2);

    r = run("check " + sample_.string() + " " + at("notes.txt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{sample_.string() + ": FITS",
                                                      at("notes.txt") + ": not FITS (formatCannotRead -30501)"}));
    r = run("check " + sample_.string());
    EXPECT_EQ(r.status, 0);
}

TEST_F(Cli, EveryFailureIsOneLine) {
    struct Case {
        std::string args;
        int status;
        std::string code;
    };
    spit(at("bad.pgm"), "P5 2 2 255\n\x01");
    spit(at("notes.txt"), std::string(3000, 'x'));
    const Case cases[] = {
        {"open /nonexistent/x.fits " + at("x.png"), 1, "readErr (-19)"},
        {"open " + at("notes.txt") + " " + at("x.png"), 1, "formatCannotRead (-30501)"},
        {"open " + sample_.string() + " " + at("x.jpg"), 2, "formatBadParameters (-30500)"},
        {"save " + at("bad.pgm") + " " + at("x.fits"), 1, "eofErr (-39)"},
        {"convert " + sample_.string() + " " + at("x.fits") + " --depth 12", 2, "formatBadParameters (-30500)"},
        {"frobnicate", 2, "formatBadParameters (-30500)"},
        {"--module /nonexistent/Nebulite.so about", 1, "readErr (-19)"},
        {"open " + sample_.string() + " " + at("x.png") + " --stretch=wobble", 2, "formatBadParameters (-30500)"},
        {"save " + at("notes.txt") + " " + at("x.fits"), 2, "formatBadParameters (-30500)"},
        {"save " + at("notes.tif") + " " + at("x.fits"), 1, "readErr (-19)"},
    };
    for (const Case& c : cases) {
        CliRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_TRUE(isFailureLine(r.err)) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.code), std::string::npos) << c.args << "\n" << r.err;
    }
}

TEST_F(Cli, AFailedSaveLeavesTheOldFileAndNoTemporaries) {
    spit(at("old.fits"), "keep me");
    spit(at("bad.pgm"), "P5 2 2 255\n\x01");
    CliRun r = run("save " + at("bad.pgm") + " " + at("old.fits"));
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(slurp(at("old.fits")), "keep me");
    // Refused by the module this time, after the temporary file was made.
    spit(at("two.pgm"), "P5 2 2 255\n\x01\x02\x03\x04");
    r = run("--module " + (fs::path(NEBULITE_BINARY_DIR) / "Nebulite.so").string() + " open " + at("two.pgm") +
            " " + at("old.png"));
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(fs::exists(at("old.png")));
    std::vector<std::string> names = leftovers();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bad.pgm", "old.fits", "two.pgm"}));
}

TEST_F(Cli, SamplesSurviveOpenSaveOpen) {
    for (const char* ext : {"pgm", "png", "tif"}) {
        std::string first = at(std::string("first.") + ext);
        std::string again = at(std::string("again.") + ext);
        ASSERT_EQ(run("open " + sample_.string() + " " + first).status, 0) << ext;
        ASSERT_EQ(run("save " + first + " " + at("back.fits")).status, 0) << ext;
        ASSERT_EQ(run("open " + at("back.fits") + " " + again).status, 0) << ext;
        // The files may differ in the header they carry; the samples may not.
        EXPECT_TRUE(nebulite::cli::loadImage(first).image == nebulite::cli::loadImage(again).image) << ext;
    }
}

TEST_F(Cli, PngAndTiffBringTheHeaderBack) {
    for (const char* ext : {"png", "tif"}) {
        std::string image = at(std::string("m51.") + ext);
        std::string back = at(std::string("back-") + ext + ".fits");
        ASSERT_EQ(run("open " + sample_.string() + " " + image).status, 0) << ext;
        ASSERT_EQ(run("save " + image + " " + back).status, 0) << ext;
        CliRun r = run("info " + back);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("OBJECT  = 'M51     '"), std::string::npos) << ext << "\n" << r.out;
        EXPECT_NE(r.out.find("HISTORY Written by scripts/make_sample.py"), std::string::npos) << ext << "\n" << r.out;
    }
    // The same samples and the same header: the same FITS file.
    EXPECT_EQ(slurp(at("back-png.fits")), slurp(at("back-tif.fits")));
}

TEST_F(Cli, RefusedTiffsSayWhatTheyHold) {
    if (!have(kPython + " -c 'import tifffile'")) GTEST_SKIP() << "python3-tifffile is not installed";
    ASSERT_EQ(std::system((kPython + " " + kOracle + " refused " + dir_.string() + " >/dev/null").c_str()), 0);
    // A TIFF whose directory, written last, is cut off, and a text file.
    ASSERT_EQ(run("open " + sample_.string() + " " + at("whole.tif")).status, 0);
    std::string whole = slurp(at("whole.tif"));
    spit(at("cut.tif"), whole.substr(0, whole.size() / 2));
    spit(at("text.tif"), std::string(3000, 'x'));
    struct Case {
        const char* name;
        const char* what;
        const char* code;
    };
    const Case cases[] = {
        {"float64", "TIFF of 64-bit floating-point samples", "formatCannotRead (-30501)"},
        {"float32-miniswhite", "TIFF of floating-point samples with white at zero", "formatCannotRead (-30501)"},
        {"int16", "TIFF of 16-bit signed integer samples", "formatCannotRead (-30501)"},
        {"uint32", "TIFF of 32-bit samples", "formatCannotRead (-30501)"},
        {"bilevel", "TIFF of 1-bit samples", "formatCannotRead (-30501)"},
        {"palette", "TIFF in palette colour", "formatCannotRead (-30501)"},
        {"cmyk", "TIFF in CMYK (separated) colour", "formatCannotRead (-30501)"},
        {"rgb-and-more", "TIFF with 4 samples per pixel and no alpha among them", "formatCannotRead (-30501)"},
        {"short", "TIFF data: the file has", "eofErr (-39)"},
        {"cut", "cannot open as TIFF", "formatCannotRead (-30501)"},
        {"text", "cannot open as TIFF: Not a TIFF", "formatCannotRead (-30501)"},
    };
    for (const Case& c : cases) {
        CliRun r = run("save " + at(std::string(c.name) + ".tif") + " " + at("out.fits"));
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(isFailureLine(r.err)) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.what), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.code), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_FALSE(fs::exists(at("out.fits"))) << c.name;
    }
}

TEST_F(Cli, ImageMagickTiffsSaveToFitsWithTheirSamples) {
    if (!have("command -v convert") || !have(kPython + " -c 'import tifffile, astropy'"))
        GTEST_SKIP() << "needs imagemagick, python3-tifffile and python3-astropy";
    // ImageMagick picks its own layout and compression; tifffile says what
    // samples the file holds, astropy what the FITS file holds.
    const std::pair<const char*, const char*> files[] = {
        {"grey16", "-size 37x23 gradient:black-white -depth 16"},
        {"rgb16-deflate", "-size 37x23 gradient:red-blue -depth 16 -type TrueColor -compress zip"},
        {"rgb8", "-size 37x23 gradient:yellow-navy -depth 8 -type TrueColor"},
    };
    for (auto [name, recipe] : files) {
        SCOPED_TRACE(name);
        std::string tif = at(std::string(name) + ".tif");
        std::string fits = at(std::string(name) + ".fits");
        ASSERT_TRUE(have("convert " + std::string(recipe) + " " + tif));
        ASSERT_TRUE(have(kPython + " " + kOracle + " read-tiff " + tif + " " + at("tiff.raw")));
        CliRun r = run("save " + tif + " " + fits);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(have(kPython + " " + kOracle + " read-fits " + fits + " " + at("fits.raw")));
        std::vector<uint32_t> stored = raw16(at("tiff.raw"));
        std::vector<uint32_t> saved = raw16(at("fits.raw"));
        ASSERT_EQ(saved.size(), stored.size());
        ASSERT_EQ(stored.size(), size_t{37} * 23 * (std::string(name).rfind("rgb", 0) == 0 ? 3 : 1));
        bool sixteen = std::string(name).find("16") != std::string::npos;
        size_t wrong = 0;
        for (size_t i = 0; i < stored.size(); ++i) {
            // 16 bits: the host's 0..32768 is written as twice the value,
            // so 65535 comes back as 65535 and the rest within one.
            uint32_t want = sixteen ? std::min<uint32_t>(2 * nebulite::cli::full16ToHost(stored[i]), 65535) : stored[i];
            if (saved[i] != want && wrong++ < 5) ADD_FAILURE() << i << ": " << saved[i] << " for " << stored[i];
        }
        EXPECT_EQ(wrong, 0u);
    }
    // LZW, which tifffile cannot decode here: the same pixels as the
    // uncompressed file make the same FITS file.
    ASSERT_TRUE(have("convert " + at("grey16.tif") + " -compress lzw " + at("grey16-lzw.tif")));
    ASSERT_EQ(run("save " + at("grey16-lzw.tif") + " " + at("grey16-lzw.fits")).status, 0);
    EXPECT_EQ(slurp(at("grey16-lzw.fits")), slurp(at("grey16.fits")));
}

// Real frames from the machine's test data: a Digitized Sky Survey plate
// scan (16-bit) and a radio image with a blank border (32-bit float). Both
// sit in a narrow band of the range, so a plain 8-bit copy is nearly flat.
TEST_F(Cli, StretchedPreviewsOfRealFramesUseTheRange) {
    const fs::path astropy = "/usr/lib/python3/dist-packages/astropy";
    fs::path dss = astropy / "wcs/tests/data/dss.14.29.56-62.41.05.fits.gz";
    fs::path radio = astropy / "modeling/tests/data/1904-66_AZP.fits";
    if (!fs::exists(dss) || !fs::exists(radio)) GTEST_SKIP() << "python3-astropy's test data is not installed";
    ASSERT_EQ(std::system(("gzip -dc " + dss.string() + " > " + at("dss.fits")).c_str()), 0);
    for (const std::string& frame : {at("dss.fits"), radio.string()}) {
        // The host's samples, to know which pixels have data (blank ones are 0).
        ASSERT_EQ(run("open " + frame + " " + at("plain.pgm")).status, 0) << frame;
        Image plain = nebulite::cli::loadImage(at("plain.pgm")).image;
        ASSERT_EQ(plain.depth, 16) << frame;
        for (const char* curve : {"linear", "sqrt", "log", "asinh"}) {
            SCOPED_TRACE(frame + " " + curve);
            CliRun r = run("open " + frame + " " + at("preview.png") + " --stretch " + curve);
            ASSERT_EQ(r.status, 0) << r.err;
            Document preview = nebulite::cli::loadImage(at("preview.png"));
            ASSERT_EQ(preview.image.depth, 8);
            ASSERT_EQ(preview.image.sampleCount(), plain.sampleCount());
            EXPECT_TRUE(preview.resources.empty());  // a preview is not the data
            std::vector<int> levels;
            for (size_t i = 0; i < plain.wide.size(); ++i)
                if (plain.wide[i] != 0) levels.push_back(preview.image.narrow[i]);
            std::sort(levels.begin(), levels.end());
            auto quantile = [&](double q) {
                return levels[static_cast<size_t>(q * static_cast<double>(levels.size() - 1))];
            };
            std::vector<int> kinds = levels;
            size_t distinct = static_cast<size_t>(std::unique(kinds.begin(), kinds.end()) - kinds.begin());
            // Spread over the range, not piled at black: many levels in use,
            // the middle 80% of the pixels across a good part of it, and
            // black and white kept for the tails.
            EXPECT_GE(distinct, 128u);
            EXPECT_GE(quantile(0.9) - quantile(0.1), 16);
            EXPECT_GT(quantile(0.5), 8);
            EXPECT_LT(quantile(0.5), 247);
            EXPECT_LE(std::count(levels.begin(), levels.end(), 0), static_cast<long>(levels.size() / 100));
        }
    }
}

TEST_F(Cli, VersionNamesTheModuleItLoaded) {
    CliRun r = run("--version");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    EXPECT_EQ(out[0].rfind("nebulite 1.", 0), 0u) << r.out;
    std::string module = fs::canonical(fs::path(NEBULITE_BINARY_DIR) / "Nebulite.so").string();
    EXPECT_EQ(out[1].rfind("module: " + module + " (Nebulite ", 0), 0u) << r.out;
    EXPECT_NE(out[1].find(", entry point ENTRYPOINT)"), std::string::npos) << r.out;
}

TEST_F(Cli, InfoJsonIsValidAndEscapesCards) {
    spit(at("odd.fits"), fitsFile(2, 2, {"COMMENT a \"quoted\" \\ path", "OBJECT  = 'tab\there'"}));
    CliRun r = run("info --json " + at("odd.fits"));
    ASSERT_EQ(r.status, 0) << r.err;
    spit(at("info.json"), r.out);
    // Python's json module is the judge of the escaping.
    std::string check =
        "/usr/bin/python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
        "assert d['result']==0 and d['width']==2 and d['height']==2 and d['depth']==8, d; "
        "assert all(len(c)==80 for c in d['cards']), d['cards']; "
        "assert d['cards'][-1].startswith('END'), d['cards']; "
        "assert d['cards'][5].rstrip()=='COMMENT a \\\"quoted\\\" \\\\ path', d['cards'][5]; "
        "assert d['cards'][6][11:14]=='tab' and d['cards'][6][14]=='\\t', d['cards'][6]; "
        "assert d['headerLength']==2880\" " +
        at("info.json");
    EXPECT_EQ(std::system(check.c_str()), 0) << r.out;
}

TEST_F(Cli, ConvertChangesModeAndDepth) {
    ASSERT_EQ(run("convert " + sample_.string() + " " + at("rgb8.fits") + " --rgb --depth 8").status, 0);
    CliRun r = run("info " + at("rgb8.fits"));
    EXPECT_NE(r.out.find("depth:        8\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("planes:       3\n"), std::string::npos) << r.out;
    ASSERT_EQ(run("convert " + at("rgb8.fits") + " " + at("grey16.fits") + " --gray --depth 16").status, 0);
    // Grey copied into RGB and back by luminance is the grey again, and
    // 8 -> 16 -> 8 bits is exact.
    ASSERT_EQ(run("open " + at("rgb8.fits") + " " + at("rgb8.ppm")).status, 0);
    ASSERT_EQ(run("convert " + at("grey16.fits") + " " + at("grey8.fits") + " --depth 8").status, 0);
    ASSERT_EQ(run("open " + at("grey8.fits") + " " + at("grey8.pgm")).status, 0);
    ASSERT_EQ(run("convert " + sample_.string() + " " + at("direct8.fits") + " --depth 8").status, 0);
    ASSERT_EQ(run("open " + at("direct8.fits") + " " + at("direct8.pgm")).status, 0);
    EXPECT_EQ(slurp(at("grey8.pgm")), slurp(at("direct8.pgm")));
}

TEST_F(Cli, TheProgressBarIsForTerminalsOnly) {
    CliRun quiet = run("open " + sample_.string() + " " + at("quiet.pgm"));
    ASSERT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    if (std::system("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1) for a terminal";
    // script(1) runs the command on a pseudo-terminal and copies what it shows.
    std::string command = "script -qec '" + exe_.string() + " open " + sample_.string() + " " + at("tty.pgm") +
                          "' /dev/null > " + at("tty.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string shown = slurp(at("tty.txt"));
    EXPECT_NE(shown.find("[########################################] 100%"), std::string::npos) << shown;
    EXPECT_EQ(slurp(at("tty.pgm")), slurp(at("quiet.pgm")));
}

// The usage line names the extensions as the CLI always has, and the help
// of open and save and the manual page offer every format of the table.
TEST_F(Cli, ImageFormatsAreListedWhereverTheyAreOffered) {
    CliRun r = run("open " + sample_.string() + " " + at("x.jpg"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "nebulite: " + at("x.jpg") +
                         " is not a .png, .pgm, .ppm, .pnm, .pfm, .tif or .tiff file (see nebulite open --help): "
                         "formatBadParameters (-30500)\n");
    const std::string open = run("open --help").out, save = run("save --help").out;
    const std::string page = slurp(fs::path(NEBULITE_BINARY_DIR) / "nebulite.1");
    ASSERT_FALSE(page.empty()) << "build the manual page (nebulite_manual) first";
    EXPECT_EQ(page.find("{image-"), std::string::npos) << "a marker was left in the page";
    const size_t section = page.find("\n.SH IMAGE FILES\n");
    ASSERT_NE(section, std::string::npos);
    const std::string files = page.substr(section, page.find("\n.SH ", section + 1) - section);
    for (const nebulite::cli::ImageFileFormat& format : nebulite::cli::kImageFormats) {
        EXPECT_NE(files.find(std::string(format.name) + ": " + std::string(format.description)), std::string::npos)
            << format.name;
        for (std::string_view e : format.extensions) {
            if (e.empty()) continue;
            const std::string extension = std::string(".").append(e);
            for (const std::string* help : {&open, &save}) {
                // The format's line: its extensions, its name, its description.
                bool listed = false;
                for (const std::string& line : lines(*help)) {
                    const size_t name = line.find(std::string(" ").append(format.name).append(" "));
                    listed = listed || (line.rfind("  ", 0) == 0 && name != std::string::npos &&
                                        line.find(extension + " ") < name &&
                                        line.substr(line.size() - format.description.size()) == format.description);
                }
                EXPECT_TRUE(listed) << extension << "\n" << *help;
            }
            // In the open command's sentence, and in the IMAGE FILES section.
            const std::string bold = "\n.B " + extension + "\n", boldComma = "\n.BR " + extension + " ,\n";
            EXPECT_TRUE(page.find(bold) != std::string::npos || page.find(boldComma) != std::string::npos)
                << extension;
            EXPECT_NE(files.find(extension), std::string::npos) << extension;
        }
    }
}

TEST_F(Cli, EveryCommandHasHelp) {
    for (const char* command : {"about", "check", "info", "open", "save", "convert"}) {
        CliRun r = run(std::string(command) + " --help");
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: nebulite ") + command, 0), 0u) << command << r.out;
    }
}

}  // namespace
