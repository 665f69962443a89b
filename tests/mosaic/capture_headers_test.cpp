// The colour-filter cards in the forms capture programs write them, and what
// becomes of them: each form opens as the plain form of the same layout
// would, a header without a Bayer pattern never opens demosaiced by itself,
// what a header leaves in doubt stops nothing, and a saved document no
// longer claims to be a mosaic.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/option_descriptors.h"
#include "tests/fits_fixture.h"
#include "tests/module_host.h"

namespace {

using nebulite::options::Debayer;
using nebulite::options::Demosaic;
using nebulite::options::OpenOptions;
using namespace testing_host;

constexpr long long kWidth = 12, kHeight = 8;

// A 16-bit frame of distinct samples under the given colour-filter cards.
std::vector<uint8_t> frame(const std::vector<std::string>& cards) {
    fixture::Fits f = fixture::image(16, {kWidth, kHeight});
    f.add("BZERO   =                32768");
    for (const std::string& c : cards) f.add(c);
    for (long long i = 0; i < kWidth * kHeight; ++i) fixture::put16(f.data, static_cast<int>((i * 7919) % 60000) - 32768);
    return f.bytes();
}

struct Opened {
    Outcome outcome;
    Document document;
};

Opened openWith(const std::vector<uint8_t>& bytes, Debayer debayer, int16_t playInfo = plugInDialogSilent) {
    OpenOptions options;
    options.debayer = debayer;
    options.demosaic = Demosaic::quality;
    Host host(&ENTRYPOINT);
    host.setup().script.present = true;
    host.setup().script.descriptor = nebulite::cli::openDescriptor(options);
    host.setup().script.playInfo = playInfo;
    File file = memoryFile(bytes);
    Opened o{host.read(file), {}};
    o.document = host.takeDocument();
    return o;
}

// The header's cards up to END, 80 columns each.
std::vector<std::string> headerOf(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> cards;
    for (size_t at = 0; at + 80 <= bytes.size(); at += 80) {
        cards.emplace_back(reinterpret_cast<const char*>(bytes.data()) + at, 80);
        if (cards.back().rfind("END     ", 0) == 0) break;
    }
    return cards;
}

// Each form of the cards against the plain form of the layout it names: the
// same document. The plain forms: a quoted upper-case pattern, integer
// offsets right-aligned, ROWORDER quoted.
TEST(CaptureHeaders, EveryFormOpensAsItsPlainForm) {
    const std::vector<std::string> rggbTopDown = {"BAYERPAT= 'RGGB'", "ROWORDER= 'TOP-DOWN'"};
    const std::vector<std::string> gbrgTopDown = {"BAYERPAT= 'GBRG'", "ROWORDER= 'TOP-DOWN'"};
    const std::vector<std::string> grbgTopDown = {"BAYERPAT= 'GRBG'", "ROWORDER= 'TOP-DOWN'"};
    const struct Case {
        const char* name;
        std::vector<std::string> cards;
        std::vector<std::string> plain;
    } cases[] = {
        // cfitsio (under INDI and KStars/Ekos) pads short strings to eight
        // characters and writes integers right-aligned, with comments.
        {"padded, with comments",
         {"ROWORDER= 'TOP-DOWN'           / Row Order",
          "XBAYROFF=                    0 / X offset of Bayer array",
          "YBAYROFF=                    0 / Y offset of Bayer array", "BAYERPAT= 'RGGB    '           / Bayer color pattern"},
         rggbTopDown},
        // Writers of their own (N.I.N.A., SharpCap, ASIAIR, APT) leave
        // strings short, add COLORTYP, or put the offsets on the left.
        {"short strings, COLORTYP",
         {"BAYERPAT= 'RGGB'               / Sensor Bayer pattern", "COLORTYP= 'RGGB'",
          "XBAYROFF= 0", "YBAYROFF= 0", "ROWORDER= 'TOP-DOWN'"},
         rggbTopDown},
        {"lower case", {"BAYERPAT= 'rggb'", "ROWORDER= 'top-down'"}, rggbTopDown},
        {"no quotes", {"BAYERPAT= RGGB / pattern", "ROWORDER= TOP-DOWN"}, rggbTopDown},
        {"blanks before the name", {"BAYERPAT= ' RGGB '", "ROWORDER= ' TOP-DOWN'"}, rggbTopDown},
        // An odd offset moves the pattern however it is written.
        {"quoted offset", {"BAYERPAT= 'RGGB'", "YBAYROFF= '1'", "ROWORDER= 'TOP-DOWN'"}, gbrgTopDown},
        {"real offset", {"BAYERPAT= 'RGGB'", "XBAYROFF= 1.0", "ROWORDER= 'TOP-DOWN'"}, grbgTopDown},
        // Offsets beyond 0 and 1 (a region's full offset): their parity.
        {"offset 3", {"BAYERPAT= 'RGGB'", "XBAYROFF=                    3", "ROWORDER= 'TOP-DOWN'"}, grbgTopDown},
        {"offset -1", {"BAYERPAT= 'RGGB'", "YBAYROFF=                   -1", "ROWORDER= 'TOP-DOWN'"}, gbrgTopDown},
        {"offset 2", {"BAYERPAT= 'RGGB'", "XBAYROFF=                    2", "ROWORDER= 'TOP-DOWN'"}, rggbTopDown},
        // Bottom-up, an even height: the rows of the pattern swap.
        {"bottom-up, lower case", {"BAYERPAT= 'rggb'", "ROWORDER= 'bottom-up'"}, gbrgTopDown},
        // A row order no program writes is taken as top-down, as an
        // absent one is.
        {"unknown row order", {"BAYERPAT= 'RGGB'", "ROWORDER= 'SIDEWAYS'"}, rggbTopDown},
        {"no row order", {"BAYERPAT= 'RGGB'"}, rggbTopDown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Opened form = openWith(frame(c.cards), Debayer::automatic);
        const Opened plain = openWith(frame(c.plain), Debayer::automatic);
        ASSERT_TRUE(form.outcome.ok()) << form.outcome.reported;
        ASSERT_TRUE(plain.outcome.ok()) << plain.outcome.reported;
        EXPECT_EQ(form.document.image.planes, 3);
        EXPECT_TRUE(form.document.image == plain.document.image);
    }
}

// Without a Bayer pattern in BAYERPAT, automatic leaves the frame grey,
// exactly as an open without options; a pattern the user names still
// demosaics it.
TEST(CaptureHeaders, NoPatternNoDemosaic) {
    const std::vector<std::vector<std::string>> headers = {
        {},
        {"ROWORDER= 'TOP-DOWN'", "XBAYROFF=                    1"},
        {"COLORTYP= 'RGGB'"},                  // COLORTYP alone names nothing we read
        {"BAYERPAT= 'TRUE'"},                  // a flag, not a pattern
        {"BAYERPAT=                    T"},   // likewise, as a logical
        {"BAYERPAT= ''"},
        {"BAYERPAT= 'CYGM'"},                  // not a Bayer layout
        {"BAYERPAT= 'RGGBX'"},
    };
    for (const std::vector<std::string>& cards : headers) {
        const std::string what = cards.empty() ? "no cards" : cards.back();
        SCOPED_TRACE(what);
        const std::vector<uint8_t> bytes = frame(cards);
        const Opened automatic = openWith(bytes, Debayer::automatic);
        const Opened off = openWith(bytes, Debayer::off);
        ASSERT_TRUE(automatic.outcome.ok()) << automatic.outcome.reported;
        EXPECT_EQ(automatic.document.image.planes, 1);
        EXPECT_TRUE(automatic.document.image == off.document.image);
        const Opened named = openWith(bytes, Debayer::rggb);
        ASSERT_TRUE(named.outcome.ok()) << named.outcome.reported;
        EXPECT_EQ(named.document.image.planes, 3);
    }
}

// What a header leaves in doubt (an offset of 3, a row order no program
// writes) is for the open dialog's note; played as an action, at any
// setting, the open goes on by the rule and shows nothing.
TEST(CaptureHeaders, DoubtsNeverStopAnOpen) {
    const std::vector<uint8_t> bytes = frame({"BAYERPAT= 'RGGB'", "XBAYROFF=                    3",
                                              "YBAYROFF=                   -2", "ROWORDER= 'SIDEWAYS'"});
    for (int16_t playInfo : {plugInDialogSilent, plugInDialogDontDisplay, plugInDialogDisplay}) {
        SCOPED_TRACE(playInfo);
        const Opened o = openWith(bytes, Debayer::automatic, playInfo);
        EXPECT_TRUE(o.outcome.ok()) << o.outcome.reported;
        EXPECT_TRUE(o.outcome.messages.empty());
        EXPECT_TRUE(o.outcome.reported.empty());
        EXPECT_EQ(o.document.image.planes, 3);
    }
}

// A demosaiced document saves as three planes whose header no longer names
// a colour filter: the cards become HISTORY saying what was done and how,
// so the file does not open demosaiced again; the document still keeps the
// original header whole.
TEST(CaptureHeaders, ASavedDocumentIsNoLongerAMosaic) {
    const std::vector<uint8_t> bytes = frame({"BAYERPAT= 'GRBG'", "COLORTYP= 'GRBG'", "XBAYROFF=                    0",
                                              "YBAYROFF=                    1", "ROWORDER= 'TOP-DOWN'"});
    Opened opened = openWith(bytes, Debayer::automatic);
    ASSERT_TRUE(opened.outcome.ok()) << opened.outcome.reported;
    ASSERT_EQ(opened.document.image.planes, 3);
    Host host(&ENTRYPOINT);
    File saved = File::memory();
    const Outcome o = host.save(opened.document, saved);
    ASSERT_TRUE(o.ok()) << o.reported;

    int history = 0;
    bool threePlanes = false;
    for (const std::string& card : headerOf(saved.contents())) {
        for (const char* gone : {"BAYERPAT", "COLORTYP", "XBAYROFF", "YBAYROFF"})
            EXPECT_NE(card.rfind(gone, 0), 0u) << card;
        if (card.rfind("HISTORY demosaiced (Hamilton-Adams), was: ", 0) == 0) ++history;
        threePlanes |= card.rfind("NAXIS3  =                    3", 0) == 0;
    }
    EXPECT_EQ(history, 4);
    EXPECT_TRUE(threePlanes);
    EXPECT_EQ(opened.document.resources.count(kWholeHeaderResource), 1u);

    const Opened again = openWith(saved.contents(), Debayer::automatic);
    ASSERT_TRUE(again.outcome.ok()) << again.outcome.reported;
    EXPECT_TRUE(again.document.image == opened.document.image);
}

}  // namespace
