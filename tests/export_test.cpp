// Saving FITS files through the reference host: synthesised and kept
// headers, the samples and the block fill, the estimate, and failures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/module_state.h"
#include "fits_fixture.h"
#include "module_host.h"

using namespace testing_host;

namespace {

// The 'hist' record a card becomes when a file is opened.
ResourceRecord recordFromCard(const std::string& card) {
    auto length = static_cast<unsigned char>(card[0]);
    ResourceRecord r(length, 0);
    for (size_t k = 0; k < length && k < 79; ++k) r[k] = static_cast<uint8_t>(card[k + 1]);
    return r;
}

// A document whose kept header is `cards`, END and blank cards to whole blocks.
Document withHeader(Document d, std::vector<std::string> cards) {
    cards.push_back(fixture::card("END"));
    while (cards.size() % 36 != 0) cards.push_back(fixture::card(""));
    for (const std::string& c : cards) d.resources[kHistoryResource].push_back(recordFromCard(fixture::card(c)));
    return d;
}

std::vector<std::string> headerCards(const std::vector<uint8_t>& file) {
    std::vector<std::string> cards;
    for (size_t q = 0; q + 80 <= file.size(); q += 80) {
        cards.emplace_back(file.begin() + q, file.begin() + q + 80);
        if (cards.back().substr(0, 8) == "END     ") break;
    }
    return cards;
}

size_t headerBytes(const std::vector<uint8_t>& file) {
    return (headerCards(file).size() * 80 + 2879) / 2880 * 2880;
}

const std::string* findCard(const std::vector<std::string>& cards, const std::string& keyword) {
    std::string k = fixture::card(keyword).substr(0, 8);
    for (const std::string& c : cards)
        if (c.substr(0, 8) == k) return &c;
    return nullptr;
}

std::string value(const std::vector<std::string>& cards, const std::string& keyword) {
    const std::string* c = findCard(cards, keyword);
    if (c == nullptr) return "<missing>";
    std::string v = c->substr(10, 20);
    size_t first = v.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return v.substr(first, v.find_last_not_of(' ') - first + 1);
}

struct Saved {
    Outcome outcome;
    std::vector<uint8_t> bytes;
};

Saved save(Document document, Setup setup = {}, std::function<void(Host&, File&)> prepare = {}) {
    Host host(&ENTRYPOINT, setup);
    File file = File::memory();
    if (prepare) prepare(host, file);
    Saved s;
    s.outcome = host.save(document, file);
    s.bytes = file.contents();
    return s;
}


const std::vector<std::string> kRgbHeader = {
    "SIMPLE  =                    T / conforms",
    "BITPIX  =                    8 / bits",
    "NAXIS   =                    3 / axes",
    "NAXIS1  =                    4",
    "NAXIS2  =                    3",
    "NAXIS3  =                    3 / planes",
    "OBJECT  = 'M42     '",
};

}  // namespace

TEST(SynthesizedHeader, GreyEightBit) {
    Saved s = save(patternDocument(480, 640, 1, 8, plugInModeGrayScale));
    ASSERT_TRUE(s.outcome.ok());
    std::vector<std::string> cards = headerCards(s.bytes);
    const std::vector<std::string> expected = {
        "SIMPLE  =                    T", "BITPIX  =                    8", "NAXIS   =                    2",
        "NAXIS1  =                  640", "NAXIS2  =                  480", "BZERO   =                  0.0",
        "BSCALE  =                  1.0",
    };
    ASSERT_EQ(cards.size(), 9u);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(cards[i], fixture::card(expected[i]));
    EXPECT_EQ(cards[7].substr(0, 28), "NEBULITE= 'Photoshop Plugin ");
    EXPECT_EQ(cards[7][79], '\'');
    EXPECT_EQ(cards[8], fixture::card("END"));
    for (size_t q = 9 * 80; q < 2880; ++q) ASSERT_EQ(s.bytes[q], ' ');
}

