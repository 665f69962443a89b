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

namespace {

namespace fs = std::filesystem;

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
    for (const char* ext : {"pgm", "png"}) {
        std::string first = at(std::string("first.") + ext);
        std::string again = at(std::string("again.") + ext);
        ASSERT_EQ(run("open " + sample_.string() + " " + first).status, 0) << ext;
        ASSERT_EQ(run("save " + first + " " + at("back.fits")).status, 0) << ext;
        ASSERT_EQ(run("open " + at("back.fits") + " " + again).status, 0) << ext;
        // The files may differ in the header they carry; the samples may not.
        EXPECT_TRUE(nebulite::cli::loadImage(first).image == nebulite::cli::loadImage(again).image) << ext;
    }
}

TEST_F(Cli, APngBringsTheHeaderBack) {
    ASSERT_EQ(run("open " + sample_.string() + " " + at("m51.png")).status, 0);
    ASSERT_EQ(run("save " + at("m51.png") + " " + at("back.fits")).status, 0);
    CliRun r = run("info " + at("back.fits"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("OBJECT  = 'M51     '"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("HISTORY Written by scripts/make_sample.py"), std::string::npos) << r.out;
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

TEST_F(Cli, EveryCommandHasHelp) {
    for (const char* command : {"about", "check", "info", "open", "save", "convert"}) {
        CliRun r = run(std::string(command) + " --help");
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: nebulite ") + command, 0), 0u) << command << r.out;
    }
}

}  // namespace
