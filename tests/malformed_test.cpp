// Malformed files: the collection in tests/data/malformed (made by its
// generate.py, outcomes in its expected.tsv) and the long headers made here.
// Each file must get exactly its result code and message, leave nothing
// behind in the host, and not disturb the next file opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/module_state.h"
#include "fits_fixture.h"
#include "host/result_codes.h"
#include "module_host.h"

using namespace testing_host;

namespace {

namespace fs = std::filesystem;

const fs::path kDir = fs::path(NEBULITE_SOURCE_DIR) / "tests" / "data" / "malformed";

struct Row {
    std::string file;
    OSErr result = noErr;
    int16_t selector = -1;
    std::string message;
    int columns = 0, rows = 0, planes = 0, depth = 0;  // for noErr
};

OSErr codeNamed(const std::string& name) {
    for (const auto& entry : kResultCodes)
        if (entry.name == name) return entry.code;
    ADD_FAILURE() << "unknown result name " << name;
    return 1;
}

int16_t selectorNamed(const std::string& name) {
    if (name == "-") return -1;
    for (size_t i = 0; i < std::size(kSelectorNames); ++i)
        if (kSelectorNames[i] == name) return static_cast<int16_t>(i);
    ADD_FAILURE() << "unknown selector name " << name;
    return -2;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

const std::vector<Row>& table() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> out;
        std::ifstream in(kDir / "expected.tsv");
        std::string line;
        std::getline(in, line);  // column names
        while (std::getline(in, line)) {
            if (line.empty()) continue;
            std::vector<std::string> f = splitTabs(line);
            if (f.size() != 5) {
                ADD_FAILURE() << "expected.tsv: not five columns: " << line;
                continue;
            }
            Row row;
            row.file = f[0];
            row.result = codeNamed(f[1]);
            row.selector = selectorNamed(f[2]);
            row.message = f[3];
            if (f[4] != "-" && std::sscanf(f[4].c_str(), "%dx%dx%d@%d", &row.columns, &row.rows, &row.planes,
                                           &row.depth) != 4)
                ADD_FAILURE() << "expected.tsv: bad geometry " << f[4];
            out.push_back(row);
        }
        return out;
    }();
    return rows;
}

std::vector<uint8_t> slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> goodFile() {
    fixture::Fits f = fixture::image(16, {3, 2});
    f.add("BZERO   =              32768.0");
    for (int v : {-32768, -1, 0, 1, 100, 32767}) fixture::put16(f.data, v);
    return f.bytes();
}

// The next file opened on the same host comes in whole and exact.
void expectNextReadWorks(Host& host) {
    File file = File::memory(goodFile());
    Outcome next = host.read(file);
    ASSERT_TRUE(next.ok()) << "next read: " << resultName(next.result);
    EXPECT_TRUE(next.messages.empty());
    EXPECT_TRUE(next.leaks.empty());
    const Image& image = host.document().image;
    ASSERT_EQ(image.columns, 3);
    ASSERT_EQ(image.rows, 2);
    const uint32_t expected[] = {0, 16384, 16384, 16385, 16434, 32768};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(image.sample(0, i / 3, i % 3), expected[i]) << i;
}

