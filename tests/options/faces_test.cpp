// The command line's flags and the descriptor's keys fill the model: what
// each spelling means, the message each mistake gets, and that whatever a
// face writes reads back to the same options, in any order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "options/cli_flags.h"
#include "options/descriptor_apply.h"
#include "options/validate.h"

using namespace nebulite::options;

namespace {

Message applyAll(OpenOptions& o, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i + 1 < args.size(); i += 2)
        if (Message m = applyOpenFlag(o, args[i], args[i + 1]); !m.empty()) return m;
    return {};
}

OpenOptions withImage(ImageChoice image) {
    OpenOptions o;
    o.image = image;
    return o;
}

OpenOptions withMapping(Stretch s, IntervalChoice interval, std::optional<double> midtone = {}) {
    OpenOptions o;
    o.mapping = {s, interval, midtone};
    return o;
}

// A spread of option sets over every field, valid and canonical.
std::vector<OpenOptions> optionSets() {
    std::vector<ImageChoice> images = {ImageChoice{}, {ImageSelect::index, 7, {}, {}},
                                       {ImageSelect::name, 0, ExtName("SCI"), 2},
                                       {ImageSelect::name, 0, ExtName("123"), {}},
                                       {ImageSelect::name, 0, ExtName("O'Brien, J"), -1},
                                       {ImageSelect::name, 0, ExtName(" auto"), {}}};
    std::vector<PlaneChoice> planes = {PlaneChoice{}, {PlaneSelect::one, {4, 0, 0}}, {PlaneSelect::three, {3, 1, 2}}};
    std::vector<MappingChoice> mappings = {MappingChoice{},
                                           {Stretch::asinh, {}, {}},
                                           {Stretch::log, {IntervalKind::zscale}, {}},
                                           {Stretch::sqrt, {IntervalKind::percent, 97.25}, {}},
                                           {Stretch::linear, {IntervalKind::points, 99.5, -0.1, 3e9}, {}},
                                           {Stretch::mtf, {IntervalKind::minmax}, {}},
                                           {Stretch::mtf, {IntervalKind::points, 99.5, 1.0 / 3.0, 2.0}, 0.0625}};
    std::vector<OpenOptions> out;
    for (const ImageChoice& i : images)
        for (const PlaneChoice& p : planes)
            for (const MappingChoice& m : mappings)
                for (Debayer d : {Debayer::off, Debayer::automatic, Debayer::gbrg}) {
                    if (d != Debayer::off && p.select == PlaneSelect::three) continue;
                    OpenOptions o;
                    o.image = i;
                    o.planes = p;
                    o.mapping = m;
                    o.debayer = d;
                    o.demosaic = d == Debayer::gbrg ? Demosaic::quality : Demosaic::bilinear;
                    o.orientation = d == Debayer::automatic ? Orientation::sky : Orientation::stored;
                    o.depth = m.stretch == Stretch::range ? Depth::bits32 : Depth::bits8;
                    out.push_back(o);
                }
    return out;
}

std::vector<SaveOptions> saveSets() {
    std::vector<SaveOptions> out;
    for (Compression c : {Compression::none, Compression::rice, Compression::hcompress})
        for (std::optional<TileSize> t : {std::optional<TileSize>{}, std::optional<TileSize>{TileSize{16, 100}}})
            for (double q : {0.0, 4.5})
                out.push_back(SaveOptions{Orientation::sky, FloatBitpix::minus32, c, t, q});
    return out;
}

}  // namespace

