// The save dialog's controls as plain values, the options they stand for,
// which controls apply, and the notes beside them. As for the open dialog
// (open_form.h), the Win32 code only copies controls to and from these.
#pragma once

#include <cstdint>

#include "options/file_facts.h"
#include "options/fixed_text.h"
#include "options/save_options.h"
#include "ui/open_form.h"
#include "ui/open_notes.h"

namespace nebulite::ui {

struct SaveFormValues {
    int32_t compression = 0;  // index into options::kCompressionWords
    FieldText tileRows;       // both empty: the automatic tile
    FieldText tileColumns;
    FieldText quantize;
    int32_t bitpix = 0;       // options::kFloatBitpixWords
    int32_t orientation = 0;  // options::kOrientationWords
};

struct SaveFormEnables {
    bool tile = false;
    bool quantize = false;
    bool bitpix = false;
    bool orientation = false;
};

struct SaveFormReading {
    options::SaveOptions options;
    options::Message message;  // empty when the options hold for the document
    bool ok() const { return message.empty(); }
};

struct SaveNotes {
    NoteText tile;
    NoteText quantize;
    NoteText bitpix;
    NoteText orientation;
};

SaveFormValues saveFormFrom(const options::SaveOptions& options);
SaveFormReading readSaveForm(const SaveFormValues& values, const options::SaveFacts& document,
                             const options::SaveOptions& base);
// Tile and quantize apply to compressed saves, quantize to floating-point
// samples only, BITPIX to 32-bit documents, orientation to documents that
// did not open from FITS (one that did goes back the way it came).
SaveFormEnables saveFormEnables(const SaveFormValues& values, const options::SaveFacts& document);
// `chosen` is what the form reads as.
SaveNotes saveNotes(const SaveFormValues& values, const options::SaveFacts& document,
                    const options::SaveOptions& chosen);

}  // namespace nebulite::ui
