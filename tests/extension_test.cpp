// Images in extensions: found past a primary without data, converted by
// their own header alone, kept in the document as one primary header, and
// saved as a single HDU.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/module_state.h"
#include "fits_fixture.h"
#include "header/header_keywords.h"
#include "module_host.h"

using namespace testing_host;
using fixture::Fits;

namespace {

std::vector<std::string> keptCards(Host& host) {
    std::vector<std::string> cards;
    for (const ResourceRecord& r : host.document().resources[kHistoryResource]) cards.push_back(cardFromRecord(r));
    return cards;
}

std::vector<std::string> keywords(const std::vector<std::string>& cards) {
    std::vector<std::string> out;
    for (const std::string& c : cards) {
        std::string k = c.substr(0, 8);
        k.erase(k.find_last_not_of(' ') + 1);
        out.push_back(k);
        if (k == "END") break;
    }
    return out;
}

// A primary without data whose scaling and range cards would change every
// sample, were they applied to the extension.
Fits emptyPrimary() {
    Fits p = fixture::image(16, {});
    p.add("EXTEND  =                    T");
    p.add("BZERO   =              32768.0");
    p.add("BSCALE  =                  2.0");
    p.add("DATAMIN =                 10.0");
    p.add("DATAMAX =                 20.0");
    p.add("BLANK   =                    7");
    p.add("OBJECT  = 'M51     '");
    return p;
}

// The extension's header as a primary's: what the image would be alone.
Fits asPrimary(const Fits& extension) {
    Fits alone = extension;
    alone.cards[0] = fixture::valueCard("SIMPLE", "T");
    std::erase_if(alone.cards, [](const std::string& c) {
        return c.substr(0, 8) == "PCOUNT  " || c.substr(0, 8) == "GCOUNT  ";
    });
    return alone;
}

Fits withSamples(Fits f, int bitpix, int count) {
    for (int i = 0; i < count; ++i) {
        switch (bitpix) {
            case 8: f.data.push_back(static_cast<uint8_t>(i * 29 + 5)); break;
            case 16: fixture::put16(f.data, i * 3001 - 30000); break;
            case 32: fixture::put32(f.data, static_cast<uint32_t>(i * 7 == 14 ? 7 : i * 100003 - 900000)); break;
            default: fixture::putFloat(f.data, static_cast<float>(i) * 1.5f - 4.0f); break;
        }
    }
    return f;
}

}  // namespace

// The image opens exactly as its extension alone would open as a primary
// image: the primary's BZERO, BSCALE, range and BLANK do not reach it.
TEST(ExtensionImages, OpenAsTheirOwnHeaderAloneWouldOpen) {
    Fits table = fixture::extension(8, {6, 2}, "BINTABLE", 9);
    table.add("TFIELDS =                    1");
    table.data.assign(21, 'x');
    Fits groups = fixture::extension(16, {2}, "A3DTABLE", 2, 2);
    groups.data.assign(16, 1);
    Fits emptyImage = fixture::extension(-32, {});
    Fits oneAxis = withSamples(fixture::extension(8, {7}), 8, 7);

    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> before;  // HDUs between the primary and the image
        Fits image;
    };
    Fits signed16 = withSamples(fixture::extension(16, {5, 4}), 16, 20);
    Fits unsigned16 = withSamples(fixture::extension(16, {5, 4}), 16, 20);
    unsigned16.add("BZERO   =              32768.0");
    Fits floats = withSamples(fixture::extension(-32, {4, 3}), -32, 12);
    Fits cube32 = withSamples(fixture::extension(32, {3, 2, 3}), 32, 18);
    cube32.add("BLANK   =                   14");
    Fits naxis4 = withSamples(fixture::extension(8, {3, 2, 3, 1}), 8, 18);
    Case cases[] = {
        {"16-bit without BZERO, right after the primary", {}, signed16},
        {"16-bit with BZERO 32768", {}, unsigned16},
        {"float, range from its own data", {}, floats},
        {"32-bit RGB with its own BLANK", {}, cube32},
        {"NAXIS 4, past a table, groups, an empty and a one-axis image",
         {table.bytes(), groups.bytes(), emptyImage.bytes(), oneAxis.bytes()},
         naxis4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> file = emptyPrimary().bytes();
        for (const auto& hdu : c.before) file.insert(file.end(), hdu.begin(), hdu.end());
        const size_t imageData = file.size() + (c.image.cards.size() + 1 + 35) / 36 * 2880;
        file = fixture::join({file, c.image.bytes()});

        Host alone(&ENTRYPOINT);
        File primaryFile = memoryFile(asPrimary(c.image).bytes());
        Outcome expected = alone.read(primaryFile);
        ASSERT_TRUE(expected.ok());

        Host host(&ENTRYPOINT);
        File extensionFile = memoryFile(file);
        Outcome info = host.info(extensionFile);
        ASSERT_TRUE(info.ok()) << info.result;
        // ReadStart leaves the file at the image's first data byte.
        EXPECT_EQ(extensionFile.position(), imageData);
        File again = memoryFile(file);
        Outcome got = host.read(again);
        ASSERT_TRUE(got.ok()) << got.result;
        EXPECT_EQ(got.told.columns, expected.told.columns);
        EXPECT_EQ(got.told.rows, expected.told.rows);
        EXPECT_EQ(got.told.planes, expected.told.planes);
        EXPECT_EQ(got.told.depth, expected.told.depth);
        EXPECT_TRUE(host.document().image == alone.document().image);
        EXPECT_TRUE(got.leaks.empty());
        EXPECT_TRUE(got.violations.empty());
    }
}

