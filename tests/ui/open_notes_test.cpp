// The open dialog's note beside Debayer: the pattern the header names, what
// automatic makes of it, and what the header leaves in doubt. The dialog is
// the one place an open tells of the doubts (an action played without it
// goes on by the same rule), so the note must name them.
#include <gtest/gtest.h>

#include <string>

#include "options/cfa_pattern.h"
#include "ui/open_notes.h"

using namespace nebulite;
using namespace nebulite::options;

namespace {

struct Header {
    const char* bayerPattern;  // nullptr: no BAYERPAT card
    int64_t x, y;
    bool rowOrderUnknown;
    uint64_t naxis3;
};

HduFacts mosaic(const Header& h) {
    HduFacts f;
    f.bitpix = 16;
    f.naxis = h.naxis3 > 1 ? 3 : 2;
    f.naxis1 = 64, f.naxis2 = 48, f.naxis3 = h.naxis3;
    const std::string_view text = h.bayerPattern != nullptr ? h.bayerPattern : "";
    f.bayer = cfaPatternNamed(text);
    f.xBayerOffset = h.x, f.yBayerOffset = h.y;
    f.mosaicDoubts = mosaicDoubts(text, h.bayerPattern != nullptr, h.x, h.y, h.rowOrderUnknown);
    return f;
}

TEST(OpenNotes, TheDebayerNoteNamesThePatternAndTheDoubts) {
    const struct Case {
        Header header;
        const char* note;
    } cases[] = {
        {{"RGGB", 0, 1, false, 1}, "BAYERPAT is RGGB: automatic demosaics it."},
        {{"GBRG", 3, 0, false, 1}, "BAYERPAT is GBRG, XBAYROFF 3 taken as 1: automatic demosaics it."},
        {{"BGGR", 0, -2, true, 1}, "BAYERPAT is BGGR, YBAYROFF -2 taken as 0, ROWORDER taken as TOP-DOWN: automatic demosaics it."},
        {{"RGGB", 0, 0, false, 3}, "BAYERPAT is RGGB: automatic demosaics one plane, not these."},
        {{"TRUE", 0, 0, false, 1}, "BAYERPAT names no Bayer pattern: choose one."},
        {{nullptr, 5, 0, false, 1}, "The header names no colour-filter pattern (BAYERPAT)."},
    };
    for (const Case& c : cases) {
        const HduFacts hdus[] = {mosaic(c.header)};
        const FileFacts file{hdus};
        ui::OpenFormValues values;
        values.imageRow = 0;
        OpenOptions chosen;
        EXPECT_EQ(ui::openNotes(values, file, chosen).debayer.view(), c.note);
    }
}

}  // namespace
