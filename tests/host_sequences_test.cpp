// The reference host against a small stand-in module, so that the host's
// side of the protocol is checked independently of the real module: the
// order of the selectors, advanceState's checks and moves, the suites,
// leak accounting and every fault the host can inject.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host.h"
#include "host/result_codes.h"
#include "platform/host_hooks.h"
#include "platform/platform.h"
#include "platform/win32.h"

namespace {

// The record is packed as the host packs it: a member may sit off its natural
// alignment, so the checks take it by value, never by reference.
template <typename T>
T byValue(T member) {
    return member;
}

using namespace nebulite::host;

// ---- The stand-in module -------------------------------------------------------

struct Fake {
    // What ReadStart tells the host.
    int16_t rows = 2;
    int16_t columns = 3;
    int16_t depth = 8;
    int16_t planes = 1;
    int16_t mode = plugInModeGrayScale;

    std::map<int16_t, OSErr> failAt;                  // selector -> result, nothing else done
    std::function<void(FormatRecord&)> beforeAdvance; // bends a request before advanceState
    std::function<uint32_t(int, int, int)> sampleFor; // what a read hands over
    bool leakBuffer = false;
    bool leakHandle = false;
    bool keepImageResources = false;
    bool keepDescriptor = false;
    std::vector<uint8_t> history;                     // added as a 'hist' record when non-empty
    std::vector<int> allocationKinds;                 // asked of the hook in ReadPrepare

