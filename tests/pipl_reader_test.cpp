// The module's registration as a host finds it: the property list read from
// the built Nebulite.so (the ELF section .pipl) and decoded by the reference
// host's reader, the reader's refusal of malformed lists, the choice of the
// module that claims FITS, and the string table behind LoadStringA.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/pipl.h"
#include "platform/win32.h"
#include "resources/string_table.h"

namespace {

using namespace nebulite::host;

const std::string kModulePath = std::string(NEBULITE_BINARY_DIR) + "/Nebulite.so";

std::vector<uint8_t> modulePipl() {
    std::string error;
    auto bytes = readModulePipl(kModulePath, &error);
    EXPECT_TRUE(bytes.has_value()) << error;
    return bytes.value_or(std::vector<uint8_t>{});
}

std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::vector<uint8_t> text(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// ---- The raw properties, byte for byte ---------------------------------------

struct RawProperty {
    const char* key;  // as the host names it
    std::vector<uint8_t> data;
};

// Save As offers the module for every mode at 8 and 16 bits, and for 32-bit
// grey and RGB documents, which only the enable condition can name.
constexpr const char* kEnableCondition =
    "in (PSHOP_ImageMode, BitmapMode, GrayScaleMode, IndexedMode, RGBMode, CMYKMode, HSLMode, HSBMode, "
    "MultichannelMode, DuotoneMode, LabMode, Gray16Mode, RGB48Mode, Lab48Mode, CMYK64Mode, DeepMultichannelMode, "
    "Duotone16Mode, Gray32Mode, RGB96Mode)";

TEST(PiplInModule, HeaderAndEveryPropertyByteForByte) {
    std::vector<uint8_t> bytes = modulePipl();
    ASSERT_GE(bytes.size(), 10u);
    // Reserved word 1, list version 0, 17 properties.
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10),
              bytesOf({1, 0, 0, 0, 0, 0, 17, 0, 0, 0}));
    std::string error;
    auto list = parsePropertyList(bytes, &error);
    ASSERT_TRUE(list) << error;
    EXPECT_EQ(list->reserved, 1);
    EXPECT_EQ(list->version, 0);

    const std::vector<RawProperty> expected = {
        {"kind", text("FIB8")},
        {"name", concat({bytesOf({8}), text("Nebulite")})},
        {"vers", bytesOf({0, 0, 1, 0})},
        // This module is x86-64 code.
        {"8664", concat({text("ENTRYPOINT"), bytesOf({0})})},
        {"hstm", concat({bytesOf({0, 0, 0, 0}), text("STIF"), text("llun"), bytesOf({0x80, 0x3E}),
                         text("Quasarine Nebulite"), bytesOf({0})})},
        {"mode", bytesOf({0xFF, 0xC0})},
        {"enbl", concat({text(kEnableCondition), bytesOf({0})})},
        {"fmTC", concat({text("F1B8"), text("MIB8")})},
        {"fftT", concat({text("F1B8"), text("    ")})},
        // Each code in reading order, then as a little-endian integer.
        {"RdEx", text("FTS FIT FITSFI*  STF TIFSTIF *IF")},
        {"WrEx", text("FTS FIT FITSFI*  STF TIFSTIF *IF")},
        {"fftE", text("GZ  FZ    ZG  ZF")},
        {"fmtf", bytesOf({0x78})},
        {"mxsz", bytesOf({0xFF, 0x7F, 0xFF, 0x7F})},
        {"ms32", bytesOf({0xE0, 0x93, 0x04, 0x00, 0xE0, 0x93, 0x04, 0x00})},  // 300000, 300000
        {"fslm", bytesOf({0x00, 0x10, 0x00, 0x00})},                          // 4096 GB
        {"mxch", bytesOf({1, 0, 24, 0, 24, 0, 24, 0, 24, 0, 24, 0, 24, 0, 24, 0, 24, 0, 24, 0, 24, 0, 24, 0})},
    };
    ASSERT_EQ(list->properties.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const PiplProperty& p = list->properties[i];
        SCOPED_TRACE(expected[i].key);
        EXPECT_EQ(fourCharCode(p.key), expected[i].key);
        EXPECT_EQ(fourCharCode(p.vendor), "8BIM");
        EXPECT_EQ(p.id, 0);
        EXPECT_EQ(p.data, expected[i].data);
    }
}

