// Looking past a primary header that has no data: the headers that follow
// it, each data unit skipped by its size, up to the first image extension.
#pragma once

#include <cstdint>
#include <optional>

#include "header/header_keywords.h"
#include "options/open_options.h"
#include "shell/input_stream.h"
#include "shell/plugin_state.h"

namespace nebulite {

// The cards of one header read past the primary, in the module's memory.
struct HeaderCards {
    char* text = nullptr;   // `count` cards of 80 bytes
    uint32_t count = 0;
    uint32_t capacity = 0;  // cards the block has room for
};
void releaseHeaderCards(HeaderCards& cards);

// Which extension the walk looks for: the image every open took before
// there were options, or the one the options name.
struct HduTarget {
    options::ImageSelect select = options::ImageSelect::automatic;
    uint32_t index = 0;  // from 0, the primary; the walk starts at 1
    options::ExtName extname;
    std::optional<int32_t> extver;
};

enum class ExtensionSearch {
    found,        // the image: the first IMAGE extension of two or more axes, or the one named
    none,         // the file has no such extension
    compressed,   // a tile-compressed image comes before any image extension
    unknownSize,  // a header that does not say how long its data unit is
    tooLong,      // a header longer than the primary's limit
    notImage,     // the HDU named holds a table, or something else that is no image
    failed,       // the result code says why: a failed read, the file ends early, no memory
};

// Where the walk stopped: the HDU's number and what its header says. For
// `none`, `index` is the number of HDUs the file holds.
struct WalkEnd {
    uint32_t index = 0;
    HeaderKeywords keys;
};

// Reads the headers from file offset `start` (the end of the primary's data
// unit) on, up to `target`. On `found` (and on `compressed`, for the
// table), `image` holds that extension's cards before its END, `dataStart`
// is the offset of its first data byte and the file is left there. Only
// `failed` sets the result code.
ExtensionSearch findExtension(PluginState& state, InputStream& input, int64_t start, const HduTarget& target,
                              HeaderCards& image, int64_t& dataStart, WalkEnd& end);

// One HDU past the primary as the survey meets it: its number, its
// keywords, the offset of its data unit, and its header's cards (an image's
// or a table's; empty for other kinds).
struct SurveyedHdu {
    uint32_t index = 0;
    const HeaderKeywords* keys = nullptr;
    int64_t dataStart = 0;
    const HeaderCards* cards = nullptr;
};
using SurveyVisit = bool (*)(void* context, const SurveyedHdu& hdu);

// Every HDU past the primary from `start` to the file's end, handed to
// `visit` (which answers false to stop). False when the walk ended in a
// failure `result` names, or at a header it could not size (the HDUs
// before it were visited).
bool surveyExtensions(PluginState& state, InputStream& input, int64_t start, SurveyVisit visit, void* context);

}  // namespace nebulite
