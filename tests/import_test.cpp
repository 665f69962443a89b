// Opening FITS files through the reference host: the header as the document
// keeps it, what the host is told, the samples on every road, and the files
// the module refuses.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>

#include "tests/module_state.h"
#include "fits_fixture.h"
#include "module_host.h"

using namespace testing_host;
using fixture::Fits;

namespace {

// What survives of a card in its record: columns up to L + 1.
std::string expectedKept(const std::string& card) {
    auto length = static_cast<unsigned char>(card[0]);
    std::string c = card;
    if (length + 1u < 80u) std::fill(c.begin() + length + 1, c.end(), ' ');
    return c;
}

const std::vector<ResourceRecord>& history(Host& host) {
    return host.document().resources[kHistoryResource];
}

std::string keywordOf(const ResourceRecord& record) { return cardFromRecord(record).substr(0, 8); }

OSErr resultOf(const Outcome& outcome, int16_t selector) {
    for (const Call& call : outcome.calls)
        if (call.selector == selector) return call.result;
    return 1;
}

Fits grey16(int columns, int rows, const std::vector<int>& values, const std::string& bzero) {
    Fits f = fixture::image(16, {columns, rows});
    if (!bzero.empty()) f.cards.push_back(fixture::valueCard("BZERO", bzero));
    for (int v : values) fixture::put16(f.data, v);
    return f;
}

}  // namespace

