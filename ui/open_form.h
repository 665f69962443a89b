// The open dialog's controls as plain values, and the options they stand
// for. The Win32 dialog copies its controls into OpenFormValues and back;
// everything it decides (what the options are, whether they hold, which
// controls apply) is decided here, where it is tested without a window.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "options/file_facts.h"
#include "options/fixed_text.h"
#include "options/open_options.h"

namespace nebulite::ui {

// The text of one edit field.
using FieldText = options::FixedText<40>;

// List selections are indices into the option model's tables
// (option_labels.h), -1 for none; texts are the fields' contents.
struct OpenFormValues {
    int32_t imageRow = -1;
    int32_t planes = 0;
    std::array<FieldText, 3> plane;
    int32_t orientation = 0;
    int32_t stretch = 0;
    int32_t interval = 0;
    FieldText percent;
    FieldText black;
    FieldText white;
    FieldText midtone;
    int32_t depth = 0;
    int32_t debayer = 0;
    int32_t demosaic = 0;
};

// Which controls mean something for the values as they stand: the others
// are greyed out, and what they hold is ignored.
struct OpenFormEnables {
    std::array<bool, 3> plane{};
    bool interval = false;
    bool percent = false;
    bool points = false;  // black and white
    bool midtone = false;
    bool debayer = false;
    bool demosaic = false;
};

struct OpenFormReading {
    options::OpenOptions options;
    // Empty when the options hold for this file; else the first thing wrong,
    // one line (a field that does not parse, or what options::resolve says).
    options::Message message;
    bool ok() const { return message.empty(); }
};

// The values that show `options` for this file. Fields the options leave
// open show what the automatic choice makes of the image (its planes); a
// choice that does not resolve shows the image the automatic choice finds.
OpenFormValues openFormFrom(const options::FileFacts& file, const options::OpenOptions& options);

// The options the values stand for. `base` is what the dialog started from:
// what the values do not change stays as it was there, so an image chosen by
// EXTNAME stays so while its row stays selected.
OpenFormReading readOpenForm(const OpenFormValues& values, const options::FileFacts& file,
                             const options::OpenOptions& base);

OpenFormEnables openFormEnables(const OpenFormValues& values, const options::FileFacts& file);

// The planes the automatic choice opens of the image in `row`, as the plane
// fields show them (e.g. "1", "2", "3"; "1", "", "").
std::array<FieldText, 3> automaticPlaneTexts(const options::FileFacts& file, int32_t row);

// Field text without the blanks a user may type around a number.
std::string_view trimmed(std::string_view text);

}  // namespace nebulite::ui