TEST(CliFlags, SpellingsAndWhatTheyChoose) {
    struct Case {
        std::vector<std::string> args;
        OpenOptions expected;
    } cases[] = {
        {{"--image", "SCI,2"}, withImage({ImageSelect::name, 0, ExtName("SCI"), 2})},
        {{"--image", "'12'"}, withImage({ImageSelect::name, 0, ExtName("12"), {}})},
        {{"--image", "'O''Brien',3"}, withImage({ImageSelect::name, 0, ExtName("O'Brien"), 3})},
        {{"--image", "3"}, withImage({ImageSelect::index, 3, {}, {}})},
        {{"--image", "3", "--image", "AUTO"}, OpenOptions{}},
        {{"--stretch", "asinh", "--interval", "99%"}, withMapping(Stretch::asinh, {IntervalKind::percent, 99.0})},
        {{"--stretch", "log", "--black", "-5", "--white", "1e3"},
         withMapping(Stretch::log, {IntervalKind::points, 99.5, -5.0, 1000.0})},
        {{"--stretch", "mtf", "--white", "2", "--black", "1", "--midtone", "0.25"},
         withMapping(Stretch::mtf, {IntervalKind::points, 99.5, 1.0, 2.0}, 0.25)},
    };
    for (const Case& c : cases) {
        OpenOptions o;
        EXPECT_TRUE(applyAll(o, c.args).empty()) << c.args[1];
        EXPECT_EQ(canonical(o), canonical(c.expected)) << c.args[1];
    }
    OpenOptions o;
    ASSERT_TRUE(applyAll(o, {"--planes", "3,2,1", "--debayer", "rggb", "--depth", "16", "--demosaic", "quality"}).empty());
    EXPECT_EQ(o.planes, (PlaneChoice{PlaneSelect::three, {3, 2, 1}}));
    EXPECT_EQ(o.debayer, Debayer::rggb);
    EXPECT_EQ(o.depth, Depth::bits16);
    EXPECT_EQ(o.demosaic, Demosaic::quality);
}

TEST(CliFlags, EachMistakeSaysWhat) {
    struct Case {
        std::string flag, value, message;
    } open[] = {
        {"--plane", "0", "--plane: planes are counted from 1: there is no plane 0"},
        {"--planes", "1,2", "--planes: three planes are written R,G,B (e.g. 3,2,1), not '1,2'"},
        {"--image", "SCI,x", "--image: the EXTVER after the comma is a whole number, not 'x'"},
        {"--image", "'SCI", "--image: the quoted EXTNAME in ''SCI' has no closing quote"},
        {"--image", "9999999999", "--image: HDU 9999999999 is beyond the largest HDU number, 2147483647"},
        {"--interval", "150", "--interval: central percentage 150 is not above 0 and at most 100"},
        {"--interval", "most", "--interval: an interval is auto, minmax, zscale or a central percentage, not 'most'"},
        {"--stretch", "gamma", "--stretch: a stretch is one of range|linear|sqrt|log|asinh|mtf, not 'gamma'"},
        {"--black", "nan", "--black: 'nan' is not a finite decimal number"},
        {"--white", "\n3e4", "--white: '?3e4' is not a finite decimal number"},  // a message stays one line
        {"--depth", "12", "--depth: a depth is one of auto|8|16|32, not '12'"},
        {"--frobnicate", "1", "unknown option --frobnicate"},
    };
    for (const Case& c : open) {
        OpenOptions o;
        EXPECT_EQ(applyOpenFlag(o, c.flag, c.value).view(), c.message);
        EXPECT_EQ(o, OpenOptions{}) << "a refused value changes nothing";
    }
    Case save[] = {
        {"--tile", "16", "--tile: a tile is ROWSxCOLS (e.g. 16x1024) or auto, not '16'"},
        {"--tile", "0x5", "--tile: tile 0x5 is not between 1x1 and 2147483647x2147483647"},
        {"--quantize", "-1", "--quantize: quantize level -1 is below 0"},
        {"--compress", "bzip2", "--compress: a compression is one of none|rice|gzip1|gzip2|hcompress, not 'bzip2'"},
    };
    for (const Case& c : save) {
        SaveOptions o;
        EXPECT_EQ(applySaveFlag(o, c.flag, c.value).view(), c.message);
    }
}

TEST(CliFlags, WrittenFlagsReadBackToTheSameOptions) {
    for (const OpenOptions& o : optionSets()) {
        ASSERT_TRUE(validate(o).empty()) << validate(o).view();
        OpenOptions back;
        const FlagList flags = openFlags(o);
        for (const Flag& f : flags.view()) ASSERT_TRUE(applyOpenFlag(back, f.name, f.value.view()).empty());
        EXPECT_EQ(canonical(back), canonical(o)) << formatImage(o.image).view();
    }
    for (const SaveOptions& o : saveSets()) {
        SaveOptions back;
        const FlagList flags = saveFlags(o);
        for (const Flag& f : flags.view()) ASSERT_TRUE(applySaveFlag(back, f.name, f.value.view()).empty());
        EXPECT_EQ(canonical(back), canonical(o));
    }
}

