// What the fault matrix's sweeps share: the files of every sample road,
// clean reads and saves to compare with, and what every outcome owes the host.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/module_state.h"
#include "fits_fixture.h"
#include "host/result_codes.h"
#include "module_host.h"

namespace fault_matrix {

using namespace testing_host;

// ---- Inputs ------------------------------------------------------------------------

inline constexpr int kColumns = 5;
inline constexpr int kRows = 4;

struct Road {
    const char* name;
    int bitpix;
    int planes;  // in the file, and as opened (1 or 3)
    bool headerRange = false;  // DATAMIN and DATAMAX cards: 32-bit samples need no range pass
};

// Every sample road, in grey and in colour.
inline const Road kRoads[] = {
    {"8-bit grey", 8, 1},    {"16-bit grey", 16, 1}, {"32-bit grey", 32, 1}, {"float grey", -32, 1},
    {"8-bit RGB", 8, 3},     {"16-bit RGB", 16, 3},  {"32-bit RGB", 32, 3},  {"float RGB", -32, 3},
    {"32-bit grey, header range", 32, 1, true},      {"float RGB, header range", -32, 3, true},
};

// Whether the module can find the file's length decides the road wide
// samples take: with it they go to the host as they are read, without it
// only once every row is known to be there.
enum class Length { unknown, known };
inline constexpr Length kLengths[] = {Length::unknown, Length::known};

inline std::string nameOf(Length length) { return length == Length::known ? "length known" : "length unknown"; }

// A memory file of `bytes`. With the length known, the record's fileSpec
// names `copy`, the same bytes on disk.
inline File readable(const std::vector<uint8_t>& bytes, Length length, std::unique_ptr<DiskCopy>& copy) {
    if (length == Length::unknown) return File::memory(bytes);
    copy = std::make_unique<DiskCopy>(bytes);
    return copy->memory(bytes);
}

// Rows that reach the host as they are read, before the last one is: 8-bit
// rows always; wide ones once the length shows the file whole, when their
// range needs no pass of its own.
inline bool rowsGoAsRead(const Road& road, Length length) {
    if (road.bitpix == 8) return true;
    return length == Length::known && (road.bitpix == 16 || road.headerRange);
}

// A two-block header (so that cuts fall on both sides of a block boundary)
// and samples that differ everywhere.
inline std::vector<uint8_t> roadFile(const Road& road, int extraCards = 40) {
    std::vector<long long> axes = {kColumns, kRows};
    if (road.planes == 3) axes.push_back(3);
    fixture::Fits f = fixture::image(road.bitpix, axes);
    if (road.bitpix == 16) f.add("BZERO   =              32768.0");
    if (road.headerRange) {
        f.add(road.bitpix == 32 ? "DATAMIN =           -1000000.0" : "DATAMIN =                  0.0");
        f.add(road.bitpix == 32 ? "DATAMAX =            3000000.0" : "DATAMAX =                 20.0");
    }
    for (int i = 0; i < extraCards; ++i) f.add("COMMENT card " + std::to_string(i));
    for (int i = 0; i < kColumns * kRows * road.planes; ++i) {
        switch (road.bitpix) {
            case 8: f.data.push_back(static_cast<uint8_t>(i * 11 + 3)); break;
            case 16: fixture::put16(f.data, i * 1000 - 30000); break;
            case 32: fixture::put32(f.data, static_cast<uint32_t>(i * 100003 - 2000000)); break;
            case 64: fixture::put64(f.data, static_cast<uint64_t>(i * 100000000003LL - 20000000000LL)); break;
            case -64: fixture::putDouble(f.data, static_cast<double>(i) * 0.75e-3 - 3.0); break;
            default: fixture::putFloat(f.data, static_cast<float>(i) * 0.75f - 3.0f); break;
        }
    }
    return f.bytes();
}

inline size_t headerBytesOf(const Road& road) {
    return roadFile(road).size() - (static_cast<size_t>(kColumns * kRows * road.planes * std::abs(road.bitpix) / 8) +
                                    2879) / 2880 * 2880;
}

inline size_t rowBytesOf(const Road& road) { return static_cast<size_t>(kColumns * std::abs(road.bitpix) / 8); }

inline ResourceRecord recordFromCard(const std::string& card) {
    auto length = static_cast<unsigned char>(card[0]);
    ResourceRecord r(length, 0);
    for (size_t k = 0; k < length && k < 79; ++k) r[k] = static_cast<uint8_t>(card[k + 1]);
    return r;
}

// A document as saved: the image, and a kept header of `blocks` blocks when
// `keptCards` is not empty (END in the last slot forces the header to grow
// when a card must go in).
inline Document saveDocument(int planes, int depth, int16_t mode, std::vector<std::string> keptCards, bool endInLastSlot) {
    Document d = patternDocument(kRows, kColumns, planes, depth, mode);
    if (keptCards.empty()) return d;
    std::vector<std::string> cards;
    for (const std::string& c : keptCards) cards.push_back(fixture::card(c));
    size_t fill = endInLastSlot ? 35 - cards.size() % 36 : 40;
    for (size_t i = 0; i < fill; ++i) cards.push_back(fixture::card("HISTORY kept " + std::to_string(i)));
    cards.push_back(fixture::card("END"));
    while (cards.size() % 36 != 0) cards.push_back(fixture::card(""));
    for (const std::string& c : cards) d.resources[kHistoryResource].push_back(recordFromCard(c));
    return d;
}

struct SaveCase {
    const char* name;
    std::function<Document()> make;
};

inline const std::vector<SaveCase>& saveCases() {
    static const std::vector<SaveCase> cases = {
        {"8-bit grey, synthesised header", [] { return saveDocument(1, 8, plugInModeGrayScale, {}, false); }},
        {"16-bit RGB, kept header without NAXIS3 or BZERO, END in the last slot",
         [] {
             return saveDocument(3, 16, plugInModeRGBColor,
                                 {"SIMPLE  =                    T", "BITPIX  =                    8",
                                  "NAXIS   =                    2", "NAXIS1  =                    1",
                                  "NAXIS2  =                    1"},
                                 true);
         }},
        {"8-bit CMYK, kept two-block header",
         [] {
             return saveDocument(4, 8, plugInModeCMYKColor,
                                 {"SIMPLE  =                    T", "BITPIX  =                   16",
                                  "NAXIS   =                    3", "NAXIS1  =                    9",
                                  "NAXIS2  =                    9", "NAXIS3  =                    3",
                                  "BZERO   =              32768.0", "DATAMAX =              65535.0"},
                                 false);
         }},
    };
    return cases;
}

// ---- What every outcome owes -------------------------------------------------------------

inline std::string describe(const Outcome& o) {
    std::string s = std::string(resultName(o.result)) + " at " + std::string(selectorName(o.failedSelector));
    for (const std::string& v : o.violations) s += "; violation: " + v;
    for (const Leak& l : o.leaks) s += "; leak of " + std::to_string(l.bytes) + " bytes from " +
                                       std::string(selectorName(l.selector));
    for (const MessageBox& m : o.messages) s += "; message: " + m.text;
    return s;
}

// A read that answered noErr after losing memory: the image is the one a
// read with memory to spare gives, and so is the header, or the header is
// kept whole without its 'hist' records, or, with one message saying so,
// not kept at all.
inline void expectImageWithHeaderKeptOrTold(const Document& got, const Document& clean, const Outcome& o) {
    EXPECT_TRUE(got.image == clean.image) << "a read that lost memory answered noErr with other samples";
    if (got.resources == clean.resources) {
        EXPECT_TRUE(o.messages.empty()) << describe(o);
        return;
    }
    if (got.resources.count(nebulite::host::kWholeHeaderResource) != 0) {
        EXPECT_EQ(got.resources.size(), 1u) << "'hist' records stayed after some failed";
        EXPECT_EQ(got.resources.at(nebulite::host::kWholeHeaderResource), clean.resources.at(nebulite::host::kWholeHeaderResource));
        EXPECT_TRUE(o.messages.empty()) << describe(o);
        return;
    }
    EXPECT_TRUE(got.resources.empty()) << "'hist' records without the whole header";
    ASSERT_EQ(o.messages.size(), 1u) << describe(o);
    EXPECT_NE(o.messages[0].text.find("header could not be kept"), std::string::npos) << o.messages[0].text;
}


// `handlesBefore`: handles already alive when the sequence began, which it
// may give back but not add to.
inline void expectNothingLeftBehind(Host& host, const Outcome& o, size_t handlesBefore = 0) {
    EXPECT_TRUE(o.leaks.empty()) << describe(o);
    EXPECT_TRUE(o.violations.empty()) << describe(o);
    EXPECT_TRUE(o.hostFailure.empty()) << o.hostFailure;
    EXPECT_EQ(o.outOfRangeSamples, 0u);
    EXPECT_EQ(host.liveBuffers(), 0u);
    EXPECT_LE(host.liveHandles(), handlesBefore);
}

struct CleanRead {
    Outcome outcome;
    Document document;
    uint32_t headerLength = 0;
};

inline CleanRead cleanRead(const std::vector<uint8_t>& bytes, const Setup& setup = {}, Length length = Length::unknown) {
    Host host(&ENTRYPOINT, setup);
    std::unique_ptr<DiskCopy> copy;
    File file = readable(bytes, length, copy);
    CleanRead r;
    r.outcome = host.read(file);
    EXPECT_TRUE(r.outcome.ok()) << describe(r.outcome);
    r.headerLength = module_state::peekHeaderLength(host).value_or(0);
    r.document = host.takeDocument();
    return r;
}

struct CleanSave {
    Outcome outcome;
    std::vector<uint8_t> bytes;
};

inline CleanSave cleanSave(const Document& document) {
    Host host(&ENTRYPOINT);
    Document d = document;
    File file = File::memory();
    CleanSave s;
    s.outcome = host.save(d, file);
    EXPECT_TRUE(s.outcome.ok()) << describe(s.outcome);
    s.bytes = file.contents();
    return s;
}

// After any failure, the same host (faults cleared, setup restored) reads a
// file and saves a document exactly as a fresh host does.
inline void expectNextOperationsWork(Host& host) {
    const size_t handlesBefore = host.liveHandles();
    host.faults() = Faults{};
    host.setup() = Setup{};
    const Road& road = kRoads[1];
    static const CleanRead reference = cleanRead(roadFile(road));
    File file = File::memory(roadFile(road));
    Outcome read = host.read(file);
    ASSERT_TRUE(read.ok()) << "next read: " << describe(read);
    EXPECT_TRUE(host.document() == reference.document) << "next read differs from a fresh host's";
    EXPECT_EQ(module_state::peekHeaderLength(host), reference.headerLength);
    expectNothingLeftBehind(host, read, handlesBefore);

    static const CleanSave saved = cleanSave(saveCases()[1].make());
    Document d = saveCases()[1].make();
    File out = File::memory();
    Outcome save = host.save(d, out);
    ASSERT_TRUE(save.ok()) << "next save: " << describe(save);
    EXPECT_TRUE(out.contents() == saved.bytes) << "next save differs from a fresh host's";
    expectNothingLeftBehind(host, save, handlesBefore);
}

inline OSErr resultOf(const Outcome& outcome, int16_t selector) {
    for (const Call& call : outcome.calls)
        if (call.selector == selector) return call.result;
    return 1;  // not called
}


// ---- Allocations -------------------------------------------------------------------------

struct AllocationKind {
    const char* name;
    void (*fail)(Faults&, Trigger);
    int64_t (*count)(const Counters&);
};

inline const AllocationKind kAllocationKinds[] = {
    {"module handle (plug-in state)",
     [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocGlobal] = t; },
     [](const Counters& c) { return c.moduleAllocations[nebuliteAllocGlobal]; }},
    {"card buffer", [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocCardBuffer] = t; },
     [](const Counters& c) { return c.moduleAllocations[nebuliteAllocCardBuffer]; }},
    {"row block", [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocRowBlock] = t; },
     [](const Counters& c) { return c.moduleAllocations[nebuliteAllocRowBlock]; }},
    {"sample store", [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocSampleStore] = t; },
     [](const Counters& c) { return c.moduleAllocations[nebuliteAllocSampleStore]; }},
    {"other module memory", [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocOther] = t; },
     [](const Counters& c) { return c.moduleAllocations[nebuliteAllocOther]; }},
    {"host buffer", [](Faults& f, Trigger t) { f.bufferAllocate = t; },
     [](const Counters& c) { return c.bufferAllocations; }},
    {"host handle", [](Faults& f, Trigger t) { f.handleNew = t; },
     [](const Counters& c) { return c.handleAllocations; }},
    {"resource add", [](Faults& f, Trigger t) { f.resourceAdd = t; },
     [](const Counters& c) { return c.resourceAdds; }},
};


}  // namespace fault_matrix