TEST(ReadHeader, IdentificationCardGoesInFrontOfEnd) {
    // END as the 11th card, no NEBULITE card.
    Fits f = fixture::image(16, {100, 50});
    for (int i = 0; i < 5; ++i) f.add("COMMENT card " + std::to_string(i));
    f.data.assign(10000, 0);
    Host host(&ENTRYPOINT);
    File file = memoryFile(f.bytes());
    Outcome outcome = host.read(file);
    ASSERT_TRUE(outcome.ok());
    const auto& records = history(host);
    ASSERT_EQ(records.size(), 36u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(cardFromRecord(records[i]), expectedKept(f.cards[i])) << i;
    std::string id = cardFromRecord(records[10]);
    EXPECT_EQ(id.substr(0, 28), "NEBULITE= 'Photoshop Plugin ");
    EXPECT_EQ(id[77], '\'');
    EXPECT_EQ(id.substr(78), "  ");
    EXPECT_EQ(keywordOf(records[11]), "END     ");
    for (int i = 12; i < 36; ++i) EXPECT_EQ(cardFromRecord(records[i]), std::string(80, ' ')) << i;
    EXPECT_EQ(module_state::peekHeaderLength(host), 2880u);
    EXPECT_EQ(outcome.told.columns, 100);
    EXPECT_EQ(outcome.told.rows, 50);
    EXPECT_EQ(outcome.told.depth, 16);
    EXPECT_EQ(outcome.told.planes, 1);
    EXPECT_EQ(outcome.told.imageMode, plugInModeGrayScale);
}

TEST(ReadHeader, HeadersKeptCardForCard) {
    struct Case {
        const char* name;
        int extraCards;  // after the five size cards, before END
        bool nebuliteCard;
        size_t records;
    } cases[] = {
        {"existing NEBULITE card", 5, true, 36},
        {"END in slot 35", 30, false, 36},
        {"END in the second block", 40, false, 72},
        {"three blocks", 90, false, 108},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fits f = fixture::image(8, {10, 10});
        if (c.nebuliteCard) f.add("NEBULITE= 'written by an earlier version'");
        for (int i = f.cards.size(); i < 5 + c.extraCards; ++i) f.add("HISTORY line " + std::to_string(i));
        f.data.assign(100, 3);
        Host host(&ENTRYPOINT);
        File file = memoryFile(f.bytes());
        ASSERT_TRUE(host.read(file).ok());
        const auto& records = history(host);
        ASSERT_EQ(records.size(), c.records);
        EXPECT_EQ(module_state::peekHeaderLength(host), c.records * 80);
        for (size_t i = 0; i < f.cards.size(); ++i) EXPECT_EQ(cardFromRecord(records[i]), expectedKept(f.cards[i]));
        EXPECT_EQ(keywordOf(records[f.cards.size()]), "END     ");
    }
}

// The size keywords may come more than once; each time the four are known the
// module estimates the header from the file's length. A later set that
// claims more data than the file holds makes that estimate smaller than the
// cards already read, and those cards must still reach the document.
TEST(ReadHeader, AnEstimateBelowTheCardsReadLosesNone) {
    Fits f = fixture::image(8, {10, 10});
    for (int i = 0; f.cards.size() < 76; ++i) f.add("HISTORY line " + std::to_string(i));
    // Block 3: a set claiming 4000 bytes of data, then the real one again.
    for (const char* card : {"BITPIX  =                   16", "NAXIS   =                    2",
                             "NAXIS1  =                   50", "NAXIS2  =                   40",
                             "BITPIX  =                    8", "NAXIS1  =                   10",
                             "NAXIS2  =                   10", "NAXIS   =                    2"})
        f.add(card);
    f.data.assign(100, 7);
    std::vector<uint8_t> bytes = f.bytes();
    ASSERT_EQ(bytes.size(), 3u * 2880 + 2880);
    DiskCopy copy(bytes);
    Host host(&ENTRYPOINT);
    File file = copy.memory(bytes);
    ASSERT_TRUE(host.read(file).ok());
    const auto& records = history(host);
    ASSERT_EQ(records.size(), 108u);
    for (size_t i = 0; i < f.cards.size(); ++i) EXPECT_EQ(cardFromRecord(records[i]), expectedKept(f.cards[i])) << i;
}

TEST(ReadHeader, FinalLengthIgnoresWhatFollowsThePrimaryData) {
    struct Case {
        const char* name;
        size_t trailing;
        bool padData;
    } cases[] = {
        {"conforming", 0, true},
        {"short last data block", 0, false},
        {"an extension after the data", 2880 * 3, true},
        {"a large tail", 2880 * 500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fits f = fixture::image(16, {100, 50});
        for (int i = 0; i < 40; ++i) f.add("COMMENT two blocks of header");
        f.data.assign(10000, 0);
        f.padData = c.padData;
        std::vector<uint8_t> bytes = f.bytes();
        std::string ext = fixture::card("XTENSION= 'IMAGE   '");
        for (size_t i = 0; i < c.trailing; ++i) bytes.push_back(static_cast<uint8_t>(ext[i % 80]));
        Host host(&ENTRYPOINT);
        File file = memoryFile(bytes);
        ASSERT_TRUE(host.read(file).ok());
        EXPECT_EQ(module_state::peekHeaderLength(host), 5760u);
        EXPECT_EQ(history(host).size(), 72u);
    }
}

TEST(ReadHeader, CardsAfterEndAndNulCardsAreBlank) {
    Fits f = fixture::image(8, {2, 2});
    f.data = {1, 2, 3, 4};
    std::vector<uint8_t> bytes = f.bytes();
    // Text after END in its block, and a card that starts with NUL before END.
    std::string junk = fixture::card("JUNK    = 'after end'");
    std::copy(junk.begin(), junk.end(), bytes.begin() + 80 * 10);
    Fits g = fixture::image(8, {2, 2});
    g.add(std::string(1, '\0') + "ZAP    = 1");
    g.data = {1, 2, 3, 4};
    for (const auto& input : {bytes, g.bytes()}) {
        Host host(&ENTRYPOINT);
        File file = memoryFile(input);
        ASSERT_TRUE(host.read(file).ok());
        for (const ResourceRecord& r : history(host)) {
            std::string k = keywordOf(r);
            EXPECT_NE(k.substr(0, 4), "JUNK");
            EXPECT_EQ(k.find("ZAP"), std::string::npos);
        }
    }
}

TEST(HistoryRecords, LengthsFollowTheFirstCharacter) {
    Fits f = fixture::image(16, {4, 1});
    f.cards[1] = fixture::card("BITPIX  =                   16 / " + std::string(46, 'x'));
    f.add("");
    for (int v : {1, 2, 3, 4}) fixture::put16(f.data, v);
    Host host(&ENTRYPOINT);
    File file = memoryFile(f.bytes());
    ASSERT_TRUE(host.read(file).ok());
    const auto& records = history(host);
    ASSERT_EQ(records.size(), 36u);
    // SIMPLE: 83 bytes, columns 2 to 80 then a 0.
    ASSERT_EQ(records[0].size(), 83u);
    EXPECT_EQ(std::string(records[0].begin(), records[0].begin() + 79), f.cards[0].substr(1));
    EXPECT_EQ(records[0][79], 0);
    // BITPIX with a comment to column 80: 66 bytes, the value survives.
    ASSERT_EQ(records[1].size(), 66u);
    EXPECT_EQ(cardFromRecord(records[1]).substr(0, 30), f.cards[1].substr(0, 30));
    EXPECT_EQ(cardFromRecord(records[1]).substr(67), std::string(13, ' '));
    // A blank card: 32 spaces. END: 69 bytes.
    EXPECT_EQ(records[5], ResourceRecord(32, ' '));
    EXPECT_EQ(records[7].size(), 69u);
    EXPECT_EQ(keywordOf(records[7]), "END     ");
}

TEST(ReadPixels, EightBitRowsPassThroughUnchanged) {
    Fits f = fixture::image(8, {4, 3});
    f.add("BSCALE  =                  2.0");
    f.add("BZERO   =                 10.0");
    for (int i = 0; i < 12; ++i) f.data.push_back(static_cast<uint8_t>(i * 20));
    Host host(&ENTRYPOINT);
    File file = memoryFile(f.bytes());
    Outcome outcome = host.read(file);
    ASSERT_TRUE(outcome.ok());
    const Image& image = host.document().image;
    ASSERT_EQ(image.depth, 8);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(image.sample(0, r, c), static_cast<uint32_t>((r * 4 + c) * 20));
    ASSERT_EQ(outcome.progress.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(outcome.progress[i].done, i + 1);
        EXPECT_EQ(outcome.progress[i].total, 3);
    }
    EXPECT_TRUE(outcome.violations.empty());
    EXPECT_TRUE(outcome.leaks.empty());
}

TEST(ReadPixels, SixteenBitScaling) {
    struct Case {
        const char* bzero;
        const char* bscale;
        std::vector<int> stored;
        std::vector<uint32_t> host;
    } cases[] = {
        {"32768.0", "", {-32768, 0, 32767, -1}, {0, 16384, 32768, 16384}},
        {"", "", {-1, -32768, 1, 0}, {32768, 16384, 1, 0}},          // BZERO 0: unsigned
        {"0.0", "2.0", {20000, -25536}, {20000, 32768}},              // 40000 x 2 clamps
        {"", "0.5", {3, 4}, {1, 1}},                                  // 1.5 truncates
        {"", "0.0", {7, 100}, {4, 50}},                               // BSCALE 0 reads as 1
        {"-100.0", "", {50, 200}, {0, 50}},                           // below 0 clamps
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("BZERO ") + c.bzero + " BSCALE " + c.bscale);
        Fits f = grey16(static_cast<int>(c.stored.size()), 1, c.stored, c.bzero);
        if (*c.bscale) f.cards.push_back(fixture::valueCard("BSCALE", c.bscale));
        Host host(&ENTRYPOINT);
        File file = memoryFile(f.bytes());
        Outcome outcome = host.read(file);
        ASSERT_TRUE(outcome.ok());
        for (size_t i = 0; i < c.host.size(); ++i) EXPECT_EQ(host.document().image.sample(0, 0, i), c.host[i]) << i;
        EXPECT_EQ(outcome.outOfRangeSamples, 0u);
    }
}

TEST(ReadPixels, ColourPlanesInOrderWithOneProgressTotal) {
    for (int bitpix : {8, 16}) {
        Fits f = fixture::image(bitpix, {2, 3, 3});
        for (int p = 0; p < 3; ++p)
            for (int i = 0; i < 6; ++i) {
                int v = p * 10 + i;
                if (bitpix == 8) f.data.push_back(static_cast<uint8_t>(v));
                else fixture::put16(f.data, v * 2);
            }
        Host host(&ENTRYPOINT);
        File file = memoryFile(f.bytes());
        Outcome outcome = host.read(file);
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(outcome.told.imageMode, plugInModeRGBColor);
        EXPECT_EQ(outcome.told.planes, 3);
        const Image& image = host.document().image;
        for (int p = 0; p < 3; ++p)
            for (int i = 0; i < 6; ++i) EXPECT_EQ(image.sample(p, i / 2, i % 2), static_cast<uint32_t>(p * 10 + i));
        ASSERT_EQ(outcome.progress.size(), 9u);
        for (int i = 0; i < 9; ++i) {
            EXPECT_EQ(outcome.progress[i].done, i + 1);
            EXPECT_EQ(outcome.progress[i].total, 9);
        }
    }
}

TEST(ReadPixels, CubesOpenTheirFirstPlanes) {
    struct Case {
        int naxis3;
        int16_t planes;
        int16_t mode;
    } cases[] = {{1, 1, plugInModeGrayScale}, {2, 1, plugInModeGrayScale}, {30, 3, plugInModeRGBColor}};
    for (const Case& c : cases) {
        Fits f = fixture::image(8, {2, 2, c.naxis3});
        for (int i = 0; i < 4 * c.naxis3; ++i) f.data.push_back(static_cast<uint8_t>(i));
        Host host(&ENTRYPOINT);
        File file = memoryFile(f.bytes());
        Outcome outcome = host.read(file);
        ASSERT_TRUE(outcome.ok()) << c.naxis3;
        EXPECT_EQ(outcome.told.planes, c.planes);
        EXPECT_EQ(outcome.told.imageMode, c.mode);
        EXPECT_EQ(host.document().image.sample(c.planes - 1, 1, 1), static_cast<uint32_t>(4 * c.planes - 1));
    }
}

TEST(ReadPixels, TruncatedDataKeepsTheHeader) {
    for (int bitpix : {8, 16, 32}) {
        for (bool lengthKnown : {false, true}) {
            SCOPED_TRACE(std::to_string(bitpix) + (lengthKnown ? ", length known" : ", length unknown"));
            Fits f = fixture::image(bitpix, {4, 10});
            f.data.assign(static_cast<size_t>(4 * 10 * bitpix / 8), 1);
            f.padData = false;
            std::vector<uint8_t> bytes = f.bytes();
            bytes.resize(bytes.size() - static_cast<size_t>(2 * 4 * bitpix / 8));  // two rows short
            Host host(&ENTRYPOINT);
            DiskCopy copy(bytes);
            File file = lengthKnown ? copy.memory(bytes) : memoryFile(bytes);
            Outcome outcome = host.read(file);
            EXPECT_EQ(outcome.result, eofErr);
            EXPECT_EQ(outcome.failedSelector, formatSelectorReadContinue);
            EXPECT_EQ(history(host).size(), 36u);
            // 8-bit rows reach the host as they are read; wide samples only
            // once all are known to be there.
            EXPECT_EQ(outcome.rowsMoved, bitpix == 8 ? 8 : 0);
            EXPECT_TRUE(outcome.leaks.empty());
        }
    }
}

TEST(ReadPixels, AdvanceStateCancelStopsTheRead) {
    for (int bitpix : {8, 16}) {
        Fits f = fixture::image(bitpix, {4, 5});
        f.data.assign(static_cast<size_t>(4 * 5 * bitpix / 8), 9);
        Host host(&ENTRYPOINT);
        host.faults().advanceState = Trigger::nth(0);
        host.faults().advanceStateCode = userCanceledErr;
        File file = memoryFile(f.bytes());
        Outcome outcome = host.read(file);
        EXPECT_EQ(outcome.result, userCanceledErr);
        ASSERT_EQ(outcome.progress.size(), 1u);
        EXPECT_EQ(outcome.progress[0].done, 1);
        EXPECT_EQ(outcome.progress[0].total, 5);
        EXPECT_EQ(history(host).size(), 36u);
        EXPECT_TRUE(outcome.leaks.empty());
    }
}

// Beside the host's row buffer a read holds one file row of 32-bit samples,
// or, for 16-bit samples of a file whose length is unknown, every sample;
// no other road needs either.
TEST(ReadPixels, MemoryForTheSamplesRunsOut) {
    struct Case {
        int bitpix;
        int kind;
        bool lengthKnown;
        OSErr result;
    } cases[] = {
        {16, nebuliteAllocSampleStore, false, memFullErr}, {16, nebuliteAllocSampleStore, true, noErr},
        {16, nebuliteAllocRowBlock, true, noErr},          {32, nebuliteAllocSampleStore, false, noErr},
        {32, nebuliteAllocSampleStore, true, noErr},       {32, nebuliteAllocRowBlock, false, memFullErr},
        {32, nebuliteAllocRowBlock, true, memFullErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bitpix) + " bits, kind " + std::to_string(c.kind) +
                     (c.lengthKnown ? ", length known" : ", length unknown"));
        Fits f = fixture::image(c.bitpix, {4, 5});
        f.data.assign(static_cast<size_t>(4 * 5 * c.bitpix / 8), 1);
        const std::vector<uint8_t> bytes = f.bytes();
        Host host(&ENTRYPOINT);
        host.faults().moduleAllocation[c.kind] = Trigger::always();
        DiskCopy copy(bytes);
        File file = c.lengthKnown ? copy.memory(bytes) : memoryFile(bytes);
        Outcome outcome = host.read(file);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.rowsMoved, c.result == noErr ? 5 : 0);
        EXPECT_EQ(history(host).size(), 36u);
        EXPECT_TRUE(outcome.leaks.empty());
    }
}

