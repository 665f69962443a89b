// The header kept whole: the whole-header record beside the 'hist'
// records, within the editor's 1,000-resource limit, and the save that
// prefers it when the 'hist' records agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "document/whole_header.h"
#include "export/rewrite_rules.h"
#include "fits_fixture.h"
#include "module_host.h"

using namespace testing_host;
using fixture::Fits;

namespace {

// The 'hist' record a card becomes when a file is opened.
ResourceRecord recordFromCard(const std::string& card) {
    auto length = static_cast<unsigned char>(card[0]);
    ResourceRecord r(length, 0);
    for (size_t k = 0; k < length && k < 79; ++k) r[k] = static_cast<uint8_t>(card[k + 1]);
    return r;
}

std::string messagesOf(const Outcome& o) {
    std::string text = o.hostFailure;
    for (const MessageBox& m : o.messages) text += " [" + m.text + "]";
    return text;
}

std::vector<std::string> headerOf(const std::vector<uint8_t>& file) {
    std::vector<std::string> cards;
    for (size_t q = 0; q + 80 <= file.size(); q += 80) {
        cards.emplace_back(reinterpret_cast<const char*>(file.data() + q), 80);
        if (cards.back().compare(0, 8, "END     ") == 0) break;
    }
    return cards;
}

// A 16-bit image under a header of `blocks` blocks, every card cut short by
// a 'hist' record: long strings, long commentary, HIERARCH.
Fits longHeader(int blocks) {
    Fits f = fixture::image(16, {6, 4});
    f.add(fixture::valueCard("BZERO", "32768.0", "unsigned samples, a comment running to column 80 ...."));
    while (f.cards.size() < size_t(blocks) * 36 - 1) {
        size_t i = f.cards.size();
        switch (i % 3) {
            case 0: f.add("HISTORY " + std::to_string(i) + std::string(70, 'h')); break;
            case 1: f.add("DATE" + std::to_string(i % 10000) + std::string(4 - std::to_string(i % 10000).size(), ' ') +
                          "= '" + std::string(60, 'd') + "' / cut"); break;
            default: f.add("HIERARCH ESO DET CHIP" + std::to_string(i) + " NAME = '" + std::string(40, 'x') + "'"); break;
        }
    }
    for (int v = 0; v < 24; ++v) fixture::put16(f.data, v * 1000 - 32768);
    return f;
}

}  // namespace

// The editor's limit, as the reference host keeps it: 1,000 resources of
// all types together, memFullErr from addProc past them.
TEST(KeptHeader, HostKeepsTheEditorsResourceLimit) {
    Fits f = longHeader(40);
    Host host(&ENTRYPOINT);
    File file = memoryFile(f.bytes());
    Outcome read = host.read(file);
    ASSERT_TRUE(read.ok()) << messagesOf(read);
    EXPECT_TRUE(read.messages.empty());
    // 1 + 1,440 records were tried; the 'hist' ones went again.
    EXPECT_GT(read.counters.resourceAdds, 1000);
    EXPECT_EQ(host.document().resources.count(kHistoryResource), 0u);
    ASSERT_EQ(host.document().resources.count(kWholeHeaderResource), 1u);
    EXPECT_EQ(host.document().resources.at(kWholeHeaderResource).size(), 1u);
}

// A header of 40 blocks opens and every card comes back byte for byte but
// the ones the rewrite must change; the save is a conforming file again.
TEST(KeptHeader, FortyBlockHeaderComesBackWhole) {
    Fits f = longHeader(40);
    Host host(&ENTRYPOINT);
    File file = memoryFile(f.bytes());
    ASSERT_TRUE(host.read(file).ok());
    Document document = host.document();
    File saved = File::memory();
    ASSERT_TRUE(host.save(document, saved).ok());
    std::vector<std::string> written = headerOf(saved.contents());
    ASSERT_EQ(written.size(), f.cards.size() + 1);
    for (size_t i = 0; i < f.cards.size(); ++i) EXPECT_EQ(written[i], f.cards[i]) << i;
    EXPECT_EQ(saved.contents().size(), 40u * 2880 + 2880);
}