    // What it saw.
    std::vector<DescriptorKeyID> keysSeen;
    OSErr closeResult = 1;
    OSErr addResult = 1;
    std::vector<bool> allocationAnswers;
    std::string specName;
    bool specEndsInNul = false;
    std::string specTextAt9;
    std::vector<uint32_t> pulled;  // samples a write received, in row order
};

Fake g_fake;

uint32_t defaultSample(int plane, int row, int column) {
    return static_cast<uint32_t>(plane * 50 + row * 10 + column + 1);
}

OSErr moveRows(FormatRecord& r, bool reading) {
    int bytes = r.depth / 8;
    int32_t rowBytes = r.imageSize.h * bytes;
    BufferID id = nullptr;
    if (OSErr e = r.bufferProcs->allocateProc(rowBytes, &id); e != noErr) return e;
    auto* row = reinterpret_cast<uint8_t*>(r.bufferProcs->lockProc(id, false));
    OSErr result = noErr;
    int32_t total = int32_t{r.imageSize.v} * r.planes;
    int32_t done = 0;
    for (int16_t plane = 0; plane < r.planes && result == noErr; ++plane) {
        for (int16_t y = 0; y < r.imageSize.v && result == noErr; ++y) {
            r.theRect = {y, 0, static_cast<int16_t>(y + 1), r.imageSize.h};
            r.loPlane = r.hiPlane = plane;
            r.colBytes = static_cast<int16_t>(bytes);
            r.rowBytes = rowBytes;
            r.planeBytes = 0;
            r.data = row;
            if (reading) {
                for (int x = 0; x < r.imageSize.h; ++x) {
                    uint32_t v = g_fake.sampleFor ? g_fake.sampleFor(plane, y, x) : defaultSample(plane, y, x);
                    if (bytes == 2) {
                        auto w = static_cast<uint16_t>(v);
                        std::memcpy(row + x * 2, &w, 2);
                    } else {
                        row[x] = static_cast<uint8_t>(v);
                    }
                }
            }
            if (g_fake.beforeAdvance) g_fake.beforeAdvance(r);
            result = r.advanceState();
            if (result == noErr && !reading) {
                for (int x = 0; x < r.imageSize.h; ++x) {
                    uint16_t w = row[x];
                    if (bytes == 2) std::memcpy(&w, row + x * 2, 2);
                    g_fake.pulled.push_back(w);
                }
                UINT written = _lwrite(static_cast<HFILE>(r.dataFork), reinterpret_cast<LPCSTR>(row), static_cast<UINT>(rowBytes));
                if (written != static_cast<UINT>(rowBytes)) result = writErr;
            }
            if (r.progressProc != nullptr) r.progressProc(++done, total);
        }
    }
    r.data = nullptr;
    r.bufferProcs->unlockProc(id);
    if (!g_fake.leakBuffer) r.bufferProcs->freeProc(id);
    return result;
}

void readStart(FormatRecord& r) {
    r.imageRsrcData = r.handleProcs->newProc(0);
    if (PIDescriptorParameters* d = r.descriptorParameters; d != nullptr && d->descriptor != nullptr) {
        PIReadDescriptor token = d->readDescriptorProcs->openReadDescriptorProc(d->descriptor, nullptr);
        DescriptorKeyID key = 0;
        DescriptorTypeID type = 0;
        int32_t flags = 0;
        while (d->readDescriptorProcs->getKeyProc(token, &key, &type, &flags)) g_fake.keysSeen.push_back(key);
        g_fake.closeResult = d->readDescriptorProcs->closeReadDescriptorProc(token);
        if (!g_fake.keepDescriptor) {
            r.handleProcs->disposeProc(d->descriptor);
            d->descriptor = nullptr;
        }
    }
    r.imageSize = {g_fake.rows, g_fake.columns};
    r.depth = g_fake.depth;
    r.planes = g_fake.planes;
    r.imageMode = g_fake.mode;
}

OSErr readContinue(FormatRecord& r) {
    if (!g_fake.keepImageResources) {
        r.handleProcs->disposeProc(r.imageRsrcData);
        r.imageRsrcData = nullptr;
    }
    if (g_fake.leakHandle) r.handleProcs->newProc(16);
    if (!g_fake.history.empty()) {
        Handle h = r.handleProcs->newProc(static_cast<int32_t>(g_fake.history.size()));
        std::memcpy(*h, g_fake.history.data(), g_fake.history.size());
        g_fake.addResult = r.resourceProcs->addProc(kHistoryResource, h);
        r.handleProcs->disposeProc(h);
    }
    return moveRows(r, true);
}

OSErr filterFile(FormatRecord& r) {
    const uint8_t* name = r.fileSpec->name;
    g_fake.specName.assign(reinterpret_cast<const char*>(name + 1), name[0]);
    g_fake.specEndsInNul = name[name[0] + 1] == 0;
    g_fake.specTextAt9 = reinterpret_cast<const char*>(r.fileSpec) + 9;
    char magic[6];
    UINT n = _lread(static_cast<HFILE>(r.dataFork), magic, sizeof magic);
    if (n == static_cast<UINT>(HFILE_ERROR)) return readErr;
    if (n < sizeof magic) return eofErr;
    return std::memcmp(magic, "SIMPLE", 6) == 0 ? noErr : formatCannotRead;
}

extern "C" void fakeEntry(int16_t selector, void* params, intptr_t* data, int16_t* result) {
    *result = noErr;
    if (*data == 0) *data = 1;  // the cell survives between calls; nothing is kept in it
    if (auto it = g_fake.failAt.find(selector); it != g_fake.failAt.end()) {
        *result = it->second;
        return;
    }
    if (selector == formatSelectorAbout) {
        auto* about = static_cast<AboutRecord*>(params);
        MessageBoxA(reinterpret_cast<HWND>(static_cast<PlatformData*>(about->platformData)->hwnd), "Fake \xAE 1.0", nullptr, MB_OK);
        return;
    }
    auto& r = *static_cast<FormatRecord*>(params);
    switch (selector) {
        case formatSelectorReadPrepare:
            for (int kind : g_fake.allocationKinds)
                g_fake.allocationAnswers.push_back(nebulitePlatformAllocationFails(kind, 100));
            break;
        case formatSelectorReadStart: readStart(r); break;
        case formatSelectorReadContinue: *result = readContinue(r); break;
        case formatSelectorWriteStart: *result = moveRows(r, false); break;
        case formatSelectorFilterFile: *result = filterFile(r); break;
        default: break;
    }
}

class HostSequences : public ::testing::Test {
protected:
    void SetUp() override { g_fake = Fake{}; }
    void TearDown() override { g_fake = Fake{}; }
};

std::vector<uint8_t> fitsStart() {
    std::string card = "SIMPLE  =                    T";
    card.resize(2880, ' ');
    return {card.begin(), card.end()};
}

// ---- About ------------------------------------------------------------------------

TEST_F(HostSequences, AboutBoxIsOwnedByTheHostWindowAndHasANullCaption) {
    Host host(&fakeEntry);
    Outcome outcome = host.about();
    ASSERT_TRUE(outcome.ok());
    ASSERT_EQ(outcome.messages.size(), 1u);
    const MessageBox& box = outcome.messages[0];
    EXPECT_EQ(box.owner, kFakeWindow);
    EXPECT_FALSE(box.caption.has_value());
    EXPECT_EQ(box.text, "Fake \xAE 1.0");
    EXPECT_EQ(ansiToUtf8(box.text), "Fake \xC2\xAE 1.0");
    EXPECT_EQ(box.selector, formatSelectorAbout);
}

TEST(HostText, AnsiToUtf8MapsTheWindows1252Block) {
    EXPECT_EQ(ansiToUtf8("\xA9"), "\xC2\xA9");
    EXPECT_EQ(ansiToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
    EXPECT_EQ(ansiToUtf8("\x99"), "\xE2\x84\xA2");  // trade mark
    EXPECT_EQ(ansiToUtf8("\xFF"), "\xC3\xBF");
    EXPECT_EQ(ansiToUtf8("plain"), "plain");
}

// ---- Reads ------------------------------------------------------------------------

TEST_F(HostSequences, ReadMovesEveryRowIntoTheDocument) {
    g_fake.planes = 3;
    g_fake.mode = plugInModeRGBColor;
    Host host(&fakeEntry);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    ASSERT_TRUE(outcome.ok()) << resultName(outcome.result);
    EXPECT_EQ(outcome.selectors(), (std::vector<int16_t>{1, 2, 3, 4}));
    EXPECT_TRUE(outcome.violations.empty()) << outcome.violations[0];
    EXPECT_TRUE(outcome.leaks.empty());
    EXPECT_EQ(outcome.rowsMoved, 6);
    EXPECT_EQ(outcome.told.rows, 2);
    EXPECT_EQ(outcome.told.columns, 3);
    EXPECT_EQ(outcome.told.planes, 3);
    const Image& image = host.document().image;
    ASSERT_EQ(image.planes, 3);
    EXPECT_EQ(image.mode, plugInModeRGBColor);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) EXPECT_EQ(image.sample(p, y, x), defaultSample(p, y, x));
    ASSERT_EQ(outcome.progress.size(), 6u);
    EXPECT_EQ(outcome.progress.back().done, 6);
    EXPECT_EQ(outcome.progress.back().total, 6);
}

struct StepFailure {
    int16_t failing;
    std::vector<int16_t> expected;
};

class ReadStopsAtFirstFailure : public HostSequences, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(ReadStopsAtFirstFailure, ButAlwaysSendsReadFinish) {
    g_fake.failAt[GetParam().failing] = eofErr;
    Host host(&fakeEntry);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    EXPECT_EQ(outcome.result, eofErr);
    EXPECT_EQ(outcome.failedSelector, GetParam().failing);
    EXPECT_EQ(outcome.selectors(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ReadStopsAtFirstFailure,
    ::testing::Values(StepFailure{formatSelectorReadPrepare, {1, 4}},
                      StepFailure{formatSelectorReadStart, {1, 2, 4}},
                      StepFailure{formatSelectorReadContinue, {1, 2, 3, 4}},
                      StepFailure{formatSelectorReadFinish, {1, 2, 3, 4}}));

TEST_F(HostSequences, InfoSkipsTheSamples) {
    Host host(&fakeEntry);
    File file = File::memory(fitsStart());
    Outcome outcome = host.info(file);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.selectors(), (std::vector<int16_t>{1, 2, 4}));
    EXPECT_EQ(outcome.rowsMoved, 0);
    EXPECT_EQ(outcome.told.columns, 3);
}

struct BadGeometry {
    const char* name;
    int16_t rows, columns, depth, planes;
    OSErr expected;
};

class ReadRefusesDocuments : public HostSequences, public ::testing::WithParamInterface<BadGeometry> {};

TEST_P(ReadRefusesDocuments, ItCannotMake) {
    const BadGeometry& g = GetParam();
    g_fake.rows = g.rows;
    g_fake.columns = g.columns;
    g_fake.depth = g.depth;
    g_fake.planes = g.planes;
    nebulite::host::Setup setup;
    setup.maxImageBytes = 1000;
    Host host(&fakeEntry, setup);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    EXPECT_EQ(outcome.result, g.expected);
    EXPECT_EQ(outcome.failedSelector, formatSelectorReadStart);
    EXPECT_FALSE(outcome.hostFailure.empty());
    EXPECT_EQ(outcome.selectors(), (std::vector<int16_t>{1, 2, 4}));
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, ReadRefusesDocuments,
    ::testing::Values(BadGeometry{"NoRows", 0, 3, 8, 1, formatBadParameters},
                      BadGeometry{"NegativeColumns", 2, -3, 8, 1, formatBadParameters},
                      BadGeometry{"Depth12", 2, 3, 12, 1, formatBadParameters},
                      BadGeometry{"NoPlanes", 2, 3, 8, 0, formatBadParameters},
                      BadGeometry{"TooLarge", 100, 100, 8, 1, memFullErr}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- advanceState -------------------------------------------------------------------

struct BentRequest {
    const char* name;
    std::function<void(FormatRecord&)> bend;
    const char* mentions;
};

class AdvanceStateChecks : public HostSequences, public ::testing::WithParamInterface<BentRequest> {};

TEST_P(AdvanceStateChecks, RecordsTheViolationAndMovesNothing) {
    g_fake.planes = 2;
    g_fake.mode = plugInModeMultichannel;
    g_fake.beforeAdvance = GetParam().bend;
    Host host(&fakeEntry);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    ASSERT_FALSE(outcome.violations.empty());
    EXPECT_NE(outcome.violations[0].find(GetParam().mentions), std::string::npos) << outcome.violations[0];
    EXPECT_EQ(outcome.rowsMoved, 0);
    for (uint8_t v : host.document().image.narrow) EXPECT_EQ(v, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, AdvanceStateChecks,
    ::testing::Values(
        BentRequest{"RowBelowImage", [](FormatRecord& r) { r.theRect.top = 2; r.theRect.bottom = 3; }, "rows"},
        BentRequest{"NegativeTop", [](FormatRecord& r) { r.theRect.top = -1; }, "rows"},
        BentRequest{"TwoRows", [](FormatRecord& r) { r.theRect.top = 0; r.theRect.bottom = 2; }, "not one"},
        BentRequest{"RightBeyondColumns", [](FormatRecord& r) { r.theRect.right = 4; }, "columns"},
        BentRequest{"EmptyColumns", [](FormatRecord& r) { r.theRect.right = r.theRect.left; }, "columns"},
        BentRequest{"PlaneBeyond", [](FormatRecord& r) { r.loPlane = r.hiPlane = 2; }, "planes"},
        BentRequest{"TwoPlanes", [](FormatRecord& r) { r.loPlane = 0; r.hiPlane = 1; }, "not one"},
        BentRequest{"NullData", [](FormatRecord& r) { r.data = nullptr; }, "data is null"},
        BentRequest{"NarrowColBytes", [](FormatRecord& r) { r.colBytes = 0; }, "colBytes"},
        BentRequest{"ShortRowBytes", [](FormatRecord& r) { r.rowBytes = 2; }, "rowBytes"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(HostSequences, AdvanceStateHonoursColBytesStride) {
    // One plane of an interleaved buffer: every other byte belongs to it.
    g_fake.beforeAdvance = [](FormatRecord& r) {
        static uint8_t wide[6];
        auto* row = static_cast<uint8_t*>(r.data);
        for (int x = 0; x < 3; ++x) {
            wide[2 * x] = row[x];
            wide[2 * x + 1] = 0xEE;
        }
        r.data = wide;
        r.colBytes = 2;
        r.rowBytes = 6;
    };
    Host host(&fakeEntry);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    ASSERT_TRUE(outcome.violations.empty()) << outcome.violations[0];
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(host.document().image.sample(0, y, x), defaultSample(0, y, x));
}

TEST_F(HostSequences, SixteenBitSamplesAbove32768AreCounted) {
    g_fake.depth = 16;
    g_fake.rows = 1;
    g_fake.columns = 5;
    const uint32_t values[] = {0, 32767, 32768, 32769, 65535};
    g_fake.sampleFor = [&](int, int, int x) { return values[x]; };
    Host host(&fakeEntry);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.outOfRangeSamples, 2u);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(host.document().image.sample(0, 0, x), values[x]);
}

TEST_F(HostSequences, AdvanceStateFailsAtTheRequestedRowAcrossPlanes) {
    g_fake.planes = 2;
    g_fake.mode = plugInModeMultichannel;
    for (int64_t k = 0; k < 4; ++k) {
        Host host(&fakeEntry);
        host.faults().advanceState = Trigger::nth(k);
        host.faults().advanceStateCode = userCanceledErr;
        File file = File::memory(fitsStart());
        Outcome outcome = host.read(file);
        EXPECT_EQ(outcome.result, userCanceledErr) << k;
        EXPECT_EQ(outcome.counters.advanceStateCalls, k + 1);
        EXPECT_EQ(outcome.rowsMoved, k);
        EXPECT_TRUE(outcome.leaks.empty());
    }
}

// ---- Leaks ---------------------------------------------------------------------------

TEST_F(HostSequences, LeaksAreReportedByKind) {
    struct Case {
        const char* name;
        bool Fake::*flag;
        Leak::Kind kind;
    };
    const Case cases[] = {
        {"buffer", &Fake::leakBuffer, Leak::Kind::buffer},
        {"handle", &Fake::leakHandle, Leak::Kind::handle},
        {"image resources", &Fake::keepImageResources, Leak::Kind::handle},
        {"descriptor", &Fake::keepDescriptor, Leak::Kind::descriptor},
    };
    for (const Case& c : cases) {
        g_fake = Fake{};
        g_fake.*c.flag = true;
        Host host(&fakeEntry);
        File file = File::memory(fitsStart());
        Outcome outcome = host.read(file);
        ASSERT_EQ(outcome.leaks.size(), 1u) << c.name;
        EXPECT_EQ(outcome.leaks[0].kind, c.kind) << c.name;
        // Reported once: the next sequence starts clean.
        g_fake.*c.flag = false;
        File again = File::memory(fitsStart());
        EXPECT_TRUE(host.read(again).leaks.empty()) << c.name;
    }
}

// ---- Suites -----------------------------------------------------------------------

template <typename Suite>
std::vector<bool> routinesPresent(const Suite* suite, size_t first, size_t count) {
    std::vector<bool> present;
    auto* bytes = reinterpret_cast<const unsigned char*>(suite);
    for (size_t i = 0; i < count; ++i) {
        void* p = nullptr;
        std::memcpy(&p, bytes + first + i * sizeof(void*), sizeof p);
        present.push_back(p != nullptr);
    }
    return present;
}

TEST(HostSuites, NullRoutineLeavesExactlyThatRoutineNull) {
    struct Case {
        const char* name;
        SuiteShape Setup::*shape;
        size_t routines;
    };
    const Case cases[] = {
        {"buffer", &Setup::buffer, 5},
        {"resource", &Setup::resource, 4},
        {"handle", &Setup::handle, 8},
        {"read descriptor", &Setup::readDescriptor, 18},
        {"write descriptor", &Setup::writeDescriptor, 16},
    };
    for (const Case& c : cases) {
        for (int index = -1; index < static_cast<int>(c.routines); ++index) {
            nebulite::host::Setup setup;
            (setup.*c.shape).nullRoutine = index;
            Host host(&fakeEntry, setup);
            host.begin();
            const FormatRecord& r = host.record();
            std::vector<bool> present;
            std::string name = c.name;
            if (name == "buffer") present = routinesPresent(r.bufferProcs, offsetof(BufferProcs, allocateProc), 5);
            if (name == "resource") present = routinesPresent(r.resourceProcs, offsetof(ResourceProcs, countProc), 4);
            if (name == "handle") present = routinesPresent(r.handleProcs, offsetof(HandleProcs, newProc), 8);
            if (name == "read descriptor")
                present = routinesPresent(r.descriptorParameters->readDescriptorProcs,
                                          offsetof(ReadDescriptorProcs, openReadDescriptorProc), 18);
            if (name == "write descriptor")
                present = routinesPresent(r.descriptorParameters->writeDescriptorProcs,
                                          offsetof(WriteDescriptorProcs, openWriteDescriptorProc), 16);
            for (int i = 0; i < static_cast<int>(c.routines); ++i)
                EXPECT_EQ(present[static_cast<size_t>(i)], i != index) << c.name << " null " << index << " at " << i;
        }
    }
}

TEST(HostSuites, ShapesReachTheRecord) {
    nebulite::host::Setup setup;
    setup.buffer = {true, 3, 4, -1};
    setup.resource.present = false;
    setup.handle = {true, 1, 7, -1};
    setup.descriptorParameters.present = false;
    setup.advanceState = false;
    setup.progress = false;
    Host host(&fakeEntry, setup);
    host.begin();
    const FormatRecord& r = host.record();
    ASSERT_NE(byValue(r.bufferProcs), nullptr);
    EXPECT_EQ(r.bufferProcs->bufferProcsVersion, 3);
    EXPECT_EQ(r.bufferProcs->numBufferProcs, 4);
    EXPECT_EQ(byValue(r.resourceProcs), nullptr);
    EXPECT_EQ(r.handleProcs->numHandleProcs, 7);
    EXPECT_EQ(byValue(r.descriptorParameters), nullptr);
    EXPECT_EQ(byValue(r.advanceState), nullptr);
    EXPECT_EQ(byValue(r.progressProc), nullptr);
    ASSERT_NE(byValue(r.platformData), nullptr);
    EXPECT_EQ(static_cast<const PlatformData*>(r.platformData)->hwnd, kFakeWindow);
    EXPECT_EQ(host.aboutRecord().platformData, byValue(r.platformData));
}

// What the editor sets in a fresh record besides the suites, and nothing
// else: a module may read any member it knows of.
TEST(HostSuites, TheRecordIsFilledAsTheEditorFillsIt) {
    Host host(&fakeEntry);
    host.begin();
    const FormatRecord& r = host.record();
    EXPECT_EQ(r.hostSig, 0x3842494Du);  // '8BIM'
    ASSERT_NE(byValue(r.abortProc), nullptr);
    EXPECT_FALSE(r.abortProc());
    EXPECT_EQ(r.imageHRes, 72 << 16);
    EXPECT_EQ(r.imageVRes, 72 << 16);
    for (int16_t plane = 0; plane < 16; ++plane) EXPECT_EQ(r.planeMap[plane], plane);
    EXPECT_EQ(r.maxData, nebulite::host::Setup{}.maxData);
    EXPECT_EQ(r.bufferProcs->numBufferProcs, 8);
    EXPECT_EQ(r.serialNumber, 0);
    EXPECT_EQ(r.descriptorParameters->descriptor, nullptr);
    const auto* tail = reinterpret_cast<const unsigned char*>(&r.reserved);
    EXPECT_TRUE(std::all_of(tail, tail + sizeof r.reserved, [](unsigned char b) { return b == 0; }));
}

TEST_F(HostSequences, ScriptKeysAreYieldedInOrderAndCloseAnswersTheConfiguredCode) {
    nebulite::host::Setup setup;
    const std::vector<DescriptorKeyID> keys = {0x6B657931, 0x6B657932, 0x6B657933};
    for (DescriptorKeyID k : keys) setup.script.descriptor.items.push_back(DescriptorItem::ofInteger(k, 7));
    setup.script.closeCode = errMissingParameter;
    Host host(&fakeEntry, setup);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    EXPECT_EQ(g_fake.keysSeen, keys);
    EXPECT_EQ(g_fake.closeResult, errMissingParameter);
    EXPECT_TRUE(outcome.leaks.empty());
    EXPECT_TRUE(outcome.violations.empty()) << outcome.violations[0];
}

TEST_F(HostSequences, NoScriptMeansNoDescriptorHandle) {
    nebulite::host::Setup setup;
    setup.script.present = false;
    Host host(&fakeEntry, setup);
    File file = File::memory(fitsStart());
    host.read(file);
    EXPECT_TRUE(g_fake.keysSeen.empty());
    EXPECT_EQ(g_fake.closeResult, 1);  // never opened
}

TEST(HostResources, IndicesAreOneBasedInInsertionOrder) {
    Document document;
    document.resources[kHistoryResource] = {{'a'}, {'b', 'b'}, {'c'}};
    static ResourceProcs* seen;
    static std::vector<std::string> got;
    static int16_t count;
    got.clear();
    Host probe(+[](int16_t, void*, intptr_t*, int16_t* result) {
        *result = noErr;
        count = seen->countProc(kHistoryResource);
        for (int16_t i = 0; i <= count + 1; ++i) {
            Handle h = seen->getProc(kHistoryResource, i);
            got.push_back(h == nullptr ? "null" : std::string(*h, 1));
        }
        seen->deleteProc(kHistoryResource, 2);
    });
    probe.begin();
    probe.useDocument(document, false);
    seen = probe.record().resourceProcs;
    EXPECT_EQ(probe.call(formatSelectorEstimatePrepare), noErr);
    Outcome outcome = probe.end();
    EXPECT_EQ(count, 3);
    EXPECT_EQ(got, (std::vector<std::string>{"null", "a", "b", "c", "null"}));
    ASSERT_EQ(document.resources[kHistoryResource].size(), 2u);
    EXPECT_EQ(document.resources[kHistoryResource][1], (ResourceRecord{'c'}));
    EXPECT_TRUE(outcome.leaks.empty());  // the handles getProc made are the host's
    EXPECT_TRUE(outcome.violations.empty()) << outcome.violations[0];
    // Outside a call there is no current host, and the suite answers nothing.
    EXPECT_EQ(seen->countProc(kHistoryResource), 0);
}

TEST_F(HostSequences, AddedResourcesReachTheDocumentAndFailOnRequest) {
    g_fake.history = {'S', 'I', 'M'};
    {
        Host host(&fakeEntry);
        File file = File::memory(fitsStart());
        ASSERT_TRUE(host.read(file).ok());
        EXPECT_EQ(g_fake.addResult, noErr);
        EXPECT_EQ(host.document().resources[kHistoryResource],
                  (std::vector<ResourceRecord>{{'S', 'I', 'M'}}));
    }
    {
        Host host(&fakeEntry);
        host.faults().resourceAdd = Trigger::always();
        host.faults().resourceAddCode = memFullErr;
        File file = File::memory(fitsStart());
        host.read(file);
        EXPECT_EQ(g_fake.addResult, memFullErr);
        EXPECT_TRUE(host.document().resources.empty());
    }
}

TEST(HostHandles, MisuseIsRecordedNotFatal) {
    static HandleProcs* procs;
    Host host(+[](int16_t, void*, intptr_t*, int16_t* result) {
        *result = noErr;
        Handle h = procs->newProc(4);
        std::memcpy(*h, "abcd", 4);
        EXPECT_EQ(procs->setSizeProc(h, 8), noErr);
        EXPECT_EQ(std::string(*h, 4), "abcd");  // resizing keeps the data
        EXPECT_EQ(procs->getSizeProc(h), 8);
        procs->disposeProc(h);
        procs->disposeProc(h);       // twice
        procs->unlockProc(procs->newProc(1));  // unlocked without a lock (and leaked)
        char* stray[1] = {nullptr};
        EXPECT_EQ(procs->getSizeProc(stray), 0);  // not the host's
    });
    host.begin();
    procs = host.record().handleProcs;
    host.call(formatSelectorEstimatePrepare);
    Outcome outcome = host.end();
    EXPECT_EQ(outcome.violations.size(), 3u);
    EXPECT_EQ(outcome.leaks.size(), 1u);
}

// ---- Fault injection ----------------------------------------------------------------

TEST_F(HostSequences, BufferAllocationFailsOnRequest) {
    Host host(&fakeEntry);
    host.faults().bufferAllocate = Trigger::nth(0);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    EXPECT_EQ(outcome.result, memFullErr);
    EXPECT_EQ(outcome.failedSelector, formatSelectorReadContinue);
    EXPECT_EQ(host.liveBuffers(), 0u);
}

TEST_F(HostSequences, HandleAllocationFailsOnRequest) {
    static Handle got = reinterpret_cast<Handle>(1);
    static HandleProcs* procs;
    Host host(+[](int16_t, void*, intptr_t*, int16_t* result) {
        *result = noErr;
        got = procs->newProc(8);
    });
    host.faults().handleNew = Trigger::nth(1);
    host.begin();
    procs = host.record().handleProcs;
    host.call(formatSelectorEstimatePrepare);
    EXPECT_NE(got, nullptr);
    host.call(formatSelectorEstimatePrepare);
    EXPECT_EQ(got, nullptr);
    host.call(formatSelectorEstimatePrepare);
    EXPECT_NE(got, nullptr);
    EXPECT_EQ(host.end().leaks.size(), 2u);
}

TEST_F(HostSequences, ModuleAllocationsFailByKindAndIndex) {
    g_fake.allocationKinds = {nebuliteAllocCardBuffer, nebuliteAllocCardBuffer, nebuliteAllocGlobal,
                              nebuliteAllocCardBuffer, nebuliteAllocSampleStore};
    Host host(&fakeEntry);
    host.faults().moduleAllocation[nebuliteAllocCardBuffer] = Trigger::from(1);
    File file = File::memory(fitsStart());
    Outcome outcome = host.read(file);
    EXPECT_EQ(g_fake.allocationAnswers, (std::vector<bool>{false, true, false, true, false}));
    EXPECT_EQ(outcome.counters.moduleAllocations[nebuliteAllocCardBuffer], 3);
    EXPECT_EQ(outcome.counters.moduleAllocations[nebuliteAllocGlobal], 1);
}

TEST(HostTrigger, FiresWhereAsked) {
    EXPECT_FALSE(Trigger::never().fires(0));
    EXPECT_TRUE(Trigger::always().fires(0));
    EXPECT_TRUE(Trigger::always().fires(99));
    EXPECT_FALSE(Trigger::nth(2).fires(1));
    EXPECT_TRUE(Trigger::nth(2).fires(2));
    EXPECT_FALSE(Trigger::nth(2).fires(3));
    EXPECT_FALSE(Trigger::from(2).fires(1));
    EXPECT_TRUE(Trigger::from(2).fires(3));
}

// ---- Files ------------------------------------------------------------------------

struct FileCase {
    const char* name;
    std::function<File()> make;
    OSErr expected;
};

class FilterFileOn : public HostSequences, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FilterFileOn, AnswersWhatTheFileAllows) {
    Host host(&fakeEntry);
    File file = GetParam().make();
    Outcome outcome = host.filterFile(file);
    EXPECT_EQ(outcome.result, GetParam().expected) << resultName(outcome.result);
    EXPECT_EQ(outcome.selectors(), (std::vector<int16_t>{formatSelectorFilterFile}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, FilterFileOn,
    ::testing::Values(
        FileCase{"Fits", [] { return File::memory(fitsStart()); }, noErr},
        FileCase{"NotFits", [] { return File::memory({'P', '5', ' ', '1', ' ', '1'}); }, formatCannotRead},
        FileCase{"FailingReads", [] { return std::move(File::memory(fitsStart()).failReadsFrom(0)); }, readErr},
        FileCase{"LaterReadsFail", [] { return std::move(File::memory(fitsStart()).failReadsFrom(1)); }, noErr},
        FileCase{"EndsEarly", [] { return std::move(File::memory(fitsStart()).endReadsAt(4)); }, eofErr},
        FileCase{"Empty", [] { return File::memory({}); }, eofErr}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(HostSequences, FileSpecHoldsThePathAsAPascalStringEndedWithNul) {
    Host host(&fakeEntry);
    File file = File::memory(fitsStart(), "/no/such/dir/m51.fits");
    host.filterFile(file);
    EXPECT_EQ(g_fake.specName, "/no/such/dir/m51.fits");
    EXPECT_TRUE(g_fake.specEndsInNul);
    EXPECT_EQ(g_fake.specTextAt9, "/no/such/dir/m51.fits");
}

TEST_F(HostSequences, DiskFilesAreRealDescriptors) {
    char name[] = "/tmp/nebulite-host-test-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> bytes = fitsStart();
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    Host host(&fakeEntry);
    File file = File::disk(name);
    host.begin();
    ASSERT_TRUE(host.attach(file, false));
    EXPECT_NE(fcntl(host.record().dataFork, F_GETFD), -1);  // the module can read it directly
    EXPECT_EQ(host.call(formatSelectorFilterFile), noErr);
    host.end();
    EXPECT_EQ(file.readCalls(), 0);  // the host served none of the reads
    EXPECT_EQ(g_fake.specName, name);
    ::unlink(name);

    File missing = File::disk("/nonexistent/nebulite.fits");
    Outcome outcome = host.filterFile(missing);
    EXPECT_EQ(outcome.result, readErr);
    EXPECT_TRUE(outcome.calls.empty());
    EXPECT_NE(outcome.hostFailure.find("/nonexistent/nebulite.fits"), std::string::npos);
}

TEST_F(HostSequences, AFileOpenedForWritingHoldsOnlyWhatIsWritten) {
    // Whatever the path held before (nothing, an empty file, a longer file),
    // the file ends holding just the bytes written through the descriptor.
    const std::vector<uint8_t> written = fitsStart();
    struct Case {
        const char* name;
        std::optional<size_t> before;  // bytes already there; none: no file
    } cases[] = {{"no file", std::nullopt}, {"an empty file", 0}, {"a longer file", 3 * written.size()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char name[] = "/tmp/nebulite-host-test-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        const std::vector<uint8_t> old(c.before.value_or(0), 'x');
        ASSERT_EQ(::write(fd, old.data(), old.size()), static_cast<ssize_t>(old.size()));
        ::close(fd);
        if (!c.before) ::unlink(name);
        Host host(&fakeEntry);
        File file = File::disk(name);
        host.begin();
        ASSERT_TRUE(host.attach(file, true));
        const auto out = static_cast<int>(host.record().dataFork);
        ASSERT_EQ(::write(out, written.data(), written.size()), static_cast<ssize_t>(written.size()));
        host.detach();
        host.end();
        std::ifstream back(name, std::ios::binary);
        std::vector<uint8_t> contents((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(contents == written);
        ::unlink(name);
    }
}

// ---- Writes -----------------------------------------------------------------------------

Document smallDocument(int depth) {
    Document d;
    d.image.rows = 2;
    d.image.columns = 3;
    d.image.planes = 1;
    d.image.depth = static_cast<int16_t>(depth);
    d.image.allocate();
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) d.image.setSample(0, y, x, depth == 16 ? 32768u - y * 3 - x : 200u + y * 3 + x);
    return d;
}

TEST_F(HostSequences, WriteHandsTheDocumentRowsToTheModule) {
    for (int depth : {8, 16}) {
        g_fake = Fake{};
        Host host(&fakeEntry);
        Document document = smallDocument(depth);
        File file = File::memory();
        Outcome outcome = host.write(document, file);
        ASSERT_TRUE(outcome.ok()) << depth;
        EXPECT_EQ(outcome.selectors(), (std::vector<int16_t>{13, 14, 15, 16}));
        std::vector<uint32_t> expected;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) expected.push_back(document.image.sample(0, y, x));
        EXPECT_EQ(g_fake.pulled, expected) << depth;
        EXPECT_EQ(file.contents().size(), static_cast<size_t>(6 * depth / 8));
        EXPECT_TRUE(outcome.violations.empty());
        EXPECT_TRUE(outcome.leaks.empty());
    }
}

TEST_F(HostSequences, AFullDiskTakesOnlyWhatFits) {
    Host host(&fakeEntry);
    Document document = smallDocument(8);
    File file = std::move(File::memory().capacity(4));
    Outcome outcome = host.write(document, file);
    EXPECT_EQ(outcome.result, writErr);
    EXPECT_EQ(file.contents().size(), 4u);
}

TEST_F(HostSequences, SaveRunsTheWholeOrderAndStopsAtTheFirstFailingGroup) {
    struct Case {
        int16_t failing;
        std::vector<int16_t> expected;
    };
    const Case cases[] = {
        {-1, {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
        {formatSelectorOptionsStart, {5, 6, 8}},
        {formatSelectorEstimatePrepare, {5, 6, 7, 8, 9, 12}},
        {formatSelectorWriteStart, {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16}},
    };
    for (const Case& c : cases) {
        g_fake = Fake{};
        if (c.failing >= 0) g_fake.failAt[c.failing] = writErr;
        Host host(&fakeEntry);
        Document document = smallDocument(8);
        File file = File::memory();
        Outcome outcome = host.save(document, file);
        EXPECT_EQ(outcome.selectors(), c.expected) << c.failing;
        EXPECT_EQ(outcome.result, c.failing >= 0 ? writErr : noErr);
        EXPECT_EQ(outcome.failedSelector, c.failing);
    }
}

TEST_F(HostSequences, WriteDescribesTheDocumentInTheRecord) {
    Host host(&fakeEntry);
    Document document = smallDocument(16);
    document.image.mode = plugInModeGrayScale;
    host.begin();
    host.useDocument(document, true);
    const FormatRecord& r = host.record();
    EXPECT_EQ(r.imageSize.v, 2);
    EXPECT_EQ(r.imageSize.h, 3);
    EXPECT_EQ(r.depth, 16);
    EXPECT_EQ(r.planes, 1);
    EXPECT_EQ(r.imageMode, plugInModeGrayScale);
}

TEST_F(HostSequences, DocumentsTooLargeToDescribeAreNotOffered) {
    // 40000 columns are past an older host's 16-bit sizes; 300001 past the
    // current editor's largest document.
    for (bool coordinates32 : {false, true}) {
        HostSetup setup;
        setup.coordinates32 = coordinates32;
        Host host(&fakeEntry, setup);
        Document document;
        document.image.rows = 1;
        document.image.columns = coordinates32 ? 300001 : 40000;
        document.image.planes = 1;
        document.image.allocate();
        File file = File::memory();
        for (Outcome outcome : {host.write(document, file), host.save(document, file), host.estimate(document)}) {
            EXPECT_EQ(outcome.result, formatBadParameters);
            EXPECT_TRUE(outcome.calls.empty());
            EXPECT_NE(outcome.hostFailure.find(coordinates32 ? "300001x1" : "40000x1"), std::string::npos)
                << outcome.hostFailure;
        }
    }
}

TEST_F(HostSequences, TheCellIsKeptBetweenCalls) {
    Host host(&fakeEntry);
    EXPECT_EQ(host.cell(), 0);
    host.about();
    EXPECT_EQ(host.cell(), 1);
}

}  // namespace
