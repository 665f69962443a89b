// When the dialogs show: the host's wish, what the file offers, and whether
// the options can be honoured, over every combination.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/dialog_policy.h"

using namespace nebulite;
using namespace nebulite::options;
using ui::DialogWish;

namespace {

HduFacts plane(int16_t bitpix, uint64_t naxis3 = 1) {
    HduFacts h;
    h.bitpix = bitpix;
    h.naxis = naxis3 > 1 ? 3 : 2;
    h.naxis1 = 10;
    h.naxis2 = 10;
    h.naxis3 = naxis3;
    return h;
}

}  // namespace

TEST(DialogPolicy, OpenShowsWhenAskedAndThereIsAChoiceOrTheOptionsDoNotDo) {
    HduFacts mosaic = plane(8);
    mosaic.bayer = CfaPattern::bggr;
    HduFacts emptyPrimary;
    HduFacts table = plane(8);
    table.kind = HduKind::binaryTable;
    struct File {
        std::string name;
        std::vector<HduFacts> hdus;
        bool choice;
    };
    const std::vector<File> files = {
        {"one 8-bit plane", {plane(8)}, false},
        {"one 16-bit plane", {plane(16)}, true},
        {"one float plane after an empty primary", {emptyPrimary, plane(-32)}, true},
        {"two 8-bit images", {plane(8), plane(8)}, true},
        {"an 8-bit image and a table", {plane(8), table}, false},
        {"an 8-bit cube", {plane(8, 3)}, true},
        {"an 8-bit mosaic", {mosaic}, true},
        {"tables only", {emptyPrimary, table}, false},
    };
    OpenOptions good;
    OpenOptions planeSeven;
    planeSeven.planes = {PlaneSelect::one, {7, 0, 0}};
    for (const File& f : files) {
        FileFacts file{f.hdus};
        bool images = f.name != "tables only";
        EXPECT_EQ(ui::fileOffersChoice(file), f.choice) << f.name;
        for (bool previewOrRevert : {false, true}) {
            SCOPED_TRACE(f.name + (previewOrRevert ? ", for preview or revert" : ""));
            bool may = !previewOrRevert && images;
            EXPECT_EQ(ui::showOpenDialogFor(DialogWish::display, previewOrRevert, file, good), may && f.choice);
            EXPECT_EQ(ui::showOpenDialogFor(DialogWish::display, previewOrRevert, file, planeSeven), may && f.choice);
            EXPECT_FALSE(ui::showOpenDialogFor(DialogWish::dontDisplay, previewOrRevert, file, good));
            // Plane 7 exists nowhere: the user can mend it, where there is an image.
            EXPECT_EQ(ui::showOpenDialogFor(DialogWish::dontDisplay, previewOrRevert, file, planeSeven), may);
            EXPECT_FALSE(ui::showOpenDialogFor(DialogWish::silent, previewOrRevert, file, planeSeven));
        }
    }
}

TEST(DialogPolicy, SaveShowsWhenAskedOrWhenTheOptionsDoNotDo) {
    SaveFacts floats;
    floats.columns = 10;
    floats.rows = 10;
    floats.depth = 32;
    SaveOptions good;
    SaveOptions riceExact;  // floats kept exactly by GZIP only
    riceExact.compression = Compression::rice;
    EXPECT_TRUE(ui::showSaveDialogFor(DialogWish::display, floats, good));
    EXPECT_FALSE(ui::showSaveDialogFor(DialogWish::dontDisplay, floats, good));
    EXPECT_TRUE(ui::showSaveDialogFor(DialogWish::dontDisplay, floats, riceExact));
    EXPECT_FALSE(ui::showSaveDialogFor(DialogWish::silent, floats, riceExact));
}

TEST(DialogPolicy, PlayInfoAsTheSdkNumbersIt) {
    EXPECT_EQ(ui::dialogWishOf(0), DialogWish::dontDisplay);
    EXPECT_EQ(ui::dialogWishOf(1), DialogWish::display);
    EXPECT_EQ(ui::dialogWishOf(2), DialogWish::silent);
    EXPECT_EQ(ui::dialogWishOf(7), DialogWish::silent);
    EXPECT_EQ(ui::dialogWishOf(-1), DialogWish::silent);
}