void expectOutcome(const Row& row, const Outcome& outcome, Host& host) {
    EXPECT_EQ(resultName(outcome.result), resultName(row.result));
    EXPECT_EQ(outcome.failedSelector, row.selector) << selectorName(outcome.failedSelector);
    EXPECT_TRUE(outcome.hostFailure.empty()) << outcome.hostFailure;
    EXPECT_TRUE(outcome.leaks.empty()) << outcome.leaks.size() << " leaks";
    EXPECT_TRUE(outcome.violations.empty()) << (outcome.violations.empty() ? "" : outcome.violations[0]);
    EXPECT_EQ(outcome.outOfRangeSamples, 0u);
    if (row.message.empty()) {
        EXPECT_TRUE(outcome.messages.empty()) << outcome.messages[0].text;
    } else {
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_EQ(outcome.messages[0].text, row.message);
        EXPECT_EQ(outcome.messages[0].caption.value_or("<null>"), "Nebulite");
        EXPECT_EQ(outcome.messages[0].selector, formatSelectorReadStart);
    }
    if (row.result == noErr) {
        EXPECT_EQ(outcome.told.columns, row.columns);
        EXPECT_EQ(outcome.told.rows, row.rows);
        EXPECT_EQ(outcome.told.planes, row.planes);
        EXPECT_EQ(outcome.told.depth, row.depth);
        EXPECT_EQ(outcome.rowsMoved, int64_t{row.rows} * row.planes);
        const Image& image = host.document().image;
        EXPECT_EQ(image.columns, row.columns);
        EXPECT_EQ(image.rows, row.rows);
        // The whole header, and nothing else, became the document's records.
        uint32_t headerLength = module_state::peekHeaderLength(host).value_or(0);
        EXPECT_EQ(host.document().resources[kHistoryResource].size(), headerLength / 80);
    } else if (row.selector == formatSelectorReadStart) {
        EXPECT_EQ(outcome.rowsMoved, 0);
        EXPECT_TRUE(host.document().image.empty());
        EXPECT_TRUE(host.document().resources.empty());
    }
}

}  // namespace

TEST(MalformedFiles, TableNamesEveryFile) {
    std::vector<std::string> inTable, onDisk;
    for (const Row& row : table()) inTable.push_back(row.file);
    for (const auto& entry : fs::directory_iterator(kDir))
        if (entry.path().extension() == ".fits") onDisk.push_back(entry.path().filename().string());
    std::sort(inTable.begin(), inTable.end());
    std::sort(onDisk.begin(), onDisk.end());
    EXPECT_EQ(inTable, onDisk);
    EXPECT_GE(inTable.size(), 60u);
}

// Through a descriptor, as the CLI opens files, and from memory, where the
// module cannot look up the file's length: the same outcome either way. The
// table is what a host of 16-bit geometry gives (32767 on a side at most).
TEST(MalformedFiles, EachFileGetsItsResultAndMessage) {
    HostSetup oldHost;
    oldHost.coordinates32 = false;
    for (const Row& row : table()) {
        for (bool fromDisk : {true, false}) {
            SCOPED_TRACE(row.file + (fromDisk ? " (disk)" : " (memory)"));
            Host host(&ENTRYPOINT, oldHost);
            File file = fromDisk ? File::disk((kDir / row.file).string()) : File::memory(slurp(kDir / row.file));
            Outcome outcome = host.read(file);
            expectOutcome(row, outcome, host);
            EXPECT_EQ(host.liveBuffers(), 0u);
            EXPECT_EQ(host.liveHandles(), 0u);
            expectNextReadWorks(host);
        }
    }
}

TEST(MalformedFiles, FilterFileAgreesWithTheRead) {
    for (const Row& row : table()) {
        SCOPED_TRACE(row.file);
        std::vector<uint8_t> bytes = slurp(kDir / row.file);
        Host host(&ENTRYPOINT);
        File file = File::memory(bytes);
        Outcome filter = host.filterFile(file);
        OSErr expected = bytes.size() < 80 ? eofErr : row.result == formatCannotRead ? formatCannotRead : noErr;
        EXPECT_EQ(resultName(filter.result), resultName(expected));
        EXPECT_TRUE(filter.messages.empty());
        EXPECT_TRUE(filter.leaks.empty());
    }
}

// ---- Long headers, made here rather than stored -----------------------------------