// SIMPLE = T, the extension's cards, the primary's descriptive ones, END:
// the extension's value wins where both headers have a keyword.
TEST(ExtensionImages, TheDocumentKeepsOneMergedHeader) {
    Fits primary = fixture::image(8, {});
    primary.cards[0] = fixture::valueCard("SIMPLE", "F", "claims not to conform");
    primary.add("EXTEND  =                    T");
    primary.add("WCSAXES =                    2");
    primary.add("DATE    = '2001-01-01'");
    primary.add("ORIGIN  = 'a long origin&'");
    primary.add("CONTINUE  'that goes on'");
    primary.add("NOTE    = 'a long note&'");
    primary.add("CONTINUE  'that stays'");
    primary.add("BSCALE  =                  3.0");
    primary.add("TELESCOP= 'HST     '");
    primary.add("HISTORY primary history");
    Fits image = withSamples(fixture::extension(8, {3, 2}), 8, 6);
    image.add("EXTNAME = 'SCI     '");
    image.add("CRPIX1  =                  1.0");
    image.add("DATE    = '2002-02-02'");
    image.add("ORIGIN  = 'the extension'");
    image.add("HISTORY extension history");

    Host host(&ENTRYPOINT);
    File file = memoryFile(fixture::join({primary.bytes(), image.bytes()}));
    ASSERT_TRUE(host.read(file).ok());
    std::vector<std::string> cards = keptCards(host);
    ASSERT_EQ(cards.size(), 36u);
    EXPECT_EQ(module_state::peekHeaderLength(host), 2880u);
    EXPECT_EQ(keywords(cards),
              (std::vector<std::string>{"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2", "WCSAXES", "EXTNAME",
                                        "CRPIX1", "DATE", "ORIGIN", "HISTORY", "NOTE", "CONTINUE", "TELESCOP",
                                        "HISTORY", "NEBULITE", "END"}));
    EXPECT_EQ(cards[0], fixture::card("SIMPLE  =                    T / claims not to conform"));
    EXPECT_EQ(cards[8].substr(0, 24), "DATE    = '2002-02-02'  ");
    EXPECT_EQ(cards[12].substr(0, 25), "CONTINUE  'that stays'   ");
    for (size_t i = 17; i < 36; ++i) EXPECT_EQ(cards[i], std::string(80, ' ')) << i;

    // Saved, it is one primary HDU with the keywords of both headers.
    Document opened = host.takeDocument();
    File saved = File::memory();
    ASSERT_TRUE(host.save(opened, saved).ok());
    const std::vector<uint8_t>& bytes = saved.contents();
    ASSERT_EQ(bytes.size(), 2u * 2880);
    std::string header(bytes.begin(), bytes.begin() + 2880);
    EXPECT_EQ(header.substr(0, 80), cards[0]);
    EXPECT_EQ(header.find("XTENSION"), std::string::npos);
    EXPECT_NE(header.find("TELESCOP= 'HST     '"), std::string::npos);
    EXPECT_NE(header.find("EXTNAME = 'SCI     '"), std::string::npos);
    File back = memoryFile(bytes);
    ASSERT_TRUE(host.read(back).ok());
    EXPECT_TRUE(host.document().image == opened.image);
}