TEST(SynthesizedHeader, ModesDepthsAndWidths) {
    struct Case {
        int16_t mode;
        int planes, depth, columns;
        const char* naxis;
        const char* naxis3;
        const char* bzero;
    } cases[] = {
        {plugInModeRGBColor, 3, 16, 5, "3", "3", "32768.0"},
        {plugInModeGray16, 1, 16, 5, "2", "<missing>", "32768.0"},
        {plugInModeGrayScale, 1, 8, 1, "2", "<missing>", "0.0"},
        {plugInModeGrayScale, 1, 8, 30000, "2", "<missing>", "0.0"},
        {plugInModeRGBColor, 4, 8, 3, "3", "3", "0.0"},       // alpha is not written
        {plugInModeCMYKColor, 4, 8, 3, "3", "4", "0.0"},
        {plugInModeMultichannel, 2, 8, 3, "3", "2", "0.0"},
        {plugInModeIndexedColor, 1, 8, 3, "2", "<missing>", "0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " x" + std::to_string(c.planes) + " width " + std::to_string(c.columns));
        Saved s = save(patternDocument(2, c.columns, c.planes, c.depth, c.mode));
        ASSERT_TRUE(s.outcome.ok());
        std::vector<std::string> cards = headerCards(s.bytes);
        EXPECT_EQ(value(cards, "NAXIS"), c.naxis);
        EXPECT_EQ(value(cards, "NAXIS3"), c.naxis3);
        EXPECT_EQ(value(cards, "BZERO"), c.bzero);
        EXPECT_EQ(value(cards, "BITPIX"), std::to_string(c.depth));
        EXPECT_EQ(value(cards, "NAXIS1"), std::to_string(c.columns));
        EXPECT_EQ(findCard(cards, "NAXIS1")->find_last_not_of(' '), 29u);
        int written = std::stoi(value(cards, "NAXIS") == "3" ? value(cards, "NAXIS3") : "1");
        EXPECT_EQ(s.bytes.size(), (2880 + 2 * c.columns * written * c.depth / 8 + 2879) / 2880 * 2880);
    }
}

TEST(FileLayout, DataAndFill) {
    struct Case {
        int rows, columns, planes, depth;
        int16_t mode;
        size_t length;
    } cases[] = {
        {100, 100, 1, 8, plugInModeGrayScale, 14400},
        {1, 2880, 1, 8, plugInModeGrayScale, 5760},
        {100, 100, 3, 8, plugInModeRGBColor, 34560},
        {480, 640, 1, 16, plugInModeGray16, 619200},
    };
    for (const Case& c : cases) {
        Document d = patternDocument(c.rows, c.columns, c.planes, c.depth, c.mode);
        Saved s = save(d);
        ASSERT_TRUE(s.outcome.ok());
        ASSERT_EQ(s.bytes.size(), c.length);
        size_t bytesPerSample = static_cast<size_t>(c.depth / 8);
        size_t data = static_cast<size_t>(c.rows * c.columns * c.planes) * bytesPerSample;
        for (size_t i = 2880 + data; i < s.bytes.size(); ++i) ASSERT_EQ(s.bytes[i], 0) << i;
        // Plane after plane, row after row, big-endian.
        for (int p = 0; p < c.planes; ++p)
            for (int r = 0; r < c.rows; r += 37)
                for (int col = 0; col < c.columns; col += 53) {
                    size_t at = 2880 + d.image.index(p, r, col) * bytesPerSample;
                    uint32_t h = d.image.sample(p, r, col);
                    if (c.depth == 8) {
                        ASSERT_EQ(s.bytes[at], h);
                    } else {
                        int stored = static_cast<int16_t>(s.bytes[at] << 8 | s.bytes[at + 1]);
                        ASSERT_EQ(stored, std::min<int>(2 * static_cast<int>(h) - 32768, 32767));
                    }
                }
        ASSERT_EQ(s.outcome.progress.size(), static_cast<size_t>(c.rows * c.planes));
        EXPECT_EQ(s.outcome.progress.back().done, c.rows * c.planes);
        EXPECT_EQ(s.outcome.progress.back().total, c.rows * c.planes);
    }
}

TEST(FileLayout, SixteenBitByteValues) {
    Document d = patternDocument(1, 4, 1, 16, plugInModeGray16);
    d.image.setSample(0, 0, 0, 0);
    d.image.setSample(0, 0, 1, 16384);
    d.image.setSample(0, 0, 2, 32768);
    d.image.setSample(0, 0, 3, 100);
    // A kept header without BZERO gets one: the samples are still signed with offset.
    for (const Document& doc : {d, withHeader(d, {"SIMPLE  =                    T", "BITPIX  =                   16",
                                                  "NAXIS   =                    2", "NAXIS1  =                    4",
                                                  "NAXIS2  =                    1"})}) {
        Saved s = save(doc);
        ASSERT_TRUE(s.outcome.ok());
        size_t at = headerBytes(s.bytes);
        const uint8_t expected[] = {0x80, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0x80, 0xC8};
        for (size_t i = 0; i < 8; ++i) EXPECT_EQ(s.bytes[at + i], expected[i]) << i;
        EXPECT_EQ(value(headerCards(s.bytes), "BZERO"), "32768.0");
    }
}

TEST(Estimate, SizeFromImageAndLastHeaderLength) {
    Host host(&ENTRYPOINT);
    Document d = patternDocument(100, 100, 3, 8, plugInModeRGBColor);
    Outcome outcome = host.estimate(d);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.minDataBytes, 32880);
    EXPECT_EQ(outcome.maxDataBytes, 32880);
    EXPECT_EQ(module_state::peekHeaderLength(host), 2880u);
    // RGB with an alpha plane: the alpha plane is not in the file.
    Document rgba = patternDocument(100, 100, 4, 8, plugInModeRGBColor);
    EXPECT_EQ(host.estimate(rgba).minDataBytes, 32880);
}