TEST(PiplInModule, FourCharacterCodesAreLittleEndianIntegers) {
    std::vector<uint8_t> bytes = modulePipl();
    ASSERT_GE(bytes.size(), 24u);
    // The first property: vendor '8BIM' then key 'kind', each stored low byte first.
    EXPECT_EQ(std::string(bytes.begin() + 10, bytes.begin() + 18), "MIB8dnik");
    // propertyLength of 'kind' and its data '8BIF'.
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 22, bytes.begin() + 30),
              concat({bytesOf({4, 0, 0, 0}), text("FIB8")}));
}

// ---- Decoded, as `nebulite modules` shows it ------------------------------------

TEST(PiplInModule, DecodesToWhatTheModuleOffers) {
    std::string error;
    auto list = parsePropertyList(modulePipl(), &error);
    ASSERT_TRUE(list) << error;
    PluginInfo info = decodePluginInfo(*list);
    EXPECT_TRUE(info.problems.empty());
    EXPECT_EQ(info.kind, makeCode("8BIF"));
    EXPECT_EQ(info.name, "Nebulite");
    EXPECT_EQ(info.version, 0x00010000u);
    EXPECT_EQ(info.entryPoint, "ENTRYPOINT");
    EXPECT_EQ(info.codeProperties,
              (std::vector<std::pair<uint32_t, std::string>>{{makeCode("8664"), "ENTRYPOINT"}}));
    ASSERT_TRUE(info.terminology);
    EXPECT_EQ(info.terminology->version, 0);
    EXPECT_EQ(fourCharCode(info.terminology->classId), "FITS");
    EXPECT_EQ(fourCharCode(info.terminology->eventId), "null");
    EXPECT_EQ(info.terminology->resourceId, 16000);
    EXPECT_EQ(info.terminology->scope, "Quasarine Nebulite");
    EXPECT_EQ(info.modes, (std::vector<std::string>{"Bitmap", "Grayscale", "Indexed", "RGB", "CMYK",
                                                    "HSL", "HSB", "Multichannel", "Duotone", "Lab"}));
    EXPECT_EQ(info.enableCondition, kEnableCondition);
    ASSERT_TRUE(info.fileTypeCreator);
    EXPECT_EQ(fourCharCode(info.fileTypeCreator->first), "8B1F");
    EXPECT_EQ(fourCharCode(info.fileTypeCreator->second), "8BIM");
    ASSERT_TRUE(info.fileTypes);
    ASSERT_EQ(info.fileTypes->size(), 1u);
    EXPECT_EQ(fourCharCode((*info.fileTypes)[0].first), "8B1F");
    EXPECT_EQ(fourCharCode((*info.fileTypes)[0].second), "    ");
    // As the editor reads them: the reading-order half names no extension.
    const std::vector<std::string> extensions = {"STF", "TIF", "STIF", "*IF", "FTS", "FIT", "FITS", "FI*"};
    EXPECT_EQ(info.readExtensions, extensions);
    EXPECT_EQ(info.writeExtensions, extensions);
    EXPECT_EQ(info.filteredExtensions, (std::vector<std::string>{"ZG", "ZF", "GZ", "FZ"}));
    EXPECT_EQ(info.formatFlagBits, 0x78);
    EXPECT_EQ(info.formatFlags, (std::vector<std::string>{"saves image resources", "can read",
                                                          "can write", "can write if read"}));
    EXPECT_EQ(info.maxSize, (std::pair<int16_t, int16_t>{32767, 32767}));
    EXPECT_EQ(info.maxSize32, (std::pair<int32_t, int32_t>{300000, 300000}));
    EXPECT_EQ(info.fileSizeLimitGB, 4096);
    EXPECT_EQ(info.maxChannels,
              (std::vector<int16_t>{1, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24}));
}

struct ClaimCase {
    const char* extension;
    bool claimed;
};

class PiplClaims : public testing::TestWithParam<ClaimCase> {};

TEST_P(PiplClaims, ByReadExtension) {
    auto list = parsePropertyList(modulePipl(), nullptr);
    ASSERT_TRUE(list);
    EXPECT_EQ(decodePluginInfo(*list).claimsExtension(GetParam().extension), GetParam().claimed);
}

