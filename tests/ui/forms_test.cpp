// The dialogs' forms against the options library: whatever options a form
// shows, reading the form back gives the same options (canonical), and opens
// the file as options::resolve says those options open it; a field that does
// not parse is refused and changes nothing; the image list offers exactly
// the HDUs that can be opened.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "options/resolve_open.h"
#include "options/resolve_save.h"
#include "ui/image_list.h"
#include "ui/open_form.h"
#include "ui/save_form.h"

using namespace nebulite;
using namespace nebulite::options;
using ui::FieldText;

namespace {

HduFacts hdu(HduKind kind, const char* name, int16_t bitpix, uint16_t naxis, uint64_t naxis3 = 1, int32_t extver = 1) {
    HduFacts h;
    h.kind = kind;
    h.hasExtname = name != nullptr;
    if (name != nullptr) h.extname = ExtName(name);
    h.extver = extver;
    h.bitpix = bitpix;
    h.naxis = naxis;
    h.naxis1 = naxis >= 1 ? 64 : 0;
    h.naxis2 = naxis >= 2 ? 48 : 0;
    h.naxis3 = naxis3;
    return h;
}

// 0 empty primary, 1 float image, 2 compressed mosaic, 3 table, 4 cube of 5,
// 5 a second SCI (EXTVER 2) of 3 planes stored bottom-up.
std::vector<HduFacts> sampleFile() {
    std::vector<HduFacts> h = {
        hdu(HduKind::image, nullptr, 8, 0),
        hdu(HduKind::image, "SCI", -32, 2),
        hdu(HduKind::compressedImage, "RAW", 16, 2),
        hdu(HduKind::binaryTable, "CAT", 8, 2),
        hdu(HduKind::image, "CUBE", 8, 3, 5),
        hdu(HduKind::image, "SCI", 16, 3, 3, 2),
    };
    h[2].bayer = CfaPattern::rggb;
    h[5].rowOrder = RowOrder::bottomUp;
    return h;
}

OpenOptions opening(uint32_t index) {
    OpenOptions o;
    o.image = {ImageSelect::index, index, {}, std::nullopt};
    return o;
}

struct OpenCase {
    std::string name;
    OpenOptions options;
};

std::vector<OpenCase> openCases() {
    std::vector<OpenCase> cases;
    cases.push_back({"defaults", OpenOptions{}});
    {
        OpenOptions o = opening(4);
        o.planes = {PlaneSelect::one, {5, 0, 0}};
        o.orientation = Orientation::sky;
        o.mapping.stretch = Stretch::sqrt;
        o.mapping.interval.kind = IntervalKind::percent;
        o.mapping.interval.percent = 98.25;
        o.depth = Depth::bits8;
        cases.push_back({"plane 5 of a cube, sky, sqrt over 98.25 %, 8 bits", o});
    }
    {
        OpenOptions o;
        o.image = {ImageSelect::name, 0, ExtName("SCI"), 2};
        o.planes = {PlaneSelect::three, {3, 1, 2}};
        o.mapping.stretch = Stretch::mtf;
        o.mapping.interval = {IntervalKind::points, kDefaultPercent, -0.125, 1e-7};
        o.mapping.midtone = 0.3;
        cases.push_back({"SCI,2 by name, planes 3,1,2, mtf over points with a midtone", o});
    }
    {
        OpenOptions o = opening(5);
        o.mapping.stretch = Stretch::mtf;
        o.mapping.interval = {IntervalKind::points, kDefaultPercent, 10.0, 20.0};
        cases.push_back({"mtf over points, no midtone given", o});
    }
    {
        OpenOptions o = opening(2);
        o.debayer = Debayer::gbrg;
        o.demosaic = Demosaic::quality;
        o.mapping.stretch = Stretch::asinh;
        o.mapping.interval.kind = IntervalKind::zscale;
        cases.push_back({"a named pattern, quality, asinh over zscale", o});
    }
    {
        OpenOptions o = opening(2);
        o.debayer = Debayer::automatic;
        o.mapping.stretch = Stretch::log;
        o.mapping.interval.kind = IntervalKind::minmax;
        o.depth = Depth::bits16;
        cases.push_back({"debayer automatic, log over minmax, 16 bits", o});
    }
    {
        OpenOptions o = opening(1);
        o.depth = Depth::bits32;
        cases.push_back({"32-bit float document", o});
    }
    {
        OpenOptions o = opening(1);
        o.mapping.stretch = Stretch::linear;
        o.mapping.interval = {IntervalKind::points, kDefaultPercent, 1.0000000000000002, 1e300};
        cases.push_back({"points that take every digit to write", o});
    }
    return cases;
}

}  // namespace