// A 32-bit document goes back to its file's BITPIX: the estimate counts the
// bytes a sample of that BITPIX takes (a float64 file's document writes 8,
// not the document's 4), and the file written holds exactly that many.
TEST(Estimate, ThirtyTwoBitDocumentsAtTheBitpixTheySaveTo) {
    struct Case {
        int bitpix;
        bool unsignedZero;
        size_t perSample;
    } cases[] = {{8, false, 1}, {16, true, 2}, {32, false, 4}, {64, false, 8}, {-32, false, 4}, {-64, false, 8}};
    constexpr size_t kSamples = 30 * 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bitpix);
        fixture::Fits f = fixture::image(c.bitpix, {30, 20});
        if (c.unsignedZero) f.add("BZERO   =                32768");
        f.data.assign(kSamples * static_cast<size_t>(c.bitpix < 0 ? -c.bitpix : c.bitpix) / 8, 0x3F);
        Host reader(&ENTRYPOINT);
        reader.setup().script.playInfo = plugInDialogSilent;
        reader.setup().script.descriptor.items = {
            DescriptorItem::ofEnumerated(fourCharCode("nbDp"), fourCharCode("nbTD"), fourCharCode("nb32"))};
        File in = File::memory(f.bytes());
        ASSERT_TRUE(reader.read(in).ok());
        Document d = reader.takeDocument();
        ASSERT_EQ(d.image.depth, 32);
        Host host(&ENTRYPOINT);
        Outcome estimate = host.estimate(d);
        ASSERT_TRUE(estimate.ok());
        EXPECT_EQ(estimate.minDataBytes, static_cast<int32_t>(2880 + kSamples * c.perSample));
        EXPECT_EQ(estimate.maxDataBytes, estimate.minDataBytes);
        Saved s = save(d);
        ASSERT_TRUE(s.outcome.ok());
        EXPECT_EQ(value(headerCards(s.bytes), "BITPIX"), std::to_string(c.bitpix));
        EXPECT_EQ(s.bytes.size() - headerBytes(s.bytes), (kSamples * c.perSample + 2879) / 2880 * 2880);
    }
}