TEST(DescriptorKeys, WrittenKeysReadBackInAnyOrder) {
    for (const OpenOptions& o : optionSets()) {
        DescriptorEntries entries = openEntries(o);
        std::vector<DescriptorEntry> order(entries.view().begin(), entries.view().end());
        for (int pass = 0; pass < 2; ++pass) {
            OpenOptions back;
            for (const DescriptorEntry& e : order) ASSERT_TRUE(applyOpenKey(back, e.key, e.value).empty());
            EXPECT_EQ(canonical(back), canonical(o));
            std::reverse(order.begin(), order.end());
        }
    }
    for (const SaveOptions& o : saveSets()) {
        SaveOptions back;
        const DescriptorEntries entries = saveEntries(o);
        for (const DescriptorEntry& e : entries.view()) ASSERT_TRUE(applySaveKey(back, e.key, e.value).empty());
        EXPECT_EQ(canonical(back), canonical(o));
    }
}

TEST(DescriptorKeys, ANameChoosesTheImageOverANumber) {
    for (bool nameFirst : {false, true}) {
        OpenOptions o;
        auto name = [&] { return applyOpenKey(o, keys::extname, DescriptorValue::ofText("SCI")); };
        auto number = [&] { return applyOpenKey(o, keys::image, DescriptorValue::ofInteger(4)); };
        nameFirst ? (name(), number()) : (number(), name());
        EXPECT_EQ(o.image.select, ImageSelect::name);
    }
}

TEST(DescriptorKeys, ValuesTheModelCannotTake) {
    struct Case {
        FourCharCode key;
        DescriptorValue value;
        std::string message;
    } cases[] = {
        {keys::stretch, DescriptorValue::ofInteger(2), "key 'nbSt' (stretch) holds an integer, not an enumerated value"},
        {keys::stretch, DescriptorValue::ofEnumerated(enumTypes::stretch, fourCharCode("nbXX")),
         "key 'nbSt' (stretch) has no value 'nbXX'"},
        {keys::depth, DescriptorValue::ofEnumerated(enumTypes::stretch, fourCharCode("nb16")),
         "key 'nbDp' (depth) holds an enumeration of type 'nbTS'"},
        {keys::plane2, DescriptorValue::ofInteger(0), "key 'nbP2' (second plane) is at least 1, not 0"},
        {keys::image, DescriptorValue::ofInteger(-1), "key 'nbIm' (image) is at least 0, not -1"},
        {keys::extname, DescriptorValue::ofText(std::string(69, 'A')), "an EXTNAME holds at most 68 characters"},
        {keys::black, DescriptorValue::ofNumber(std::numeric_limits<double>::infinity()),
         "key 'nbBk' (black point) is not a finite number"},
        // Another version's keys, retired keys and the save's keys are read as nothing.
        {fourCharCode("nbZZ"), DescriptorValue::ofInteger(1), ""},
        {keys::retiredFoo, DescriptorValue::ofBoolean(true), ""},
        {keys::compression, DescriptorValue::ofInteger(1), ""},
    };
    for (const Case& c : cases) {
        OpenOptions o;
        EXPECT_EQ(applyOpenKey(o, c.key, c.value).view(), c.message);
        EXPECT_EQ(o, OpenOptions{});
    }
    SaveOptions s;
    EXPECT_EQ(applySaveKey(s, keys::quantize, DescriptorValue::ofNumber(-2)).view(),
              "key 'nbQz' (quantize level) is a finite number of at least 0");
}

TEST(DescriptorKeys, TheTableTheTerminologyIsMadeFrom) {
    // The terminology's keys from before there were options keep their codes.
    ASSERT_NE(keyEntry(fourCharCode("fooB")), nullptr);
    ASSERT_NE(keyEntry(fourCharCode("barF")), nullptr);
    EXPECT_EQ(keyEntry(fourCharCode("fooB"))->face, KeyFace::retired);
    // What the host is asked to read: every key of the face and a zero.
    EXPECT_EQ(kOpenReadKeys.back(), 0u);
    EXPECT_EQ(kSaveReadKeys.size(), 7u);
    EXPECT_NE(std::find(kSaveReadKeys.begin(), kSaveReadKeys.end(), keys::orientation), kSaveReadKeys.end());
    for (const KeyEntry& k : kDescriptorKeys) {
        EXPECT_FALSE(k.name.empty());
        EXPECT_LT(k.name.size(), 256u);  // Pascal strings in the resource
        EXPECT_LT(k.description.size(), 256u);
    }
}