TEST(OpenForm, ReadsBackTheOptionsItShows) {
    std::vector<HduFacts> hdus = sampleFile();
    FileFacts file{hdus};
    for (const OpenCase& c : openCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(resolve(c.options, file).ok()) << resolve(c.options, file).message.view();
        ui::OpenFormValues values = ui::openFormFrom(file, c.options);
        ui::OpenFormReading reading = ui::readOpenForm(values, file, c.options);
        EXPECT_TRUE(reading.ok()) << reading.message.view();
        EXPECT_TRUE(reading.options == canonical(c.options));
    }
}

// Started from other options (the defaults), the form's options choose the
// image by number but open the file exactly as the options it showed.
TEST(OpenForm, OpensTheFileAsTheOptionsItShows) {
    std::vector<HduFacts> hdus = sampleFile();
    FileFacts file{hdus};
    for (const OpenCase& c : openCases()) {
        SCOPED_TRACE(c.name);
        ui::OpenFormReading reading = ui::readOpenForm(ui::openFormFrom(file, c.options), file, OpenOptions{});
        ASSERT_TRUE(reading.ok()) << reading.message.view();
        ResolvedOpen want = resolve(c.options, file).resolved;
        ResolvedOpen got = resolve(reading.options, file).resolved;
        EXPECT_EQ(got.hdu, want.hdu);
        EXPECT_EQ(got.planeCount, want.planeCount);
        EXPECT_EQ(got.planes, want.planes);
        EXPECT_EQ(got.documentPlanes, want.documentPlanes);
        EXPECT_EQ(got.depth, want.depth);
        EXPECT_EQ(got.flipRows, want.flipRows);
        EXPECT_EQ(got.mosaic, want.mosaic);
        EXPECT_TRUE(got.chosen.mapping == want.chosen.mapping);
        EXPECT_EQ(got.chosen.demosaic, want.chosen.demosaic);
    }
}

TEST(OpenForm, AnotherRowChoosesThatHduByNumber) {
    std::vector<HduFacts> hdus = sampleFile();
    FileFacts file{hdus};
    OpenOptions byName;
    byName.image = {ImageSelect::name, 0, ExtName("RAW"), std::nullopt};
    ui::OpenFormValues values = ui::openFormFrom(file, byName);
    EXPECT_EQ(ui::hduOfRow(file, values.imageRow), 2u);
    values.imageRow = ui::rowOfHdu(file, 4);
    ui::OpenFormReading reading = ui::readOpenForm(values, file, byName);
    ASSERT_TRUE(reading.ok()) << reading.message.view();
    EXPECT_TRUE(reading.options.image == (ImageChoice{ImageSelect::index, 4, {}, std::nullopt}));
}

