// The plug-in shell through the reference host: state kept between calls,
// dispatch, the host-services check and its alert, FilterFile, about box,
// scripting parameters and the exact file transfers.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/module_state.h"
#include "fits_fixture.h"
#include "module_host.h"
#include "platform/win32.h"
#include "shell/plugin_state.h"

#include <cstring>

using namespace testing_host;

namespace {

std::vector<uint8_t> smallFits() {
    fixture::Fits f = fixture::image(8, {4, 3});
    f.data.assign(12, 7);
    return f.bytes();
}

// The step of each operation that checks the host's services first.
enum class Step { readStart, optionsStart, estimateStart, writeStart };

Outcome runStep(Host& host, Step step) {
    switch (step) {
        case Step::readStart: {
            File file = memoryFile(smallFits());
            return host.read(file);
        }
        case Step::optionsStart: {
            host.begin();
            host.call(formatSelectorOptionsPrepare);
            host.call(formatSelectorOptionsStart);
            return host.end();
        }
        case Step::estimateStart: {
            Document document = patternDocument(3, 4, 1, 8, plugInModeGrayScale);
            return host.estimate(document);
        }
        case Step::writeStart: {
            Document document = patternDocument(3, 4, 1, 8, plugInModeGrayScale);
            File file = File::memory();
            return host.write(document, file);
        }
    }
    return {};
}


OSErr resultOf(const Outcome& outcome, int16_t selector) {
    for (const Call& call : outcome.calls)
        if (call.selector == selector) return call.result;
    return 1;  // not called
}

struct SuiteCase {
    const char* name;
    std::function<void(Setup&)> shape;
    const std::string* alert;  // null: no alert, the step succeeds
};

const std::vector<SuiteCase>& suiteCases() {
    static const std::vector<SuiteCase> cases = [] {
        std::vector<SuiteCase> c = {
            {"buffer absent", [](Setup& s) { s.buffer.present = false; }, &kRequires25},
            {"buffer v1", [](Setup& s) { s.buffer.version = 1; }, &kRequires25},
            {"buffer v3 newer", [](Setup& s) { s.buffer.version = 3; }, &kIncompatible},
            {"buffer 4 routines", [](Setup& s) { s.buffer.count = 4; }, &kRequires25},
            {"buffer 6 routines", [](Setup& s) { s.buffer.count = 6; }, nullptr},
            {"advanceState null", [](Setup& s) { s.advanceState = false; }, &kRequires30},
            {"handle absent", [](Setup& s) { s.handle.present = false; }, &kRequires30},
            {"handle v0", [](Setup& s) { s.handle.version = 0; }, &kRequires30},
            {"handle v2 newer", [](Setup& s) { s.handle.version = 2; }, &kIncompatible},
            {"handle 6 routines", [](Setup& s) { s.handle.count = 6; }, &kRequires30},
            {"handle 7 routines", [](Setup& s) { s.handle.count = 7; }, nullptr},
            {"handle lock null", [](Setup& s) { s.handle.nullRoutine = 4; }, nullptr},
            {"handle unlock null", [](Setup& s) { s.handle.nullRoutine = 5; }, nullptr},
            // Only the first missing service is reported.
            {"buffer and handle both bad",
             [](Setup& s) {
                 s.buffer.version = 1;
                 s.handle.present = false;
             },
             &kRequires25},
            {"resource suite absent is not required", [](Setup& s) { s.resource.present = false; },
             nullptr},
        };
        for (int i = 0; i < 5; ++i)
            c.push_back({"buffer routine null", [i](Setup& s) { s.buffer.nullRoutine = i; }, &kRequires25});
        for (int i = 0; i < 4; ++i)
            c.push_back({"handle routine null", [i](Setup& s) { s.handle.nullRoutine = i; }, &kRequires30});
        return c;
    }();
    return cases;
}

}  // namespace

TEST(HostServices, SuiteCheckMatrix) {
    const std::pair<Step, int16_t> steps[] = {
        {Step::readStart, formatSelectorReadStart},
        {Step::optionsStart, formatSelectorOptionsStart},
        {Step::estimateStart, formatSelectorEstimateStart},
        {Step::writeStart, formatSelectorWriteStart},
    };
    for (const SuiteCase& c : suiteCases()) {
        for (auto [step, selector] : steps) {
            SCOPED_TRACE(std::string(c.name) + " at selector " + std::to_string(selector));
            Host host(&ENTRYPOINT);
            c.shape(host.setup());
            Outcome outcome = runStep(host, step);
            if (c.alert == nullptr) {
                EXPECT_EQ(resultOf(outcome, selector), noErr);
                EXPECT_TRUE(outcome.messages.empty());
                continue;
            }
            EXPECT_EQ(resultOf(outcome, selector), userCanceledErr);
            ASSERT_EQ(outcome.messages.size(), 1u);
            EXPECT_EQ(outcome.messages[0].text, *c.alert);
            EXPECT_FALSE(outcome.messages[0].caption.has_value());  // the system's default title
            EXPECT_EQ(outcome.messages[0].type, 0x30u);
            EXPECT_EQ(outcome.messages[0].owner, 0);
            EXPECT_EQ(outcome.messages[0].selector, selector);
        }
    }
}

