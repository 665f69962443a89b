// Looking past a primary header that has no data: the headers that follow
// it, each data unit skipped by its size, up to the first image extension.
#pragma once

#include <cstdint>

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

enum class ExtensionSearch {
    found,        // the first image extension of two or more axes
    none,         // the file has no such extension
    compressed,   // a tile-compressed image comes before any image extension
    unknownSize,  // a header that does not say how long its data unit is
    tooLong,      // a header longer than the primary's limit
    failed,       // the result code says why: a failed read, the file ends early, no memory
};

// Reads the headers from file offset `start` on. On `found` (and on
// `compressed`, for the table), `image` holds that extension's cards before
// its END, `dataStart` is the offset of its first data byte and the file is
// left there. Only `failed` sets the result code.
ExtensionSearch findImageExtension(PluginState& state, InputStream& input, int64_t start, HeaderCards& image,
                                   int64_t& dataStart);

}  // namespace nebulite
