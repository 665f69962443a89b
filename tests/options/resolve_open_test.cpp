// Open options against file facts: the defaults open every file as it
// opened before there were options (the rules README.md states), explicit
// choices find the HDU and planes astropy would, and a resolved set opens
// the file the same way again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options/resolve_open.h"

using namespace nebulite::options;

namespace {

HduFacts image(int16_t bitpix, uint64_t naxis3 = 0, HduKind kind = HduKind::image) {
    HduFacts h;
    h.kind = kind;
    h.bitpix = bitpix;
    h.naxis = naxis3 == 0 ? 2 : 3;
    h.naxis1 = 64;
    h.naxis2 = 48;
    h.naxis3 = naxis3 == 0 ? 1 : naxis3;
    return h;
}

HduFacts named(HduFacts h, const char* name, int32_t extver = 1) {
    h.hasExtname = true;
    h.extname = ExtName(name);
    h.extver = extver;
    return h;
}

HduFacts emptyPrimary() {
    HduFacts h;
    h.bitpix = 8;
    return h;
}

HduFacts table(HduKind kind) {
    HduFacts h;
    h.kind = kind;
    h.bitpix = 8;
    h.naxis = 2;
    return h;
}

OpenResolution resolveOn(const OpenOptions& o, const std::vector<HduFacts>& hdus) { return resolve(o, FileFacts{hdus}); }

}  // namespace

TEST(ResolveOpen, DefaultsOpenAsEveryFileOpenedBefore) {
    HduFacts naxis1 = image(16);
    naxis1.naxis = 1;
    struct Case {
        std::string name;
        std::vector<HduFacts> hdus;
        uint32_t hdu;
        uint8_t planeCount;
        std::array<uint32_t, 3> planes;
        uint8_t depth;
    } cases[] = {
        {"16-bit primary", {image(16)}, 0, 1, {1, 0, 0}, 16},
        {"8-bit primary", {image(8)}, 0, 1, {1, 0, 0}, 8},
        {"32-bit integers", {image(32)}, 0, 1, {1, 0, 0}, 16},
        {"64-bit integers", {image(64)}, 0, 1, {1, 0, 0}, 16},
        {"floats", {image(-32)}, 0, 1, {1, 0, 0}, 16},
        {"doubles", {image(-64)}, 0, 1, {1, 0, 0}, 16},
        {"two planes: grey from the first", {image(16, 2)}, 0, 1, {1, 0, 0}, 16},
        {"three planes: RGB", {image(8, 3)}, 0, 3, {1, 2, 3}, 8},
        {"seven planes: RGB from the first three", {image(16, 7)}, 0, 3, {1, 2, 3}, 16},
        {"extension after a table", {emptyPrimary(), table(HduKind::binaryTable), image(-32)}, 2, 1, {1, 0, 0}, 16},
        {"extension of one axis skipped", {emptyPrimary(), naxis1, image(8)}, 2, 1, {1, 0, 0}, 8},
        {"compressed image", {emptyPrimary(), image(16, 0, HduKind::compressedImage)}, 1, 1, {1, 0, 0}, 16},
        {"primary of one axis: refused by the read", {naxis1, image(16)}, 0, 1, {1, 0, 0}, 16},
    };
    for (const Case& c : cases) {
        OpenResolution r = resolveOn(OpenOptions{}, c.hdus);
        ASSERT_TRUE(r.ok()) << c.name << ": " << r.message.view();
        EXPECT_EQ(r.resolved.hdu, c.hdu) << c.name;
        EXPECT_EQ(r.resolved.planeCount, c.planeCount) << c.name;
        EXPECT_EQ(r.resolved.documentPlanes, c.planeCount) << c.name;
        for (std::size_t i = 0; i < c.planeCount; ++i) EXPECT_EQ(r.resolved.planes[i], c.planes[i]) << c.name;
        EXPECT_EQ(r.resolved.depth, c.depth) << c.name;
        EXPECT_FALSE(r.resolved.flipRows) << c.name;
        EXPECT_EQ(r.resolved.mosaic, CfaPattern::none) << c.name;
        EXPECT_EQ(r.resolved.chosen.mapping.stretch, Stretch::range) << c.name;
    }
}

TEST(ResolveOpen, AFileWithoutAnImageIsLeftToTheReadToWord) {
    OpenResolution r = resolveOn(OpenOptions{}, {emptyPrimary(), table(HduKind::binaryTable)});
    EXPECT_EQ(r.problem, OpenProblem::noImage);
}