// Blanks around a number are the user's, not part of it; anything else that
// is not a number is refused, named by its field, and changes nothing.
TEST(OpenForm, FieldsThatDoNotParseAreRefusedByName) {
    std::vector<HduFacts> hdus = sampleFile();
    FileFacts file{hdus};
    OpenOptions base = opening(4);
    base.planes = {PlaneSelect::three, {1, 2, 3}};
    base.mapping.stretch = Stretch::mtf;
    base.mapping.interval = {IntervalKind::points, kDefaultPercent, 1.0, 2.0};
    base.mapping.midtone = 0.5;
    const ui::OpenFormValues shown = ui::openFormFrom(file, base);

    ui::OpenFormValues blanks = shown;
    blanks.black = FieldText("  1.5 ");
    ui::OpenFormReading spaced = ui::readOpenForm(blanks, file, base);
    ASSERT_TRUE(spaced.ok()) << spaced.message.view();
    EXPECT_EQ(spaced.options.mapping.interval.black, 1.5);

    struct Case {
        std::string field;
        FieldText ui::OpenFormValues::*text;
        std::size_t plane;  // for the plane fields
    };
    const std::vector<Case> cases = {
        {"first plane", nullptr, 0}, {"second plane", nullptr, 1}, {"third plane", nullptr, 2},
        {"black point", &ui::OpenFormValues::black, 0}, {"white point", &ui::OpenFormValues::white, 0},
        {"midtones", &ui::OpenFormValues::midtone, 0},
    };
    for (const Case& c : cases) {
        for (const char* text : {"", "x", "1,5", "nan"}) {
            SCOPED_TRACE(c.field + " = '" + text + "'");
            ui::OpenFormValues v = shown;
            (c.text != nullptr ? v.*c.text : v.plane[c.plane]) = FieldText(text);
            if (c.field == "midtones" && std::string(text).empty()) continue;  // empty: mtf finds its own
            ui::OpenFormReading r = ui::readOpenForm(v, file, base);
            EXPECT_FALSE(r.ok());
            EXPECT_EQ(std::string(r.message.view()).rfind(c.field + ": ", 0), 0u) << r.message.view();
            EXPECT_TRUE(r.options == base);
        }
    }
}

TEST(ImageList, ListsTheImagesThatCanBeOpened) {
    struct Case {
        std::string name;
        HduFacts facts;
        bool listed;
    };
    HduFacts line = hdu(HduKind::image, "LINE", 16, 1);
    const std::vector<Case> cases = {
        {"empty primary", hdu(HduKind::image, nullptr, 8, 0), false},
        {"image of one axis", line, false},
        {"2-D image", hdu(HduKind::image, "A", 16, 2), true},
        {"cube", hdu(HduKind::image, "B", -64, 3, 7), true},
        {"tile-compressed image", hdu(HduKind::compressedImage, "C", 32, 2), true},
        {"binary table", hdu(HduKind::binaryTable, "T", 8, 2), false},
        {"ASCII table", hdu(HduKind::asciiTable, "T", 8, 2), false},
        {"other extension", hdu(HduKind::other, "X", 8, 2), false},
    };
    std::vector<HduFacts> all;
    for (const Case& c : cases) {
        EXPECT_EQ(ui::isListedImage(c.facts), c.listed) << c.name;
        all.push_back(c.facts);
    }
    FileFacts file{all};
    ASSERT_EQ(ui::listedImageCount(file), 3u);
    // Rows run over the listed HDUs in file order and back.
    std::vector<uint32_t> rows;
    for (int32_t row = 0; auto hdu = ui::hduOfRow(file, row); ++row) rows.push_back(*hdu);
    EXPECT_EQ(rows, (std::vector<uint32_t>{2, 3, 4}));
    for (uint32_t i = 0; i < all.size(); ++i) {
        int32_t row = ui::rowOfHdu(file, i);
        EXPECT_EQ(row >= 0, cases[i].listed) << cases[i].name;
        if (row >= 0) {
            EXPECT_EQ(ui::hduOfRow(file, row), i);
        }
    }
    EXPECT_FALSE(ui::hduOfRow(file, -1));
    EXPECT_FALSE(ui::hduOfRow(file, 3));
}

// ---- The save form ------------------------------------------------------------------------