namespace {

// An 8-bit 3 x 2 image whose header is `blocks` blocks long: the size cards,
// COMMENT cards, END in the last slot when `withEnd`.
std::vector<uint8_t> longHeader(size_t blocks, bool withEnd) {
    fixture::Fits f = fixture::image(8, {3, 2});
    size_t cards = blocks * 36 - (withEnd ? 1 : 0);
    f.cards.reserve(cards);
    while (f.cards.size() < cards) f.cards.push_back(fixture::card("COMMENT filler " + std::to_string(f.cards.size())));
    f.data = {1, 2, 3, 4, 5, 6};
    std::vector<uint8_t> bytes = f.bytes();
    if (!withEnd) {
        // fixture::Fits always ends the header; take its END block away.
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(blocks * 2880),
                    bytes.begin() + static_cast<std::ptrdiff_t>((blocks + 1) * 2880));
    }
    return bytes;
}

}  // namespace

TEST(MalformedFiles, HeaderOfAThousandBlocksOpens) {
    Host host(&ENTRYPOINT);
    File file = File::memory(longHeader(1001, true));
    Outcome outcome = host.read(file);
    ASSERT_TRUE(outcome.ok()) << resultName(outcome.result);
    EXPECT_EQ(module_state::peekHeaderLength(host), 1001u * 2880);
    EXPECT_TRUE(outcome.leaks.empty());
    EXPECT_TRUE(outcome.violations.empty());
    EXPECT_EQ(host.document().image.sample(0, 1, 2), 6u);
    expectNextReadWorks(host);
}

TEST(MalformedFiles, HeaderBeyond16384BlocksIsRefused) {
    // 16384 blocks of cards and no END: the card after them is one too many.
    std::vector<uint8_t> bytes = longHeader(16384, false);
    const std::string more = fixture::card("COMMENT one block too many");
    bytes.insert(bytes.begin() + 16384 * 2880, more.begin(), more.end());
    Host host(&ENTRYPOINT);
    File file = File::memory(std::move(bytes));
    Outcome outcome = host.read(file);
    EXPECT_EQ(outcome.result, userCanceledErr);
    EXPECT_EQ(outcome.failedSelector, formatSelectorReadStart);
    ASSERT_EQ(outcome.messages.size(), 1u);
    EXPECT_EQ(outcome.messages[0].text, "Fits Files with a header longer than 16384 blocks are not supported");
    EXPECT_EQ(outcome.messages[0].caption.value_or("<null>"), "Nebulite");
    EXPECT_TRUE(outcome.leaks.empty());
    EXPECT_TRUE(outcome.violations.empty());
    expectNextReadWorks(host);
}

// Headers past the primary have the primary's limit, and so has the header
// the document keeps when both are merged.
TEST(MalformedFiles, LongHeadersAroundAnExtensionImage) {
    auto withComments = [](fixture::Fits f, size_t cards) {
        while (f.cards.size() < cards) f.cards.push_back(fixture::card("COMMENT filler " + std::to_string(f.cards.size())));
        return f;
    };
    auto image = [](size_t cards) {
        fixture::Fits f = fixture::extension(8, {3, 2});
        while (f.cards.size() < cards) f.cards.push_back(fixture::card("HISTORY filler " + std::to_string(f.cards.size())));
        f.data = {1, 2, 3, 4, 5, 6};
        return f;
    };
    const fixture::Fits primary = fixture::image(8, {});
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"an extension header of 16385 blocks", fixture::join({primary.bytes(), image(16384 * 36 + 1).bytes()})},
        {"two headers of 9000 blocks, merged", fixture::join({withComments(primary, 9000 * 36 - 1).bytes(),
                                                              image(9000 * 36 - 1).bytes()})},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host(&ENTRYPOINT);
        File file = File::memory(std::move(c.bytes));
        Outcome outcome = host.read(file);
        EXPECT_EQ(outcome.result, userCanceledErr);
        EXPECT_EQ(outcome.failedSelector, formatSelectorReadStart);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_EQ(outcome.messages[0].text, "Fits Files with a header longer than 16384 blocks are not supported");
        EXPECT_TRUE(outcome.leaks.empty());
        expectNextReadWorks(host);
    }
}