TEST(ResolveOpen, ImagesByNumberAndByName) {
    // astropy's hdul[name] and hdul[name, ver]: names compare in either case
    // and without trailing blanks; an HDU without EXTVER has EXTVER 1.
    const std::vector<HduFacts> hdus = {emptyPrimary(), named(image(16), "SCI"), named(image(16), "ERR"),
                                        named(image(-32), "SCI", 2), named(table(HduKind::binaryTable), "EVENTS")};
    auto byIndex = [](uint32_t i) {
        OpenOptions o;
        o.image = {ImageSelect::index, i, {}, {}};
        return o;
    };
    auto byName = [](const char* name, std::optional<int32_t> ver = {}) {
        OpenOptions o;
        o.image = {ImageSelect::name, 0, ExtName(name), ver};
        return o;
    };
    struct Case {
        OpenOptions options;
        uint32_t hdu;
        OpenProblem problem;
        std::string message;
    } cases[] = {
        {byIndex(1), 1, OpenProblem::none, ""},
        {byIndex(3), 3, OpenProblem::none, ""},
        {byIndex(5), 0, OpenProblem::noSuchHdu, "HDU 5 asked for, but the file holds HDUs 0 to 4"},
        {byIndex(4), 0, OpenProblem::notAnImage, "HDU 4 is a binary table, not an image"},
        {byIndex(0), 0, OpenProblem::notAnImage, "HDU 0 holds no image (NAXIS = 0)"},
        {byName("sci"), 1, OpenProblem::none, ""},
        {byName("SCI  "), 1, OpenProblem::none, ""},
        {byName("SCI", 2), 3, OpenProblem::none, ""},
        {byName("err", 1), 2, OpenProblem::none, ""},
        {byName("DQ"), 0, OpenProblem::noSuchHdu, "no HDU has EXTNAME 'DQ'"},
        {byName("SCI", 3), 0, OpenProblem::noSuchHdu, "no HDU has EXTNAME 'SCI' and EXTVER 3"},
        {byName("EVENTS"), 0, OpenProblem::notAnImage, "HDU 4 is a binary table, not an image"},
        {byName("   "), 0, OpenProblem::invalidOptions, "an image chosen by name needs an EXTNAME"},
    };
    for (const Case& c : cases) {
        OpenResolution r = resolveOn(c.options, hdus);
        EXPECT_EQ(r.problem, c.problem) << c.message;
        EXPECT_EQ(r.message.view(), c.message);
        if (r.ok()) {
            EXPECT_EQ(r.resolved.hdu, c.hdu) << c.options.image.extname.view();
        }
    }
}

TEST(ResolveOpen, PlanesCountFromOneAsNaxis3Does) {
    auto planes = [](PlaneSelect s, std::array<uint32_t, 3> p) {
        OpenOptions o;
        o.planes = {s, p};
        return o;
    };
    struct Case {
        OpenOptions options;
        HduFacts hdu;
        std::array<uint32_t, 3> expected;
        std::string message;
    } cases[] = {
        {planes(PlaneSelect::one, {2, 0, 0}), image(16, 3), {2, 0, 0}, ""},
        {planes(PlaneSelect::three, {3, 1, 2}), image(16, 3), {3, 1, 2}, ""},
        {planes(PlaneSelect::one, {7, 0, 0}), image(16, 3), {}, "plane 7 of a 3-plane cube"},
        {planes(PlaneSelect::three, {1, 2, 4}), image(16, 3), {}, "plane 4 of a 3-plane cube"},
        {planes(PlaneSelect::one, {2, 0, 0}), image(16), {}, "plane 2 of an image of one plane"},
        {planes(PlaneSelect::one, {0, 0, 0}), image(16), {}, "planes are counted from 1: there is no plane 0"},
    };
    for (const Case& c : cases) {
        OpenResolution r = resolveOn(c.options, {c.hdu});
        EXPECT_EQ(r.message.view(), c.message);
        if (r.ok()) {
            EXPECT_EQ(r.resolved.planes, c.expected);
        }
    }
}

TEST(ResolveOpen, SkyOrientationTurnsRowsOverUnlessTheFileIsTopDown) {
    for (Orientation o : {Orientation::stored, Orientation::sky}) {
        for (RowOrder order : {RowOrder::unknown, RowOrder::topDown, RowOrder::bottomUp}) {
            HduFacts h = image(16);
            h.rowOrder = order;
            OpenOptions options;
            options.orientation = o;
            OpenResolution r = resolveOn(options, {h});
            ASSERT_TRUE(r.ok());
            EXPECT_EQ(r.resolved.flipRows, o == Orientation::sky && order != RowOrder::topDown);
        }
    }
}