INSTANTIATE_TEST_SUITE_P(Extensions, PiplClaims,
                         testing::Values(ClaimCase{"FITS", true}, ClaimCase{"fits", true},
                                         ClaimCase{"FIT", true}, ClaimCase{"FTS", true},
                                         ClaimCase{"FITZ", true},  // FI*
                                         ClaimCase{"FI", true}, ClaimCase{"F", false},
                                         ClaimCase{"gz", true},  // through FilterFile
                                         ClaimCase{"PNG", false}, ClaimCase{"FT", false},
                                         ClaimCase{"", false}),
                         [](const testing::TestParamInfo<ClaimCase>& info) {
                             std::string name = info.param.extension;
                             return (name.empty() ? std::string("empty") : name) +
                                    (info.param.claimed ? "_claimed" : "_not_claimed") +
                                    std::to_string(info.index);
                         });

TEST(PiplClaimsOther, OnlyFormatModulesClaimExtensions) {
    auto list = parsePropertyList(modulePipl(), nullptr);
    ASSERT_TRUE(list);
    // The same list with kind '8BFM' (a filter) claims nothing.
    for (PiplProperty& p : list->properties)
        if (p.key == makeCode("kind")) p.data = text("MFB8");
    EXPECT_FALSE(decodePluginInfo(*list).claimsExtension("FITS"));
}

// ---- Malformed lists -------------------------------------------------------------

struct MalformedCase {
    const char* name;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> property(std::string_view key, const std::vector<uint8_t>& data, int32_t length,
                              size_t padding) {
    std::vector<uint8_t> out = text("MIB8");
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(key[static_cast<size_t>(i)]));
    out.insert(out.end(), 4, 0);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(length) >> (8 * i)));
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), padding, 0);
    return out;
}

class PiplMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(PiplMalformed, IsRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(parsePropertyList(GetParam().bytes, &error));
    EXPECT_FALSE(error.empty());
}

const std::vector<uint8_t> kOneCount = bytesOf({1, 0, 0, 0, 0, 0, 1, 0, 0, 0});
const std::vector<uint8_t> kTwoCount = bytesOf({1, 0, 0, 0, 0, 0, 2, 0, 0, 0});