namespace {

SaveFacts document(uint8_t depth, std::optional<int16_t> keptBitpix) {
    SaveFacts d;
    d.columns = 800;
    d.rows = 600;
    d.depth = depth;
    d.keptBitpix = keptBitpix;
    d.keptHeader = keptBitpix.has_value();
    return d;
}

}  // namespace

TEST(SaveForm, ReadsBackTheOptionsItShows) {
    struct Case {
        std::string name;
        SaveFacts facts;
        SaveOptions options;
    };
    std::vector<Case> cases;
    cases.push_back({"defaults, new 8-bit document", document(8, std::nullopt), SaveOptions{}});
    {
        SaveOptions o;
        o.orientation = Orientation::sky;
        cases.push_back({"a new document the sky's way up", document(16, std::nullopt), o});
    }
    {
        SaveOptions o;
        o.compression = Compression::rice;
        o.tile = TileSize{16, 200};
        o.quantize = 4.0;
        o.floatBitpix = FloatBitpix::minus32;
        cases.push_back({"Rice, tile, quantize, BITPIX -32", document(32, int16_t{-64}), o});
    }
    {
        SaveOptions o;
        o.compression = Compression::gzip2;
        cases.push_back({"GZIP_2 of floats, kept exactly, automatic tile", document(32, int16_t{-32}), o});
    }
    {
        SaveOptions o;
        o.compression = Compression::hcompress;
        o.tile = TileSize{32, 32};
        cases.push_back({"HCOMPRESS of 16-bit samples", document(16, int16_t{16}), o});
    }
    {
        SaveOptions o;
        o.compression = Compression::gzip1;
        o.quantize = 0.0625;
        cases.push_back({"GZIP_1 of floats quantized", document(32, std::nullopt), o});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(resolve(c.options, c.facts).ok()) << resolve(c.options, c.facts).message.view();
        ui::SaveFormReading r = ui::readSaveForm(ui::saveFormFrom(c.options), c.facts, c.options);
        EXPECT_TRUE(r.ok()) << r.message.view();
        EXPECT_TRUE(r.options == canonical(c.options));
        // Started from the defaults, the same save.
        ui::SaveFormReading fresh = ui::readSaveForm(ui::saveFormFrom(c.options), c.facts, SaveOptions{});
        ASSERT_TRUE(fresh.ok()) << fresh.message.view();
        ResolvedSave want = resolve(c.options, c.facts).resolved;
        ResolvedSave got = resolve(fresh.options, c.facts).resolved;
        EXPECT_EQ(got.bitpix, want.bitpix);
        EXPECT_EQ(got.flipRows, want.flipRows);
        EXPECT_EQ(got.compression, want.compression);
        EXPECT_EQ(got.tileRows, want.tileRows);
        EXPECT_EQ(got.tileColumns, want.tileColumns);
        EXPECT_EQ(got.quantize, want.quantize);
    }
}

TEST(SaveForm, ATileNeedsBothSidesOrNeither) {
    SaveFacts facts = document(16, std::nullopt);
    SaveOptions rice;
    rice.compression = Compression::rice;
    ui::SaveFormValues v = ui::saveFormFrom(rice);
    for (auto [rows, columns, ok] : {std::tuple{"", "", true}, std::tuple{"16", "", false},
                                     std::tuple{"", "64", false}, std::tuple{" 16 ", "64", true},
                                     std::tuple{"16", "0", false}, std::tuple{"1.5", "64", false}}) {
        SCOPED_TRACE(std::string(rows) + " x " + columns);
        v.tileRows = FieldText(rows);
        v.tileColumns = FieldText(columns);
        ui::SaveFormReading r = ui::readSaveForm(v, facts, rice);
        EXPECT_EQ(r.ok(), ok) << r.message.view();
        if (!ok) {
            EXPECT_TRUE(r.options == rice);
        }
    }
}