namespace {

// The colour a sensor of pattern `p` gives the pixel in stored row `row`,
// column `column`: the header's pattern holds for the readout's rows, XBAYROFF
// and YBAYROFF move the image over it, and a bottom-up file stores the
// readout's last row first.
char colourAt(CfaPattern p, int64_t xOffset, int64_t yOffset, bool bottomUp, uint64_t rows, uint64_t row,
              uint64_t column) {
    std::string_view name = cfaPatternName(p);
    uint64_t readoutRow = bottomUp ? rows - 1 - row : row;
    auto parity = [](int64_t v) { return static_cast<std::size_t>(((v % 2) + 2) % 2); };
    return name[2 * parity(static_cast<int64_t>(readoutRow) + yOffset) + parity(static_cast<int64_t>(column) + xOffset)];
}

}  // namespace

TEST(ResolveOpen, MosaicPatternLandsWhereTheSensorPutsIt) {
    for (CfaPattern p : {CfaPattern::rggb, CfaPattern::bggr, CfaPattern::grbg, CfaPattern::gbrg}) {
        for (int64_t x : {0, 1, 3, -1}) {
            for (int64_t y : {0, 1, 2}) {
                for (RowOrder order : {RowOrder::unknown, RowOrder::topDown, RowOrder::bottomUp}) {
                    for (uint64_t rows : {4, 5}) {
                        HduFacts h = image(16);
                        h.naxis2 = rows;
                        h.bayer = p;
                        h.xBayerOffset = x;
                        h.yBayerOffset = y;
                        h.rowOrder = order;
                        OpenOptions o;
                        o.debayer = Debayer::automatic;
                        OpenResolution r = resolveOn(o, {h});
                        ASSERT_TRUE(r.ok());
                        bool up = order == RowOrder::bottomUp;
                        std::string expected = {colourAt(p, x, y, up, rows, 0, 0), colourAt(p, x, y, up, rows, 0, 1),
                                                colourAt(p, x, y, up, rows, 1, 0), colourAt(p, x, y, up, rows, 1, 1)};
                        EXPECT_EQ(cfaPatternName(r.resolved.mosaic), expected)
                            << cfaPatternName(p) << " x " << x << " y " << y << " rows " << rows;
                        EXPECT_EQ(r.resolved.documentPlanes, 3);
                        EXPECT_EQ(r.resolved.chosen.debayer, debayerFor(p));
                    }
                }
            }
        }
    }
}

TEST(ResolveOpen, DemosaicingWantsOnePlane) {
    HduFacts cube = image(16, 3);
    cube.bayer = CfaPattern::rggb;
    OpenOptions automatic;
    automatic.debayer = Debayer::automatic;
    // A cube that still carries BAYERPAT was demosaiced already.
    OpenResolution r = resolveOn(automatic, {cube});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.resolved.chosen.debayer, Debayer::off);
    EXPECT_EQ(r.resolved.documentPlanes, 3);

    OpenOptions named;
    named.debayer = Debayer::grbg;
    r = resolveOn(named, {cube});
    EXPECT_EQ(r.problem, OpenProblem::mosaic);
    EXPECT_EQ(r.message.view(), "demosaicing makes colour from one plane, but HDU 0 opens as 3 planes: choose one");
    named.planes = {PlaneSelect::one, {2, 0, 0}};
    r = resolveOn(named, {cube});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.resolved.mosaic, CfaPattern::grbg);

    OpenOptions noPattern;
    noPattern.debayer = Debayer::automatic;
    r = resolveOn(noPattern, {image(16)});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.resolved.chosen.debayer, Debayer::off);
    EXPECT_EQ(r.resolved.documentPlanes, 1);
}