INSTANTIATE_TEST_SUITE_P(
    Cases, PiplMalformed,
    testing::Values(
        MalformedCase{"empty", {}},
        MalformedCase{"header cut", bytesOf({1, 0, 0, 0, 0, 0, 1, 0})},
        MalformedCase{"negative count", bytesOf({1, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})},
        // The layout without the reserved word: a 32-bit 1, then the count.
        MalformedCase{"no reserved word", concat({bytesOf({1, 0, 0, 0, 1, 0, 0, 0}),
                                                  property("kind", text("FIB8"), 4, 0)})},
        MalformedCase{"another list version",
                      concat({bytesOf({1, 0, 1, 0, 0, 0, 1, 0, 0, 0}), property("kind", text("FIB8"), 4, 0)})},
        MalformedCase{"fewer properties than counted",
                      concat({kTwoCount, property("kind", text("FIB8"), 4, 0)})},
        MalformedCase{"length past the end",
                      concat({kOneCount, property("kind", text("FIB8"), 8, 0)})},
        MalformedCase{"padding missing", concat({kOneCount, property("fmtf", bytesOf({0x78}), 1, 0)})},
        MalformedCase{"padding not zero",
                      concat({kOneCount, property("fmtf", bytesOf({0x78, 0, 1, 0}), 1, 0)})},
        MalformedCase{"negative length", concat({kOneCount, property("kind", text("FIB8"), -4, 0)})},
        MalformedCase{"bytes after the last property",
                      concat({kOneCount, property("kind", text("FIB8"), 4, 0), bytesOf({0, 0, 0, 0})})}),
    [](const testing::TestParamInfo<MalformedCase>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(PiplWellFormed, PaddedPropertyParses) {
    auto bytes = concat({kOneCount, property("fmtf", bytesOf({0x78}), 1, 3)});
    std::string error;
    auto list = parsePropertyList(bytes, &error);
    ASSERT_TRUE(list) << error;
    ASSERT_EQ(list->properties.size(), 1u);
    EXPECT_EQ(list->properties[0].data, bytesOf({0x78}));
    EXPECT_EQ(decodePluginInfo(*list).formatFlagBits, 0x78);
}

// A host calls only code of its own architecture: a module that names its
// entry point for the other one is listed, but has nothing to call.
TEST(PiplWellFormed, OnlyTheHostsOwnCodePropertyGivesTheEntryPoint) {
    for (const auto& [key, code] : {std::pair{"wx86", makeCode("wx86")}, std::pair{"8664", makeCode("8664")}}) {
        SCOPED_TRACE(key);
        auto bytes = concat({kOneCount, property(key, concat({text("Main"), bytesOf({0})}), 5, 3)});
        std::string error;
        auto list = parsePropertyList(bytes, &error);
        ASSERT_TRUE(list) << error;
        PluginInfo info = decodePluginInfo(*list);
        ASSERT_EQ(info.codeProperties.size(), 1u);
        EXPECT_EQ(info.codeProperties[0].second, "Main");
        EXPECT_EQ(info.entryPoint.has_value(), code == kOwnCodeProperty);
    }
}

// ---- Finding the module in a folder ------------------------------------------------

class ModuleFolder : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("nebulite-pipl-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::path dir_;
};

TEST_F(ModuleFolder, ListsOnlyLibrariesWithAPropertyList) {
    std::filesystem::copy_file(kModulePath, dir_ / "Nebulite.so");
    // An ELF library without a .pipl section: the test program itself.
    std::filesystem::copy_file("/proc/self/exe", dir_ / "Another.so");
    write("junk.so", text("not a library at all"));
    write("notes.txt", text("Nebulite"));
    auto modules = findModules(dir_.string());
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(std::filesystem::path(modules[0].path).filename(), "Nebulite.so");
    EXPECT_EQ(modules[0].info.name, "Nebulite");
    auto fits = findFitsModule(dir_.string());
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->path, modules[0].path);
}

TEST_F(ModuleFolder, NoModuleClaimsFitsInAFolderWithout) {
    std::filesystem::copy_file("/proc/self/exe", dir_ / "Another.so");
    EXPECT_TRUE(findModules(dir_.string()).empty());
    EXPECT_FALSE(findFitsModule(dir_.string()));
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A folder may hold anything named *.so; the host reads such files before
// trusting them, so a damaged one must be refused without reading past it.
TEST_F(ModuleFolder, DamagedElfFilesAreRefused) {
    const std::vector<uint8_t> good = fileBytes(kModulePath);
    ASSERT_GT(good.size(), 4096u);
    auto put64 = [](std::vector<uint8_t> bytes, size_t at, uint64_t value, int width) {
        for (int i = 0; i < width; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
        return bytes;
    };
    struct Damage {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Damage> damages = {
        {"magic only", std::vector<uint8_t>(good.begin(), good.begin() + 4)},
        {"header cut", std::vector<uint8_t>(good.begin(), good.begin() + 63)},
        {"no section table", std::vector<uint8_t>(good.begin(), good.begin() + 1024)},
        {"section table cut", std::vector<uint8_t>(good.begin(), good.end() - 100)},
        {"section table far away", put64(good, 0x28, uint64_t{1} << 62, 8)},
        {"section table at the end", put64(good, 0x28, good.size() - 8, 8)},
        {"names index past the table", put64(good, 0x3E, 0xFFFF, 2)},
        {"no sections", put64(good, 0x3C, 0, 2)},
        {"tiny section entries", put64(good, 0x3A, 8, 2)},
        {"unknown class", put64(good, 4, 7, 1)},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        write("damaged.so", damage.bytes);
        std::string error;
        auto pipl = readElfSection((dir_ / "damaged.so").string(), ".pipl", &error);
        EXPECT_FALSE(pipl);
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(findModules(dir_.string()).empty());
    }
}

// A section whose header points past the end of the file.
TEST_F(ModuleFolder, SectionPastTheEndIsRefused) {
    std::vector<uint8_t> bytes = fileBytes(kModulePath);
    auto shoff = static_cast<size_t>(bytes[0x28] | bytes[0x29] << 8 | bytes[0x2A] << 16 | bytes[0x2B] << 24);
    size_t entry = bytes[0x3A] | bytes[0x3B] << 8;
    size_t count = bytes[0x3C] | bytes[0x3D] << 8;
    std::string error;
    auto pipl = readElfSection(kModulePath, ".pipl", &error);
    ASSERT_TRUE(pipl) << error;
    bool damaged = false;
    // Find the .pipl header by its size and file offset, then make it huge.
    for (size_t i = 0; i < count; ++i) {
        uint8_t* h = bytes.data() + shoff + i * entry;
        uint64_t size = 0;
        for (int k = 0; k < 8; ++k) size |= uint64_t{h[0x20 + k]} << (8 * k);
        if (size == pipl->size() && h[4] == 1) {
            h[0x20 + 6] = 0x01;  // size += 2^48
            damaged = true;
        }
    }
    ASSERT_TRUE(damaged);
    write("damaged.so", bytes);
    EXPECT_FALSE(readElfSection((dir_ / "damaged.so").string(), ".pipl", &error));
    EXPECT_NE(error.find("past the end"), std::string::npos) << error;
}

TEST(ModuleLoad, EntersWhereThePiplSays) {
    std::string error;
    auto module = Module::load(kModulePath, &error, "ENTRYPOINT");
    ASSERT_TRUE(module) << error;
    EXPECT_NE(module->entry(), nullptr);
    EXPECT_FALSE(Module::load(kModulePath, &error, "PluginMain"));
    EXPECT_NE(error.find("PluginMain"), std::string::npos);
}

TEST(ElfSections, AbsentSectionIsNotAnError) {
    std::string error = "untouched";
    EXPECT_FALSE(readElfSection(kModulePath, ".nonexistent", &error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(readElfSection(std::string(NEBULITE_SOURCE_DIR) + "/CMakeLists.txt", ".pipl", &error));
    EXPECT_FALSE(error.empty());
}

TEST(ElfSections, TerminologyTravelsWithTheModule) {
    std::string error;
    auto aete = readElfSection(kModulePath, ".aete", &error);
    ASSERT_TRUE(aete) << error;
    // Every option key and enumeration after the two properties from before
    // options (tests/pipl_resources_check.py decodes it all).
    ASSERT_EQ(aete->size(), 2812u);
    // Header: version 1, terminology 1.0, language 0, script 0, one suite.
    EXPECT_EQ(std::vector<uint8_t>(aete->begin(), aete->begin() + 10),
              bytesOf({1, 0, 1, 0, 0, 0, 0, 0, 1, 0}));
    // The suite's id 'FITS' follows its two Pascal strings with no alignment byte.
    EXPECT_EQ(std::string(aete->begin() + 48, aete->begin() + 52), "STIF");
}

// ---- String table ----------------------------------------------------------------------

struct StringCase {
    unsigned id;
    const char* text;  // Windows-1252
};

class StringTable : public testing::TestWithParam<StringCase> {};

TEST_P(StringTable, LoadStringAnswersTheText) {
    char buffer[512];
    std::memset(buffer, 'x', sizeof buffer);
    int length = LoadStringA(nullptr, GetParam().id, buffer, static_cast<int>(sizeof buffer));
    EXPECT_EQ(std::string(buffer), GetParam().text);
    EXPECT_EQ(length, static_cast<int>(std::strlen(GetParam().text)));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, StringTable,
    testing::Values(
        StringCase{16000,
                   "Nebulite\n\nVersion 1.0.0\nCopyright \xA9 2026 the Nebulite developers.\n"
                   "All rights reserved.\n\nFITS format plug-in for Adobe Photoshop on the PC, "
                   "version 5.0 and later\xAE"},
        StringCase{16001, ""},
        StringCase{16992, "This plug-in requires Adobe Photoshop\xAE ^1 or later functionality."},
        StringCase{16993, "This plug-in is incompatible with this version of the host program."},
        StringCase{16002, ""}, StringCase{16994, ""}),
    [](const testing::TestParamInfo<StringCase>& info) { return "id" + std::to_string(info.param.id); });

TEST(StringTableLimits, MissingEntryIsNull) {
    EXPECT_EQ(nebuliteStringResource(1), nullptr);
    EXPECT_NE(nebuliteStringResource(16001), nullptr);
}

TEST(StringTableLimits, LoadStringCutsToTheBuffer) {
    char buffer[9];
    EXPECT_EQ(LoadStringA(nullptr, 16000, buffer, static_cast<int>(sizeof buffer)), 8);
    EXPECT_STREQ(buffer, "Nebulite");
}

}  // namespace