TEST(HostServices, OptionsStartClearsDataOnlyWhenServicesArePresent) {
    Host host(&ENTRYPOINT);
    host.begin();
    int marker = 0;
    host.record().data = &marker;
    host.record().maxData = 12345;
    EXPECT_EQ(host.call(formatSelectorOptionsPrepare), noErr);
    EXPECT_EQ(host.record().maxData, 0);
    host.record().data = &marker;
    EXPECT_EQ(host.call(formatSelectorOptionsStart), noErr);
    EXPECT_EQ(static_cast<void*>(host.record().data), nullptr);  // by value: the record is packed

    Host broken(&ENTRYPOINT);
    broken.setup().buffer.present = false;
    broken.begin();
    broken.record().data = &marker;
    EXPECT_EQ(broken.call(formatSelectorOptionsStart), userCanceledErr);
    EXPECT_EQ(static_cast<void*>(broken.record().data), &marker);
}

TEST(Dispatch, SelectorsOutsideTheTableAreBadParameters) {
    for (int16_t selector : {int16_t{18}, int16_t{-1}, int16_t{-32768}, int16_t{1000}}) {
        Host host(&ENTRYPOINT);
        host.begin();
        host.record().maxData = 77;
        EXPECT_EQ(host.call(selector), formatBadParameters) << selector;
        EXPECT_EQ(host.record().maxData, 77);
        Outcome outcome = host.end();
        EXPECT_TRUE(outcome.messages.empty());
    }
}

TEST(Dispatch, NoOpSelectorsAnswerNoErrAndChangeNothing) {
    Host host(&ENTRYPOINT);
    File file = memoryFile(smallFits());
    ASSERT_TRUE(host.read(file).ok());
    uint32_t length = module_state::peekHeaderLength(host).value();
    for (int16_t selector : {formatSelectorOptionsContinue, formatSelectorOptionsFinish,
                             formatSelectorEstimatePrepare, formatSelectorEstimateContinue,
                             formatSelectorEstimateFinish, formatSelectorWriteContinue}) {
        host.begin();
        FormatRecord before = host.record();
        EXPECT_EQ(host.call(selector), noErr) << selector;
        // All the module says is that it takes the 32-bit geometry offered.
        before.PluginUsing32BitCoordinates = 1;
        EXPECT_EQ(std::memcmp(&before, &host.record(), sizeof before), 0) << selector;
        EXPECT_EQ(module_state::peekHeaderLength(host).value(), length);
    }
}

TEST(PluginState, FirstCallMakesZeroedStateThatPersists) {
    Host host(&ENTRYPOINT);
    EXPECT_EQ(host.cell(), 0);
    host.begin();
    EXPECT_EQ(host.call(formatSelectorEstimatePrepare), noErr);
    ASSERT_NE(host.cell(), 0);
    const auto* state = reinterpret_cast<const nebulite::PluginState*>(*reinterpret_cast<Handle>(host.cell()));
    EXPECT_EQ(state->headerLength, 0u);
    EXPECT_EQ(state->operation, nullptr);
    intptr_t cell = host.cell();

    // A two-block header read now is what the next estimate builds on.
    fixture::Fits f = fixture::image(8, {10, 10});
    for (int i = 0; i < 40; ++i) f.add("COMMENT padding card " + std::to_string(i));
    f.data.assign(100, 1);
    File file = memoryFile(f.bytes());
    ASSERT_TRUE(host.read(file).ok());
    EXPECT_EQ(host.cell(), cell);
    EXPECT_EQ(module_state::peekHeaderLength(host), 5760u);
    Document document = patternDocument(10, 10, 1, 8, plugInModeGrayScale);
    Outcome estimate = host.estimate(document);
    EXPECT_EQ(estimate.minDataBytes, 5760 + 100);
    EXPECT_EQ(estimate.maxDataBytes, 5760 + 100);
}

TEST(PluginState, AllocationFailureOnFirstCallLeavesCellEmpty) {
    Host host(&ENTRYPOINT);
    host.faults().moduleAllocation[nebuliteAllocGlobal] = Trigger::nth(0);
    host.begin();
    EXPECT_EQ(host.call(formatSelectorOptionsPrepare), memFullErr);
    EXPECT_EQ(host.cell(), 0);
    // The data block of the module handle failing counts the same.
    host.faults().moduleAllocation[nebuliteAllocGlobal] = Trigger::nth(1);
    host.begin();
    EXPECT_EQ(host.call(formatSelectorOptionsPrepare), memFullErr);
    EXPECT_EQ(host.cell(), 0);
    host.faults().moduleAllocation[nebuliteAllocGlobal] = Trigger::never();
    host.begin();
    EXPECT_EQ(host.call(formatSelectorOptionsPrepare), noErr);
    EXPECT_NE(host.cell(), 0);
}