TEST(ResolveOpen, StretchesNeedAnIntegerDocumentAndSoundPoints) {
    auto stretched = [](Stretch s, IntervalChoice i, Depth d = Depth::automatic) {
        OpenOptions o;
        o.mapping = {s, i, {}};
        o.depth = d;
        return o;
    };
    struct Case {
        OpenOptions options;
        std::string message;
        IntervalKind resolvedKind;
    } cases[] = {
        {stretched(Stretch::asinh, {}), "", IntervalKind::percent},
        {stretched(Stretch::mtf, {}), "", IntervalKind::minmax},
        {stretched(Stretch::log, {IntervalKind::zscale}), "", IntervalKind::zscale},
        {stretched(Stretch::sqrt, {}, Depth::bits32), "a stretch maps samples into 8- and 16-bit documents, not 32-bit ones",
         IntervalKind::automatic},
        {stretched(Stretch::linear, {IntervalKind::percent, 0.0}), "central percentage 0 is not above 0 and at most 100",
         IntervalKind::automatic},
        {stretched(Stretch::linear, {IntervalKind::points, 99.5, 5.0, 3.0}), "black point 5 is not below white point 3",
         IntervalKind::automatic},
        {stretched(Stretch::linear, {IntervalKind::points, 99.5, 5.0, {}}),
         "explicit points need both a black and a white point", IntervalKind::automatic},
        // The range stretch takes no interval: whatever is left in it is not read.
        {stretched(Stretch::range, {IntervalKind::points, -1.0, 5.0, 3.0}, Depth::bits32), "", IntervalKind::automatic},
    };
    for (const Case& c : cases) {
        OpenResolution r = resolveOn(c.options, {image(-32)});
        EXPECT_EQ(r.message.view(), c.message);
        if (r.ok()) {
            EXPECT_EQ(r.resolved.chosen.mapping.interval.kind, c.resolvedKind) << c.message;
        }
    }
}

TEST(ResolveOpen, ResolvedOptionsOpenTheFileTheSameWayAgain) {
    HduFacts cube = named(image(16, 4), "SCI");
    cube.bayer = CfaPattern::bggr;
    cube.rowOrder = RowOrder::bottomUp;
    const std::vector<HduFacts> hdus = {emptyPrimary(), named(image(8), "THUMB"), cube};
    std::vector<OpenOptions> choices;
    for (ImageChoice image : {ImageChoice{}, ImageChoice{ImageSelect::index, 2, {}, {}},
                              ImageChoice{ImageSelect::name, 0, ExtName("sci"), {}}}) {
        for (PlaneChoice planes : {PlaneChoice{}, PlaneChoice{PlaneSelect::one, {3, 0, 0}}}) {
            for (Debayer d : {Debayer::off, Debayer::automatic, Debayer::rggb}) {
                for (Stretch s : {Stretch::range, Stretch::asinh, Stretch::mtf}) {
                    OpenOptions o;
                    o.image = image;
                    o.planes = planes;
                    o.debayer = d;
                    o.orientation = Orientation::sky;
                    o.mapping.stretch = s;
                    choices.push_back(o);
                }
            }
        }
    }
    int resolved = 0;
    for (const OpenOptions& o : choices) {
        OpenResolution first = resolveOn(o, hdus);
        if (!first.ok()) continue;
        ++resolved;
        OpenResolution again = resolveOn(first.resolved.chosen, hdus);
        ASSERT_TRUE(again.ok()) << again.message.view();
        EXPECT_EQ(again.resolved.chosen, first.resolved.chosen);
        EXPECT_EQ(again.resolved.hdu, first.resolved.hdu);
        EXPECT_EQ(again.resolved.planes, first.resolved.planes);
        EXPECT_EQ(again.resolved.documentPlanes, first.resolved.documentPlanes);
        EXPECT_EQ(again.resolved.flipRows, first.resolved.flipRows);
        EXPECT_EQ(again.resolved.mosaic, first.resolved.mosaic);
        EXPECT_EQ(again.resolved.depth, first.resolved.depth);
    }
    // Refused: plane 3 of the one-plane thumbnail the automatic choice finds
    // (9 sets), and a named pattern over the cube's automatic three planes (6).
    EXPECT_EQ(resolved, 54 - 9 - 6);
}

TEST(ResolveOpen, MeasuredPointsReplaceTheIntervalThatFoundThem) {
    OpenOptions o;
    o.mapping = {Stretch::mtf, {IntervalKind::zscale}, {}};
    OpenResolution r = resolveOn(o, {image(-32)});
    ASSERT_TRUE(r.ok());
    recordMappingPoints(r.resolved, -3.5, 1200.25, 0.125);
    const MappingChoice& m = r.resolved.chosen.mapping;
    EXPECT_EQ(m.interval.kind, IntervalKind::points);
    EXPECT_EQ(m.interval.black, -3.5);
    EXPECT_EQ(m.interval.white, 1200.25);
    EXPECT_EQ(m.midtone, 0.125);
    OpenResolution again = resolveOn(r.resolved.chosen, {image(-32)});
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.resolved.chosen.mapping, m);

    // An image of one value has no points to record: the interval stays.
    OpenResolution flat = resolveOn(o, {image(-32)});
    recordMappingPoints(flat.resolved, 7.0, 7.0, 0.5);
    EXPECT_EQ(flat.resolved.chosen.mapping.interval.kind, IntervalKind::zscale);
}
