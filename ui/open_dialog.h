// The open dialog: which image of the file, which planes, which way up, the
// stretch and its interval, the depth and the demosaicing, with a preview.
// The module tells it the file's HDUs (options::FileFacts, read from the
// headers) and the options so far; it answers the options the user chose.
// It knows controls and the options model, not FITS files: the module
// renders the preview (preview.h).
#pragma once

#include <span>

#include "options/file_facts.h"
#include "options/fixed_text.h"
#include "options/open_options.h"
#include "ui/dialog_host.h"
#include "ui/preview.h"

namespace nebulite::ui {

// A compressed image's algorithm as ZCMPTYPE names it ("RICE_1").
using CompressionName = options::FixedText<24>;

struct OpenDialogRequest {
    DialogHost host;
    // Every HDU of the file, 0 the primary (the dialog lists the images among
    // them: the primary and IMAGE extensions of two or more axes, and
    // tile-compressed images).
    options::FileFacts file;
    // Per HDU, the compression of a tile-compressed image; may be shorter
    // than the HDUs or empty (the list then says "tiled" or "none").
    std::span<const CompressionName> compression;
    // What the dialog starts from: the choices made at the previous open
    // when the module keeps them, else the descriptor's or the defaults.
    options::OpenOptions current;
    // May be null: the dialog then shows no preview.
    PreviewProvider* preview = nullptr;
};

struct OpenDialogAnswer {
    DialogOutcome outcome = DialogOutcome::notShown;
    // With ok: the options chosen, which resolve against the file
    // (options::resolve answers ok). Otherwise the request's.
    options::OpenOptions options;
};

// Whether this build shows dialogs at all (the Windows DLLs); elsewhere the
// module need not look at the file for a dialog that never shows.
bool dialogsAvailable();

// Shows the dialog modally, owned by the host's window, and answers when it
// closes. On platforms without dialogs, and when the file holds no image
// to list, it answers notShown at once.
OpenDialogAnswer showOpenDialog(const OpenDialogRequest& request);

}  // namespace nebulite::ui