// The primary's ROWORDER is not the extension's: the sky orientation turns
// the extension's rows over (it has no ROWORDER), the save writes them back
// the file's way, and the saved header does not claim another order.
TEST(ExtensionImages, APrimaryRowOrderStaysWithThePrimary) {
    Fits primary = fixture::image(8, {});
    primary.add("EXTEND  =                    T");
    primary.add("ROWORDER= 'TOP-DOWN'");
    Fits image = withSamples(fixture::extension(8, {3, 2}), 8, 6);
    Host host(&ENTRYPOINT);
    host.setup().script.descriptor.put(
        DescriptorItem::ofEnumerated(fourCharCode("nbOr"), fourCharCode("nbTO"), fourCharCode("nbSk")));
    File file = memoryFile(fixture::join({primary.bytes(), image.bytes()}));
    ASSERT_TRUE(host.read(file).ok());
    const std::vector<uint8_t> stored(image.data.begin(), image.data.begin() + 6);
    EXPECT_EQ(host.document().image.narrow, (std::vector<uint8_t>{stored[3], stored[4], stored[5], stored[0],
                                                                  stored[1], stored[2]}));
    for (const std::string& card : keptCards(host)) EXPECT_NE(card.substr(0, 8), "ROWORDER") << card;
    Document opened = host.takeDocument();
    File saved = File::memory();
    ASSERT_TRUE(host.save(opened, saved).ok());
    const std::vector<uint8_t>& bytes = saved.contents();
    ASSERT_EQ(bytes.size(), 2u * 2880);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 2880, bytes.begin() + 2886), stored);
    File back = memoryFile(bytes);
    ASSERT_TRUE(host.read(back).ok());
    EXPECT_TRUE(host.document().image == opened.image);
}

// The header length is the merged header's, not the file's layout.
TEST(ExtensionImages, HeaderLengthDescribesTheMergedHeader) {
    Fits primary = fixture::image(8, {});
    for (int i = 0; i < 40; ++i) primary.add("HISTORY primary " + std::to_string(i));
    Fits image = withSamples(fixture::extension(8, {3, 2}), 8, 6);
    for (int i = 0; i < 40; ++i) image.add("HISTORY extension " + std::to_string(i));
    // Two blocks each in the file; SIMPLE, 4 size cards, 80 HISTORY and END merged.
    Host host(&ENTRYPOINT);
    File file = memoryFile(fixture::join({primary.bytes(), image.bytes()}));
    ASSERT_TRUE(host.read(file).ok());
    EXPECT_EQ(module_state::peekHeaderLength(host), 3u * 2880);
    std::vector<std::string> cards = keptCards(host);
    ASSERT_EQ(cards.size(), 3u * 36);
    EXPECT_EQ(cards[85].substr(0, 8), "END     ");
    EXPECT_EQ(cards[45].substr(0, 19), "HISTORY primary 0  ");
}

TEST(ExtensionImages, DataUnitSizes) {
    const int64_t axes[] = {6, 2, 3};
    const int64_t negative[] = {6, -2};
    const int64_t huge[] = {int64_t{1} << 40, int64_t{1} << 40};
    struct Case {
        const char* name;
        int64_t bitpix, naxis;
        const int64_t* axes;
        int64_t pcount, gcount;
        std::optional<uint64_t> bytes;
    } cases[] = {
        {"table with a heap", 8, 2, axes, 9, 1, 21},
        {"groups", 16, 3, axes, 2, 2, 2 * 2 * (36 + 2)},
        {"doubles", -64, 1, axes, 0, 1, 48},
        {"no axes, no data", 32, 0, axes, 0, 1, 0},
        {"no axes, a heap alone", 8, 0, axes, 5, 1, 5},
        {"GCOUNT 0", 8, 2, axes, 0, 0, 0},
        {"negative axis", 8, 2, negative, 0, 1, std::nullopt},
        {"negative PCOUNT", 8, 2, axes, -1, 1, std::nullopt},
        {"BITPIX 12", 12, 2, axes, 0, 1, std::nullopt},
        {"NAXIS 1000", 8, 1000, axes, 0, 1, std::nullopt},
        {"beyond 63 bits", 64, 2, huge, 0, 1, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nebulite::dataUnitBytes(c.bitpix, c.naxis, c.axes, c.pcount, c.gcount), c.bytes) << c.name;
}