TEST(ReadPixels, ThirtyTwoBitSamples) {
    using fixture::put32;
    struct Case {
        const char* name;
        int bitpix;
        std::vector<std::string> cards;
        std::vector<double> values;  // stored values (NaN for a float NaN)
        std::vector<uint32_t> host;
    } cases[] = {
        {"integers, data range", 32, {}, {-100, 0, 100, 50}, {0, 16384, 32768, 24576}},
        {"integers, DATAMIN/DATAMAX", 32, {"DATAMIN =                  0.0", "DATAMAX =                200.0"},
         {-100, 0, 100, 400}, {0, 0, 16384, 32768}},
        {"integers, BACKGRND + RANGE", 32, {"BACKGRND=                100.0", "RANGE   =                100.0"},
         {100, 150, 200, 0}, {0, 16384, 32768, 0}},
        {"integers, BSCALE and BZERO", 32, {"BSCALE  =                  2.0", "BZERO   =                 10.0"},
         {-5, 0, 5, 15}, {0, 8192, 16384, 32768}},
        {"integers, BLANK", 32, {"BLANK   =                   -1"}, {-1, 10, 20, 30}, {0, 0, 16384, 32768}},
        {"floats, data range", -32, {}, {0.5, 1.5, 1.0, NAN}, {0, 32768, 16384, 0}},
        {"floats, infinities undefined", -32, {}, {INFINITY, 2.0, 4.0, -INFINITY}, {0, 0, 32768, 0}},
        {"constant image", -32, {}, {7, 7, 7, 7}, {0, 0, 0, 0}},
        {"empty header range falls back to data", 32, {"DATAMIN =                  5.0", "DATAMAX =                  5.0"},
         {0, 10, 5, 10}, {0, 32768, 16384, 32768}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fits f = fixture::image(c.bitpix, {static_cast<long long>(c.values.size()), 1});
        for (const std::string& card : c.cards) f.add(card);
        for (double v : c.values) {
            if (c.bitpix == 32) put32(f.data, static_cast<uint32_t>(static_cast<int32_t>(v)));
            else fixture::putFloat(f.data, static_cast<float>(v));
        }
        Host host(&ENTRYPOINT);
        File file = memoryFile(f.bytes());
        Outcome outcome = host.read(file);
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(outcome.told.depth, 16);
        for (size_t i = 0; i < c.host.size(); ++i) EXPECT_EQ(host.document().image.sample(0, 0, i), c.host[i]) << i;
        EXPECT_EQ(outcome.progress.size(), 1u);
    }
}

TEST(ReadRefusals, FilesTheHostCannotShow) {
    struct Case {
        const char* name;
        Fits file;
        OSErr result;
        const char* message;  // null: no message
    };
    auto withBitpix = [](long long bitpix) {
        Fits f = fixture::image(8, {2, 2});
        f.cards[1] = fixture::intCard("BITPIX", bitpix);
        f.data.assign(32, 0);
        return f;
    };
    auto without = [](const std::string& keyword) {
        Fits f = fixture::image(8, {2, 2});
        std::erase_if(f.cards, [&](const std::string& c) { return c.substr(0, 8) == fixture::card(keyword).substr(0, 8); });
        f.data.assign(4, 0);
        return f;
    };
    auto axes = [](std::vector<long long> a) {
        Fits f = fixture::image(8, a);
        f.data.assign(16, 0);
        return f;
    };
    Case cases[] = {
        {"BITPIX 12", withBitpix(12), userCanceledErr, "Fits Files with BITPIX = 12 are not supported"},
        {"BITPIX -16", withBitpix(-16), userCanceledErr, "Fits Files with BITPIX = -16 are not supported"},
        {"BITPIX 0", withBitpix(0), userCanceledErr, "Fits Files with BITPIX = 0 are not supported"},
        {"no BITPIX", without("BITPIX"), userCanceledErr, "Fits Files without a BITPIX card are not supported"},
        {"no NAXIS", without("NAXIS"), userCanceledErr, "Fits Files without a NAXIS card are not supported"},
        {"no NAXIS1", without("NAXIS1"), userCanceledErr, "Fits Files without a NAXIS1 card are not supported"},
        {"no NAXIS2", without("NAXIS2"), userCanceledErr, "Fits Files without a NAXIS2 card are not supported"},
        {"NAXIS 0", axes({}), userCanceledErr, "Fits Files with NAXIS = 0 are not supported"},
        {"NAXIS 1", axes({16}), userCanceledErr, "Fits Files with NAXIS = 1 are not supported"},
        {"NAXIS1 0", axes({0, 4}), userCanceledErr, "Fits Files with NAXIS1 = 0 are not supported"},
        {"NAXIS1 -5", axes({-5, 4}), userCanceledErr, "Fits Files with NAXIS1 = -5 are not supported"},
        {"NAXIS1 32768", axes({32768, 4}), userCanceledErr, "Fits Files with NAXIS1 = 32768 are not supported"},
        {"NAXIS2 777777701", axes({4, 777777701}), userCanceledErr,
         "Fits Files with NAXIS2 = 777777701 are not supported"},
        {"NAXIS3 0", axes({4, 4, 0}), userCanceledErr, "Fits Files with NAXIS3 = 0 are not supported"},
        {"too large for the host", axes({32767, 32767, 3}), userCanceledErr,
         "Fits Files with more than 2 GB of image data are not supported"},
    };
    // A host with 16-bit geometry only, whose limit is 32767 on a side (the
    // current editor's 32-bit geometry is in wide_geometry_test.cpp).
    HostSetup oldHost;
    oldHost.coordinates32 = false;
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host(&ENTRYPOINT, oldHost);
        File file = memoryFile(c.file.bytes());
        Outcome outcome = host.read(file);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.failedSelector, formatSelectorReadStart);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_EQ(outcome.messages[0].text, c.message);
        ASSERT_TRUE(outcome.messages[0].caption.has_value());
        EXPECT_EQ(*outcome.messages[0].caption, "Nebulite");
        EXPECT_EQ(outcome.messages[0].type, 0u);
        EXPECT_EQ(outcome.messages[0].owner, 0);
        EXPECT_EQ(outcome.rowsMoved, 0);
        EXPECT_TRUE(host.document().image.empty());
        EXPECT_TRUE(outcome.leaks.empty());
        // The next file opens as usual.
        Fits good = fixture::image(8, {2, 2});
        good.data = {1, 2, 3, 4};
        File next = memoryFile(good.bytes());
        EXPECT_TRUE(host.read(next).ok());
    }
}

TEST(ReadRefusals, NotFitsAndShortHeaders) {
    Fits f = fixture::image(8, {2, 2});
    f.data = {1, 2, 3, 4};
    std::vector<uint8_t> good = f.bytes();
    std::vector<uint8_t> notFits = good;
    notFits[0] = 'X';
    std::vector<uint8_t> noEnd(good.begin(), good.begin() + 80 * 5);
    std::vector<uint8_t> shortFirst(good.begin(), good.begin() + 40);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        OSErr result;
    } cases[] = {
        {"not FITS", notFits, formatCannotRead},
        {"header without END", noEnd, eofErr},
        {"first card short", shortFirst, eofErr},
    };
    for (const Case& c : cases) {
        Host host(&ENTRYPOINT);
        File file = memoryFile(c.bytes);
        Outcome outcome = host.read(file);
        EXPECT_EQ(resultOf(outcome, formatSelectorReadStart), c.result) << c.name;
        EXPECT_EQ(outcome.told.imageMode, -1) << c.name;
        EXPECT_TRUE(outcome.messages.empty()) << c.name;
    }
}