TEST(HeaderRewrite, KeptHeaderBroughtUpToDate) {
    struct Case {
        const char* name;
        int planes, depth;
        int16_t mode;
        std::vector<std::string> extra;
        std::vector<std::pair<std::string, std::string>> expect;  // keyword -> value, "<missing>"
    } cases[] = {
        {"RGB saved as grey", 1, 8, plugInModeGrayScale, {},
         {{"NAXIS", "2"}, {"NAXIS3", "<missing>"}, {"BITPIX", "8"}, {"NAXIS1", "4"}, {"NAXIS2", "3"}}},
        {"RGB saved as RGB", 3, 8, plugInModeRGBColor, {}, {{"NAXIS", "3"}, {"NAXIS3", "3"}}},
        {"RGB saved at 16 bits", 3, 16, plugInModeRGBColor, {}, {{"BITPIX", "16"}, {"BZERO", "32768.0"}}},
        {"BZERO at depth 8", 1, 8, plugInModeGrayScale, {"BZERO   =              32768.0 / offset"},
         {{"BZERO", "0.0"}}},
        {"BZERO at depth 16", 1, 16, plugInModeGray16, {"BZERO   =                  0.0 / offset"},
         {{"BZERO", "32768.0"}}},
        {"BSCALE", 1, 8, plugInModeGrayScale, {"BSCALE  =                  2.0 / scale"}, {{"BSCALE", "1.0"}}},
        {"range keywords at 8", 1, 8, plugInModeGrayScale,
         {"DATAMAX =                 12.0", "DATAMIN =                  3.0", "RANGE   =                  9.0",
          "BACKGRND=                  4.0", "CWHITE  =                  5.0", "CBLACK  =                  6.0",
          "AVISUMAX=                  7.0", "AVISUMIN=                  8.0"},
         {{"DATAMAX", "255.0"}, {"DATAMIN", "0.0"}, {"RANGE", "255.0"}, {"BACKGRND", "0.0"},
          {"CWHITE", "255.0"}, {"CBLACK", "0.0"}, {"AVISUMAX", "255.0"}, {"AVISUMIN", "0.0"}}},
        {"range keywords at 16", 1, 16, plugInModeGray16,
         {"DATAMAX =                 12.0", "RANGE   =                  9.0", "CWHITE  =                  5.0",
          "AVISUMAX=                  7.0"},
         {{"DATAMAX", "65535.0"}, {"RANGE", "65535.0"}, {"CWHITE", "65535.0"}, {"AVISUMAX", "65535.0"}}},
        {"BZERO2 is taken for BZERO", 1, 16, plugInModeGray16, {"BZERO2  =                  5.0"},
         {{"BZERO2", "32768.0"}, {"BZERO", "32768.0"}}},
        {"NAXIS5 stays", 1, 8, plugInModeGrayScale, {"NAXIS5  =                    1"}, {{"NAXIS5", "1"}}},
        {"cube of 30 planes saved as RGB", 3, 8, plugInModeRGBColor, {}, {{"NAXIS3", "3"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> cards = kRgbHeader;
        if (std::string(c.name).find("cube") != std::string::npos) cards[5] = "NAXIS3  =                   30 / planes";
        cards.insert(cards.end(), c.extra.begin(), c.extra.end());
        Document d = withHeader(patternDocument(3, 4, c.planes, c.depth, c.mode), cards);
        Saved s = save(d);
        ASSERT_TRUE(s.outcome.ok());
        std::vector<std::string> out = headerCards(s.bytes);
        for (const auto& [keyword, expected] : c.expect) EXPECT_EQ(value(out, keyword), expected) << keyword;
        EXPECT_EQ(value(out, "OBJECT"), "'M42     '");
        if (c.mode == plugInModeGrayScale && c.planes == 1) {
            EXPECT_NE(std::find(out.begin(), out.end(),
                                fixture::card("COMMENT = NAXIS3 Removal by Nebulite. Plane removed.")),
                      out.end());
        }
    }
}

TEST(HeaderRewrite, StaleCardsBecomeComments) {
    std::vector<std::string> cards = {
        "SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    4",
        "NAXIS1  =                    4", "NAXIS2  =                    3", "NAXIS3  =                    1",
        "NAXIS4  =                    1", "CHECKSUM= 'hcHjjc9ghcEghc9g'",   "DATASUM = '1234'",
        "BLANK   =                 -999",
    };
    Saved s = save(withHeader(patternDocument(3, 4, 1, 8, plugInModeGrayScale), cards));
    ASSERT_TRUE(s.outcome.ok());
    std::vector<std::string> out = headerCards(s.bytes);
    auto has = [&](const std::string& text) { return std::find(out.begin(), out.end(), fixture::card(text)) != out.end(); };
    EXPECT_TRUE(has("COMMENT = NAXIS4 Removal by Nebulite. Plane removed."));
    EXPECT_TRUE(has("COMMENT = NAXIS3 Removal by Nebulite. Plane removed."));
    EXPECT_EQ(findCard(out, "CHECKSUM"), nullptr);
    EXPECT_EQ(findCard(out, "DATASUM"), nullptr);
    EXPECT_EQ(findCard(out, "BLANK"), nullptr);  // -999 does not fit 8-bit samples
    EXPECT_EQ(value(out, "NAXIS"), "2");
}

TEST(HeaderRewrite, ColourWithoutNaxis3GetsOneAfterNaxis2) {
    std::vector<std::string> cards = {"SIMPLE  =                    T", "BITPIX  =                    8",
                                      "NAXIS   =                    2", "NAXIS1  =                    4",
                                      "NAXIS2  =                    3", "OBJECT  = 'x'"};
    Saved s = save(withHeader(patternDocument(3, 4, 3, 8, plugInModeRGBColor), cards));
    ASSERT_TRUE(s.outcome.ok());
    std::vector<std::string> out = headerCards(s.bytes);
    ASSERT_GE(out.size(), 7u);
    EXPECT_EQ(out[5], fixture::card("NAXIS3  =                    3"));
    EXPECT_EQ(out[6].substr(0, 8), "OBJECT  ");
    EXPECT_EQ(value(out, "NAXIS"), "3");
}

// A 32-bit document's range cards get the range of the values written over
// their own places: after a card that goes in before them (NAXIS3 for a
// colour image whose kept header has none), and nowhere when the records
// start no header (the save writes a header of its own, without them).
TEST(HeaderRewrite, RangeCardsOfA32BitSaveLandOnTheirOwnCards) {
    Document d;
    d.image.rows = 3;
    d.image.columns = 4;
    d.image.planes = 3;
    d.image.depth = 32;
    d.image.mode = plugInModeRGBColor;
    d.image.allocate();
    for (int p = 0, i = 0; p < 3; ++p)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c, ++i) d.image.setRealSample(p, r, c, static_cast<float>(i) * 0.5f - 1.0f);
    const std::vector<std::string> after = {"BSCALE  =                  1.0", "DATAMIN =                  0.0",
                                            "DATAMAX =                  1.0", "OBJECT  = 'x'"};
    struct Case {
        const char* name;
        const char* first;
        bool kept;
    } cases[] = {
        {"colour, kept header without NAXIS3", "SIMPLE  =                    T", true},
        {"records that start no header", "XIMPLE  =                    T", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> cards = {c.first, "BITPIX  =                  -32", "NAXIS   =                    2",
                                          "NAXIS1  =                    4", "NAXIS2  =                    3"};
        cards.insert(cards.end(), after.begin(), after.end());
        Saved s = save(withHeader(d, cards));
        ASSERT_TRUE(s.outcome.ok()) << s.outcome.result;
        const std::vector<std::string> out = headerCards(s.bytes);
        ASSERT_EQ(s.bytes.size(), headerBytes(s.bytes) + 2880u) << "the file is not its header and one block of data";
        // Every sample as it was, big-endian floats after the header.
        for (size_t i = 0; i < 36; ++i) {
            const uint8_t* b = s.bytes.data() + headerBytes(s.bytes) + 4 * i;
            const uint32_t bits = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
            float v = 0;
            std::memcpy(&v, &bits, 4);
            ASSERT_EQ(v, static_cast<float>(i) * 0.5f - 1.0f) << "sample " << i;
        }
        if (!c.kept) {
            // The header the same document gets without any records.
            EXPECT_EQ(out, headerCards(save(d).bytes));
            continue;
        }
        ASSERT_GE(out.size(), 11u);
        EXPECT_EQ(out[5], fixture::card("NAXIS3  =                    3"));
        EXPECT_EQ(out[6], fixture::card(after[0]));
        EXPECT_EQ(std::stod(value(out, "DATAMIN")), -1.0);
        EXPECT_EQ(std::stod(value(out, "DATAMAX")), 16.5);
        EXPECT_EQ(out[9], fixture::card(after[3]));
        EXPECT_EQ(out[10], fixture::card("END"));
    }
}

TEST(HeaderRewrite, BzeroCardGrowsAFullHeaderByABlock) {
    std::vector<std::string> cards = {"SIMPLE  =                    T", "BITPIX  =                   16",
                                      "NAXIS   =                    2", "NAXIS1  =                    4",
                                      "NAXIS2  =                    3"};
    while (cards.size() < 35) cards.push_back("HISTORY filler");
    Saved s = save(withHeader(patternDocument(3, 4, 1, 16, plugInModeGray16), cards));
    ASSERT_TRUE(s.outcome.ok());
    std::vector<std::string> out = headerCards(s.bytes);
    ASSERT_EQ(out.size(), 37u);
    EXPECT_EQ(out[35], fixture::card("BZERO   =              32768.0"));
    EXPECT_EQ(headerBytes(s.bytes), 5760u);
    EXPECT_EQ(s.bytes.size(), 5760u + 2880u);
}

TEST(HeaderRebuild, RecordCountsAndSizes) {
    struct Case {
        const char* name;
        size_t records;
        bool sizeKeywords;
        size_t header;
    } cases[] = {
        {"37 records", 37, true, 5760},
        {"72 records", 72, true, 5760},
        {"no size keywords, 40 records", 40, false, 5760},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Document d = patternDocument(3, 4, 1, 8, plugInModeGrayScale);
        std::vector<std::string> cards;
        if (c.sizeKeywords)
            cards = {"SIMPLE  =                    T", "BITPIX  =                    8", "NAXIS   =                    2",
                     "NAXIS1  =                    4", "NAXIS2  =                    3"};
        else
            cards = {"SIMPLE  =                    T"};
        while (cards.size() + 1 < c.records) cards.push_back("HISTORY " + std::to_string(cards.size()));
        cards.push_back("END");
        for (const std::string& card : cards) d.resources[kHistoryResource].push_back(recordFromCard(fixture::card(card)));
        Saved s = save(d);
        ASSERT_TRUE(s.outcome.ok());
        EXPECT_EQ(headerBytes(s.bytes), c.header);
        std::vector<std::string> out = headerCards(s.bytes);
        EXPECT_EQ(out.size(), c.records);
        for (size_t i = out.size() * 80; i < c.header; ++i) ASSERT_EQ(s.bytes[i], ' ');
    }
}

TEST(HeaderRebuild, LongRecordsAndNoRecords) {
    Document d = patternDocument(3, 4, 1, 8, plugInModeGrayScale);
    std::vector<std::string> cards = {"SIMPLE  =                    T", "BITPIX  =                    8",
                                      "NAXIS   =                    2", "NAXIS1  =                    4",
                                      "NAXIS2  =                    3"};
    for (const auto& c : cards) d.resources[kHistoryResource].push_back(recordFromCard(fixture::card(c)));
    d.resources[kHistoryResource].push_back(ResourceRecord(255, 'z'));
    d.resources[kHistoryResource].push_back(recordFromCard(fixture::card("END")));
    Saved s = save(d);
    ASSERT_TRUE(s.outcome.ok());
    std::vector<std::string> out = headerCards(s.bytes);
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(static_cast<unsigned char>(out[5][0]), 254);
    EXPECT_EQ(out[5].substr(1), std::string(79, 'z'));

    // Without records the header is made anew.
    Saved fresh = save(patternDocument(3, 4, 1, 8, plugInModeGrayScale));
    ASSERT_TRUE(fresh.outcome.ok());
    EXPECT_EQ(headerCards(fresh.bytes)[7].substr(0, 8), "NEBULITE");
}

TEST(WriteFailures, WhatReachesTheFile) {
    struct Case {
        const char* name;
        std::function<void(Host&, File&)> fault;
        OSErr result;
        size_t length;  // of the file afterwards
    } cases[] = {
        {"advanceState fails at the first row of plane 1",
         [](Host& h, File&) {
             h.faults().advanceState = Trigger::nth(3);
             h.faults().advanceStateCode = -1;
         },
         -1, 2880 + 3 * 4},
        {"disk full in the header", [](Host&, File& f) { f.capacity(100); }, writErr, 100},
        {"disk full in a row", [](Host&, File& f) { f.capacity(2880 + 6); }, writErr, 2880 + 6},
        {"disk full in the fill", [](Host&, File& f) { f.capacity(2880 + 36 + 10); }, writErr, 2880 + 36 + 10},
        {"no row buffer", [](Host& h, File&) { h.faults().bufferAllocate = Trigger::always(); }, memFullErr, 2880},
        {"no header text", [](Host& h, File&) { h.faults().moduleAllocation[nebuliteAllocCardBuffer] = Trigger::always(); },
         memFullErr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Saved s = save(patternDocument(3, 4, 3, 8, plugInModeRGBColor), {}, c.fault);
        EXPECT_EQ(s.outcome.result, c.result);
        EXPECT_EQ(s.bytes.size(), c.length);
        EXPECT_TRUE(s.outcome.leaks.empty());
    }
}

TEST(WriteFailures, BitmapIsRefusedBeforeAnythingIsWritten) {
    Document d = patternDocument(3, 4, 1, 8, plugInModeBitmap);
    d.image.depth = 1;
    Host host(&ENTRYPOINT);
    File file = File::memory();
    host.begin();
    host.useDocument(d, true);
    ASSERT_TRUE(host.attach(file, true));
    EXPECT_EQ(host.call(formatSelectorWritePrepare), noErr);
    EXPECT_EQ(host.call(formatSelectorWriteStart), userCanceledErr);
    EXPECT_EQ(host.call(formatSelectorWriteFinish), noErr);
    host.detach();
    Outcome outcome = host.end();
    ASSERT_EQ(outcome.messages.size(), 1u);
    EXPECT_EQ(outcome.messages[0].text, "1-bit Fits Files are not supported");
    EXPECT_TRUE(file.contents().empty());
}

TEST(HeaderRewrite, StringsCutByTheRecordFormatAreClosedAgain) {
    // 'A' (65) keeps columns 1 to 66 of the card: the closing quote is lost.
    const std::string author = "AUTHOR  = '" + std::string(60, 'a') + "'";
    const std::string quoted = "OBSERVER= 'it''s " + std::string(50, 'b') + "'";  // 'O' keeps it whole
    const std::string history = "HISTORY  'not a value, left alone";
    std::vector<std::string> cards = {"SIMPLE  =                    T", "BITPIX  =                    8",
                                      "NAXIS   =                    2", "NAXIS1  =                    4",
                                      "NAXIS2  =                    3", author, quoted, history};
    Saved s = save(withHeader(patternDocument(3, 4, 1, 8, plugInModeGrayScale), cards));
    ASSERT_TRUE(s.outcome.ok());
    std::vector<std::string> out = headerCards(s.bytes);
    const std::string* a = findCard(out, "AUTHOR");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->substr(0, 66), fixture::card(author).substr(0, 66));
    EXPECT_EQ(a->substr(66, 13), std::string(13, ' '));
    EXPECT_EQ((*a)[79], '\'');
    EXPECT_EQ(*findCard(out, "OBSERVER"), fixture::card(quoted));
    EXPECT_EQ(findCard(out, "HISTORY")->substr(0, 73), fixture::card(history).substr(0, 73));
    EXPECT_EQ((*findCard(out, "HISTORY"))[79], ' ');
}

TEST(HeaderRewrite, TheHeaderEndsWithEndsBlock) {
    struct Case {
        const char* name;
        std::vector<std::string> records;  // as the document holds them
        size_t header;
    };
    std::vector<std::string> base = {"SIMPLE  =                    T", "BITPIX  =                    8",
                                     "NAXIS   =                    3", "NAXIS1  =                    4",
                                     "NAXIS2  =                    3", "NAXIS3  =                    3"};
    auto with = [&](std::vector<std::string> tail) {
        std::vector<std::string> r = base;
        r.insert(r.end(), tail.begin(), tail.end());
        return r;
    };
    std::vector<std::string> afterEnd = with({"END", "NAXIS2  =                  999"});
    while (afterEnd.size() < 40) afterEnd.push_back("HISTORY after the end");
    Case cases[] = {
        {"records after END", afterEnd, 2880},
        {"END with a comment", with({"END                                     / done"}), 2880},
        {"a keyword starting with END is not END", with({"END MIN =                  0.0", "END"}), 2880},
        {"a prefixed NAXIS3 is not the axis",
         {base[0], base[1], base[2], base[3], base[4], "NAXIS3XY=                    7", "END"}, 2880},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Document d = patternDocument(3, 4, 3, 8, plugInModeRGBColor);
        for (const std::string& r : c.records) d.resources[kHistoryResource].push_back(recordFromCard(fixture::card(r)));
        Saved s = save(d);
        ASSERT_TRUE(s.outcome.ok());
        ASSERT_EQ(s.bytes.size(), c.header + 2880);
        std::vector<std::string> out = headerCards(s.bytes);
        EXPECT_EQ(out.back(), fixture::card("END"));
        EXPECT_EQ(value(out, "NAXIS3"), "3");
        for (size_t q = out.size() * 80; q < c.header; ++q) ASSERT_EQ(s.bytes[q], ' ') << q;
        // And it opens again as the RGB image it is.
        Host host(&ENTRYPOINT);
        File again = memoryFile(s.bytes);
        Outcome read = host.read(again);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read.told.planes, 3);
    }
}

TEST(HeaderRewrite, SimpleIsWrittenTrueInColumn30) {
    struct Case {
        const char* kept;
        const char* written;
    } cases[] = {
        {"SIMPLE  =                    F / not quite standard", "SIMPLE  =                    T / not quite standard"},
        {"SIMPLE  = F/free format, no spaces", "SIMPLE  =                    T / free format, no spaces"},
        {"SIMPLE  = T", "SIMPLE  =                    T"},
        {"SIMPLE  =                    T / already conforming", "SIMPLE  =                    T / already conforming"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kept);
        std::vector<std::string> cards = {c.kept, "BITPIX  =                    8", "NAXIS   =                    2",
                                          "NAXIS1  =                    4", "NAXIS2  =                    3"};
        Saved s = save(withHeader(patternDocument(3, 4, 1, 8, plugInModeGrayScale), cards));
        ASSERT_TRUE(s.outcome.ok());
        EXPECT_EQ(headerCards(s.bytes)[0], fixture::card(c.written));
    }
}
