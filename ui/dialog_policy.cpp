#include "ui/dialog_policy.h"

#include "options/resolve_open.h"
#include "options/resolve_save.h"
#include "ui/image_list.h"

namespace nebulite::ui {

DialogWish dialogWishOf(int32_t playInfo) {
    switch (playInfo) {
        case 0: return DialogWish::dontDisplay;
        case 1: return DialogWish::display;
        default: return DialogWish::silent;
    }
}

bool fileOffersChoice(const options::FileFacts& file) {
    if (listedImageCount(file) > 1) return true;
    for (const options::HduFacts& hdu : file.hdus) {
        if (!isListedImage(hdu)) continue;
        if (hdu.naxis3 > 1 || hdu.bayer != options::CfaPattern::none || hdu.bitpix != 8) return true;
    }
    return false;
}

bool showOpenDialogFor(DialogWish wish, bool forPreviewOrRevert, const options::FileFacts& file,
                       const options::OpenOptions& options) {
    if (forPreviewOrRevert || listedImageCount(file) == 0) return false;
    switch (wish) {
        case DialogWish::display: return fileOffersChoice(file);
        case DialogWish::dontDisplay: {
            options::OpenResolution r = options::resolve(options, file);
            return !r.ok() && r.problem != options::OpenProblem::noImage;
        }
        case DialogWish::silent: break;
    }
    return false;
}

bool showSaveDialogFor(DialogWish wish, const options::SaveFacts& document, const options::SaveOptions& options) {
    switch (wish) {
        case DialogWish::display: return true;
        case DialogWish::dontDisplay: return !options::resolve(options, document).ok();
        case DialogWish::silent: break;
    }
    return false;
}

}  // namespace nebulite::ui
