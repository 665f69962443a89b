// When the module shows its dialogs. The host's parameter block says what it
// wants (playInfo of the descriptor parameters: show a dialog, show one only
// if the parameters do not do, never show one); the module adds what the
// file offers. An open for the host's preview and a revert never ask: the
// host hands back what the first open chose.
#pragma once

#include <cstdint>

#include "options/file_facts.h"
#include "options/open_options.h"
#include "options/save_options.h"

namespace nebulite::ui {

// playInfo: plugInDialogDontDisplay 0, plugInDialogDisplay 1, plugInDialogSilent 2.
enum class DialogWish : uint8_t { dontDisplay = 0, display = 1, silent = 2 };

// playInfo as the host gave it; a value the SDK does not define is taken as
// silent, the choice that never blocks a batch.
DialogWish dialogWishOf(int32_t playInfo);

// Whether the file leaves the user anything to choose beyond the defaults:
// more than one image, a cube, a colour-filter mosaic, or samples wider than
// 8 bits (whose stretch, interval and depth are choices). A single 8-bit
// plane opens one way.
bool fileOffersChoice(const options::FileFacts& file);

// display: when the file offers a choice; dontDisplay: only when the options
// cannot be honoured for this file (options::resolve refuses them for a
// reason the user can mend: not a file without any image); silent: never.
// forPreviewOrRevert (openForPreview set, or revertInfo handed back): never.
bool showOpenDialogFor(DialogWish wish, bool forPreviewOrRevert, const options::FileFacts& file,
                       const options::OpenOptions& options);

// display: always (compression is a choice for every document);
// dontDisplay: only when options::resolve refuses the options for this
// document; silent: never.
bool showSaveDialogFor(DialogWish wish, const options::SaveFacts& document, const options::SaveOptions& options);

}  // namespace nebulite::ui