// Documents with both records: the whole header wins while the 'hist'
// records are the ones it gives; when another program changed a 'hist'
// record, or the whole record is not one this version reads, the 'hist'
// records are the header, as they always were.
TEST(KeptHeader, TheWholeRecordIsTakenOnlyWhenTheHistRecordsAgree) {
    Fits f = fixture::image(8, {3, 2});
    const std::string longString = "AUTHOR  = 'A string value long enough that its closing quote lies past col. 67 '";
    ASSERT_EQ(longString.size(), 80u);
    f.add(longString);
    f.data.assign(6, 7);
    Host host(&ENTRYPOINT);
    File file = memoryFile(f.bytes());
    ASSERT_TRUE(host.read(file).ok());
    const Document opened = host.document();
    ASSERT_EQ(opened.resources.size(), 2u);

    struct Case {
        const char* name;
        void (*change)(Document&);
        bool whole;
    } cases[] = {
        {"as opened", [](Document&) {}, true},
        {"whole record alone", [](Document& d) { d.resources.erase(kHistoryResource); }, true},
        {"fewer 'hist' records", [](Document& d) { d.resources[kHistoryResource].resize(5); }, true},
        {"a 'hist' record changed",
         [](Document& d) { d.resources[kHistoryResource][20] = recordFromCard(fixture::card("OBSERVER= 'me'")); },
         false},
        {"a later version's record", [](Document& d) { d.resources[kWholeHeaderResource][0][5] = 2; }, false},
        {"a record one byte short", [](Document& d) { d.resources[kWholeHeaderResource][0].pop_back(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Document d = opened;
        c.change(d);
        File saved = File::memory();
        ASSERT_TRUE(host.save(d, saved).ok());
        std::vector<std::string> written = headerOf(saved.contents());
        ASSERT_GT(written.size(), 6u);
        if (c.whole) {
            EXPECT_EQ(written[5], longString);
        } else {
            // Cut at column 66 ('A'), its closing quote put back in column 80.
            EXPECT_EQ(written[5], longString.substr(0, 66) + std::string(13, ' ') + "'");
        }
    }
}

// The record's preamble: only a record this version wrote is read.
TEST(KeptHeader, WholeHeaderRecordIsReadOnlyWhenItsPreambleHolds) {
    const uint8_t preamble[10] = {'N', 'b', 'H', 'd', 0, 1, 0, 0, 0, 2};
    std::vector<uint8_t> good(10 + 160, ' ');
    std::copy(std::begin(preamble), std::end(preamble), good.begin());
    auto changed = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> r = good;
        r[at] = value;
        return r;
    };
    std::vector<uint8_t> longer = good;
    longer.push_back(' ');
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool read;
    } cases[] = {
        {"two cards", good, true},
        {"another tag", changed(0, 'n'), false},
        {"version 2", changed(5, 2), false},
        {"version 0", changed(5, 0), false},
        {"claims three cards", changed(9, 3), false},
        {"claims no card", changed(9, 0), false},
        {"claims 2^32 - 1 cards", [&] { auto r = good; std::memset(r.data() + 6, 0xFF, 4); return r; }(), false},
        {"a byte too many", longer, false},
        {"the preamble alone", std::vector<uint8_t>(good.begin(), good.begin() + 10), false},
        {"shorter than a preamble", std::vector<uint8_t>(good.begin(), good.begin() + 9), false},
    };
    for (const Case& c : cases) {
        auto cards = nebulite::readWholeHeader(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(cards.has_value(), c.read) << c.name;
        if (cards) {
            EXPECT_EQ(cards->count, 2u) << c.name;
        }
    }
}

// The per-card rule without a host: the mend for a cut string only for
// headers that came from 'hist' records, zero bytes never written.
TEST(KeptHeader, RewriteRuleMendsCutStringsOnlyForCutHeaders) {
    const std::string open = fixture::card("AUTHOR  = 'no closing quote");
    struct Case {
        std::string card;
        bool mend;
        std::string expected;
    } cases[] = {
        {open, true, open.substr(0, 79) + "'"},
        {open, false, open},
        {fixture::card(std::string("OBJECT  = 'a\0b'", 15)), false, fixture::card("OBJECT  = 'a b'")},
        {fixture::card("BITPIX  =                   16 / bits"), false,
         fixture::card("BITPIX  =                    8 / bits")},
    };
    for (const Case& c : cases) {
        nebulite::SavedImage image;
        image.depth = 8;
        image.mendCutStrings = c.mend;
        std::string card = c.card;
        nebulite::rewriteCard(card.data(), image, 3);
        EXPECT_EQ(card, c.expected);
    }
}

// When the document has no room: without the 'hist' records the header is
// still kept whole; without even the whole record the image opens with no
// header, and the user is told once.
TEST(KeptHeader, ImageOpensWhenTheDocumentHasNoRoomForItsHeader) {
    Fits f = fixture::image(8, {3, 2});
    f.add("OBJECT  = 'M51'");
    f.data.assign(6, 9);
    struct Case {
        const char* name;
        int64_t failingAdd;
        bool whole;
        size_t messages;
    } cases[] = {
        {"whole record refused", 0, false, 1},
        {"a 'hist' record refused", 5, true, 0},
        {"the last 'hist' record refused", 36, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host(&ENTRYPOINT);
        host.faults().resourceAdd = Trigger::nth(c.failingAdd);
        File file = memoryFile(f.bytes());
        Outcome read = host.read(file);
        ASSERT_TRUE(read.ok()) << messagesOf(read);
        EXPECT_EQ(host.document().image.narrow, std::vector<uint8_t>(6, 9));
        EXPECT_EQ(host.document().resources.count(kHistoryResource), 0u);
        EXPECT_EQ(host.document().resources.count(kWholeHeaderResource), c.whole ? 1u : 0u);
        ASSERT_EQ(read.messages.size(), c.messages);
        if (c.messages > 0) {
            EXPECT_NE(read.messages[0].text.find("FITS header could not be kept"), std::string::npos);
        }
    }
}