TEST(FilterFile, FirstCardTest) {
    struct Case {
        std::string firstCard;
        size_t size;
        OSErr expected;
    } cases[] = {
        {"SIMPLE  =                    T", 2880, noErr},
        {"SIMPLE  =                    F", 80, noErr},
        {"SIMPLE  =", 80, noErr},
        {"SIMPLE  =                    T", 79, eofErr},
        {"SIMPLE =                     T", 2880, formatCannotRead},
        {"simple  =                    T", 2880, formatCannotRead},
        {"XTENSION= 'IMAGE   '", 2880, formatCannotRead},
        {"", 0, eofErr},
    };
    for (const Case& c : cases) {
        std::string bytes = fixture::card(c.firstCard);
        bytes.resize(c.size, ' ');
        Host host(&ENTRYPOINT);
        File file = memoryFile(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        Outcome outcome = host.filterFile(file);
        EXPECT_EQ(outcome.result, c.expected) << c.firstCard << " (" << c.size << " bytes)";
    }
}

TEST(FilterFile, FailedReadIsReadErr) {
    Host host(&ENTRYPOINT);
    File file = memoryFile(smallFits());
    file.failReadsFrom(0);
    EXPECT_EQ(host.filterFile(file).result, readErr);
}

TEST(AboutBox, ShowsTheAboutTextOwnedByTheHostWindow) {
    Host host(&ENTRYPOINT);
    Outcome outcome = host.about();
    EXPECT_EQ(outcome.result, noErr);
    ASSERT_EQ(outcome.messages.size(), 1u);
    const MessageBox& box = outcome.messages[0];
    EXPECT_EQ(box.type, 0x40u);
    EXPECT_EQ(box.owner, kFakeWindow);
    ASSERT_TRUE(box.caption.has_value());
    EXPECT_EQ(*box.caption, "");
    // Seven lines: name, blank, version, two lines of notice, blank, the closing line.
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = box.text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(box.text.substr(start, nl - start));
    lines.push_back(box.text.substr(start));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "Nebulite");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2].rfind("Version ", 0), 0u);
    EXPECT_EQ(lines[5], "");
    EXPECT_NE(lines[6].find("FITS"), std::string::npos);
    EXPECT_NE(lines[6].find("5.0"), std::string::npos);
    EXPECT_EQ(lines[6].back(), '\xAE');
}

TEST(ScriptParameters, CloseCodes) {
    struct Case {
        OSErr close;
        size_t keys;
        OSErr expected;
    } cases[] = {
        {noErr, 0, noErr}, {noErr, 200, noErr}, {errMissingParameter, 3, noErr},
        {-1, 1, -1},       {memFullErr, 0, memFullErr},
    };
    for (const Case& c : cases) {
        Host host(&ENTRYPOINT);
        host.setup().script.closeCode = c.close;
        for (size_t i = 0; i < c.keys; ++i)
            host.setup().script.descriptor.items.push_back(nebulite::host::DescriptorItem::ofInteger(0x6b657920, 0));
        File file = memoryFile(smallFits());
        Outcome outcome = host.read(file);
        EXPECT_EQ(resultOf(outcome, formatSelectorReadStart), c.expected) << c.close;
        EXPECT_TRUE(outcome.leaks.empty()) << c.close;  // the descriptor was disposed of
    }
}

TEST(FileAccess, ExactReadsAndWrites) {
    // A header cut inside its first block: the exact read of a card comes up short.
    std::vector<uint8_t> bytes = smallFits();
    bytes.resize(50 + 80);
    Host host(&ENTRYPOINT);
    File file = memoryFile(bytes);
    EXPECT_EQ(resultOf(host.read(file), formatSelectorReadStart), eofErr);

    // A disk that fills while the header is written.
    Document document = patternDocument(3, 4, 1, 8, plugInModeGrayScale);
    File full = File::memory();
    full.capacity(1000);
    EXPECT_EQ(resultOf(host.write(document, full), formatSelectorWriteStart), writErr);
    EXPECT_EQ(full.contents().size(), 1000u);
}

TEST(Win32StandIn, ZeroSizeMoveableBlockCannotBeLocked) {
    HGLOBAL block = GlobalAlloc(GHND, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), nullptr);
    EXPECT_EQ(GlobalFree(block), nullptr);
    HGLOBAL sized = GlobalAlloc(GHND, 16);
    auto* p = static_cast<unsigned char*>(GlobalLock(sized));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0);  // zero-initialised
    EXPECT_EQ(GlobalHandle(p), sized);
    EXPECT_EQ(GlobalSize(sized), 16u);
    GlobalUnlock(sized);
    GlobalFree(sized);
}
