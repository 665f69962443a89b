// How an open takes its options from the host and gives them back: options
// a file cannot honour stop the read with one message (through the host's
// error string where it has one), the descriptor left for the action replays
// to the same document, and a revert reopens the way the document was
// opened whatever the action asks.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fault_matrix_support.h"
#include "fits_fixture.h"
#include "host/descriptor.h"
#include "host/result_codes.h"
#include "module_host.h"

namespace {

using namespace testing_host;
using fault_matrix::describe;
using fault_matrix::expectNothingLeftBehind;
using fixture::extension;
using fixture::image;
using fixture::put16;

constexpr DescriptorKeyID key(const char (&code)[5]) { return fourCharCode(code); }

DescriptorItem integer(const char (&k)[5], int32_t v) { return DescriptorItem::ofInteger(key(k), v); }
DescriptorItem text(const char (&k)[5], std::string_view v) { return DescriptorItem::ofText(key(k), v); }
DescriptorItem number(const char (&k)[5], double v) { return DescriptorItem::ofFloat(key(k), v); }
DescriptorItem choice(const char (&k)[5], const char (&type)[5], const char (&v)[5]) {
    return DescriptorItem::ofEnumerated(key(k), fourCharCode(type), fourCharCode(v));
}

// A 16-bit cube of three 6x4 planes (every sample its own value), an 8-bit
// 4x3 image extension named SCI, a binary table, and an image extension
// without data named ERR (as HST files hold them).
std::vector<uint8_t> threeHdus() {
    fixture::Fits cube = image(16, {6, 4, 3});
    for (int i = 0; i < 6 * 4 * 3; ++i) put16(cube.data, i * 300 - 9000);
    fixture::Fits sci = extension(8, {4, 3});
    sci.add("EXTNAME = 'SCI     '");
    for (int i = 0; i < 12; ++i) sci.data.push_back(static_cast<uint8_t>(i * 20));
    fixture::Fits table = extension(8, {4, 2}, "BINTABLE");
    table.add("TFIELDS =                    1").add("TFORM1  = '4A      '");
    table.data.assign(8, 'x');
    fixture::Fits err = extension(16, {});
    err.add("EXTNAME = 'ERR     '");
    return fixture::join({cube.bytes(), sci.bytes(), table.bytes(), err.bytes()});
}

Descriptor descriptorOf(std::vector<DescriptorItem> items) {
    Descriptor d;
    for (DescriptorItem& item : items) d.put(std::move(item));
    return d;
}

// Every option a file cannot honour is refused before a document exists,
// in one message that says what: in the host's error string where the host
// offers one, else in the module's own message box. However the action is
// played: a refused value is no reason for a dialog on a host without one.
TEST(OpenChoices, OptionsTheFileCannotHonourAreOneMessage) {
    const std::vector<uint8_t> bytes = threeHdus();
    struct Case {
        const char* name;
        std::vector<DescriptorItem> items;
        const char* says;
    } cases[] = {
        {"an HDU past the last", {integer("nbIm", 7)}, "7"},
        {"an EXTNAME no HDU has", {text("nbXN", "DARK")}, "DARK"},
        {"an EXTVER the name lacks", {text("nbXN", "SCI"), integer("nbXV", 2)}, "EXTVER 2"},
        {"a table for an image", {integer("nbIm", 2)}, "2"},
        {"an image extension without data", {integer("nbIm", 3)}, "HDU 3 holds no image"},
        {"the same by name", {text("nbXN", "ERR")}, "HDU 3 holds no image"},
        {"plane 7 of 3", {choice("nbPl", "nbTP", "nbOn"), integer("nbP1", 7)}, "7"},
        {"a plane of a 2-D image", {integer("nbIm", 1), choice("nbPl", "nbTP", "nbOn"), integer("nbP1", 2)}, "2"},
        {"an enumeration value unknown", {choice("nbDp", "nbTD", "nb12")}, "depth"},
        {"black above white",
         {choice("nbSt", "nbTS", "nbLi"), choice("nbIv", "nbTI", "nbPt"), number("nbBk", 9), number("nbWh", 1)},
         "black"},
    };
    for (const Case& c : cases) {
        for (const bool errorString : {true, false}) {
            for (const int16_t playInfo : {plugInDialogSilent, plugInDialogDontDisplay, plugInDialogDisplay}) {
                SCOPED_TRACE(std::string(c.name) + (errorString ? ", error string" : ", message box") +
                             ", playInfo " + std::to_string(playInfo));
                Host host(&ENTRYPOINT);
                host.setup().errorString = errorString;
                host.setup().script.descriptor = descriptorOf(c.items);
                host.setup().script.playInfo = playInfo;
                File file = memoryFile(bytes);
                const Outcome o = host.read(file);
                EXPECT_EQ(o.failedSelector, formatSelectorReadStart) << describe(o);
                EXPECT_TRUE(host.document().image.empty());
                EXPECT_FALSE(o.recorded.has_value());
                if (errorString) {
                    EXPECT_EQ(o.result, errReportString) << describe(o);
                    EXPECT_TRUE(o.messages.empty()) << describe(o);
                    EXPECT_NE(o.reported.find(c.says), std::string::npos) << o.reported;
                    EXPECT_EQ(o.reported.rfind("this Fits File cannot be opened as asked: ", 0), 0u) << o.reported;
                } else {
                    EXPECT_EQ(o.result, userCanceledErr) << describe(o);
                    ASSERT_EQ(o.messages.size(), 1u) << describe(o);
                    EXPECT_NE(o.messages[0].text.find(c.says), std::string::npos) << o.messages[0].text;
                    EXPECT_EQ(o.messages[0].text.rfind("This Fits File cannot", 0), 0u) << o.messages[0].text;
                    EXPECT_TRUE(o.reported.empty());
                }
                expectNothingLeftBehind(host, o);
            }
        }
    }
}

// A value the options cannot take is refused only once the file is known
// to be FITS: what is not FITS stays formatCannotRead and a file cut short
// in its header eofErr, as FilterFile and a plain open say, whatever the
// action asks.
TEST(OpenChoices, AValueRefusedIsToldOnlyOfAFitsFile) {
    const std::vector<uint8_t> fits = threeHdus();
    std::vector<uint8_t> notFits = fits;
    notFits[4] = 'X';  // "SIMPXE"
    const std::vector<uint8_t> cutShort(fits.begin(), fits.begin() + 400);
    struct Case {
        const char* name;
        const std::vector<uint8_t>* bytes;
        OSErr result;
    } cases[] = {
        {"FITS", &fits, errReportString},
        {"not FITS", &notFits, formatCannotRead},
        {"a header cut short", &cutShort, eofErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host(&ENTRYPOINT);
        host.setup().errorString = true;
        host.setup().script.descriptor = descriptorOf({choice("nbDp", "nbTD", "nb12")});
        File file = memoryFile(*c.bytes);
        const Outcome o = host.read(file);
        EXPECT_EQ(o.result, c.result) << describe(o);
        EXPECT_EQ(o.failedSelector, formatSelectorReadStart) << describe(o);
        EXPECT_TRUE(o.messages.empty()) << describe(o);
        EXPECT_EQ(o.reported.empty(), c.result != errReportString) << o.reported;
        expectNothingLeftBehind(host, o);
    }
}

// The descriptor an open leaves names every choice as it was resolved, so
// that the action, played on the same file, opens the same document and
// records the same descriptor again.
TEST(OpenChoices, TheRecordedDescriptorReplaysToTheSameDocument) {
    const std::vector<uint8_t> bytes = threeHdus();
    struct Case {
        const char* name;
        std::vector<DescriptorItem> items;
    } cases[] = {
        {"nothing asked", {}},
        {"the second plane", {choice("nbPl", "nbTP", "nbOn"), integer("nbP1", 2)}},
        {"planes reordered", {choice("nbPl", "nbTP", "nbTh"), integer("nbP1", 3), integer("nbP2", 1), integer("nbP3", 2)}},
        {"sky orientation", {choice("nbOr", "nbTO", "nbSk")}},
        {"by name", {text("nbXN", "SCI")}},
        {"an asinh stretch to 8 bits", {choice("nbSt", "nbTS", "nbAs"), choice("nbDp", "nbTD", "nb08")}},
        {"zscale, linear", {choice("nbSt", "nbTS", "nbLi"), choice("nbIv", "nbTI", "nbZs")}},
        {"mtf", {choice("nbSt", "nbTS", "nbMt")}},
        {"32 bits", {choice("nbDp", "nbTD", "nb32")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host first(&ENTRYPOINT);
        first.setup().script.descriptor = descriptorOf(c.items);
        File file = memoryFile(bytes);
        const Outcome opened = first.read(file);
        ASSERT_TRUE(opened.ok()) << describe(opened);
        ASSERT_TRUE(opened.recorded.has_value());
        const Descriptor& recorded = *opened.recorded;
        // Nothing left for the next file to decide.
        for (const char* k : {"nbPl", "nbDp", "nbOr", "nbSt"}) {
            const DescriptorItem* item = recorded.find(fourCharCode(k));
            ASSERT_NE(item, nullptr) << k;
            EXPECT_NE(item->value, fourCharCode("nbAu")) << k;
        }
        if (const DescriptorItem* interval = recorded.find(key("nbIv")); interval != nullptr) {
            EXPECT_EQ(interval->value, fourCharCode("nbPt")) << "a stretch records its points";
            EXPECT_NE(recorded.find(key("nbBk")), nullptr);
            EXPECT_NE(recorded.find(key("nbWh")), nullptr);
        }

        Host again(&ENTRYPOINT);
        again.setup().script.descriptor = recorded;
        again.setup().script.playInfo = plugInDialogSilent;
        File same = memoryFile(bytes);
        const Outcome replayed = again.read(same);
        ASSERT_TRUE(replayed.ok()) << describe(replayed);
        EXPECT_TRUE(again.document() == first.document());
        ASSERT_TRUE(replayed.recorded.has_value());
        EXPECT_TRUE(*replayed.recorded == recorded);
        expectNothingLeftBehind(again, replayed);
    }
}

// A revert hands back what the open left in revertInfo: the document comes
// back as it was opened, without a dialog however the host plays, and the
// host keeps its handle. Revert information that is not the module's own
// (or is damaged) opens as an open with nothing asked.
TEST(OpenChoices, ARevertReopensAsTheDocumentWasOpened) {
    const std::vector<uint8_t> bytes = threeHdus();
    Host first(&ENTRYPOINT);
    first.setup().script.descriptor =
        descriptorOf({choice("nbPl", "nbTP", "nbOn"), integer("nbP1", 2), choice("nbOr", "nbTO", "nbSk")});
    File file = memoryFile(bytes);
    const Outcome opened = first.read(file);
    ASSERT_TRUE(opened.ok()) << describe(opened);
    ASSERT_TRUE(opened.revertInfo.has_value());

    Host plain(&ENTRYPOINT);
    File plainFile = memoryFile(bytes);
    ASSERT_TRUE(plain.read(plainFile).ok());
    ASSERT_FALSE(plain.document() == first.document());

    struct Case {
        const char* name;
        std::vector<uint8_t> info;
        bool likeFirst;
    } cases[] = {
        {"its own", *opened.revertInfo, true},
        {"empty", {}, false},
        {"another's bytes", {'8', 'B', 'I', 'M', 0, 0, 0, 4}, false},
        {"cut short", std::vector<uint8_t>(opened.revertInfo->begin(), opened.revertInfo->end() - 1), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host(&ENTRYPOINT);
        host.setup().script.playInfo = plugInDialogDisplay;
        File again = memoryFile(bytes);
        const Outcome o = host.revert(again, c.info);
        if (c.likeFirst) {
            ASSERT_TRUE(o.ok()) << describe(o);
            EXPECT_TRUE(host.document() == first.document());
            ASSERT_TRUE(o.revertInfo.has_value());
            EXPECT_EQ(*o.revertInfo, *opened.revertInfo);
        } else {
            ASSERT_TRUE(o.ok()) << describe(o);
            EXPECT_TRUE(host.document() == plain.document());
        }
        EXPECT_TRUE(o.messages.empty()) << describe(o);
        expectNothingLeftBehind(host, o);
    }
}

}  // namespace
