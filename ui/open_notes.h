// The open dialog's notes beside its choices: what the automatic choices make
// of the image selected (its planes, its depth, its mosaic), so that a user
// sees what "automatic" means for this file before choosing otherwise. Each
// is what options::resolve makes of the automatic choice, not a rule of its
// own.
#pragma once

#include "options/file_facts.h"
#include "options/fixed_text.h"
#include "options/open_options.h"
#include "ui/open_form.h"

namespace nebulite::ui {

using NoteText = options::FixedText<96>;

struct OpenNotes {
    NoteText planes;
    NoteText depth;
    NoteText debayer;
};

// `chosen` is what the form reads as (OpenFormReading::options); the notes
// are for the image in the selected row.
OpenNotes openNotes(const OpenFormValues& values, const options::FileFacts& file, const options::OpenOptions& chosen);

}  // namespace nebulite::ui
