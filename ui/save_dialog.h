// The save dialog: tile compression, its tile and quantize level, the BITPIX
// of a 32-bit document, and the orientation of a new document. The module
// tells it the document's facts (options::SaveFacts) and the options so far;
// it answers the options the user chose.
#pragma once

#include "options/file_facts.h"
#include "options/save_options.h"
#include "ui/dialog_host.h"

namespace nebulite::ui {

struct SaveDialogRequest {
    DialogHost host;
    options::SaveFacts document;
    // The descriptor's options, or the defaults.
    options::SaveOptions current;
};

struct SaveDialogAnswer {
    DialogOutcome outcome = DialogOutcome::notShown;
    // With ok: options that resolve against the document. Otherwise the
    // request's.
    options::SaveOptions options;
};

// Modal, owned by the host's window; notShown at once where there are no
// dialogs.
SaveDialogAnswer showSaveDialog(const SaveDialogRequest& request);

}  // namespace nebulite::ui
