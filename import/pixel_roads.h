// The roads samples take from the row source to the host, and which one a
// read takes. Every road reads the rows in file order from the first; they
// differ in what they must know before the host sees the first row.
#pragma once

#include <cstdint>

#include "header/header_keywords.h"
#include "import/row_source.h"
#include "import/sample_conversion.h"
#include "shell/module_memory.h"
#include "shell/plugin_state.h"
#include "shell/row_transfer.h"

namespace nebulite {

enum class PixelRoad {
    none,        // samples no road converts
    bytes,       // 8-bit: the file's bytes, row by row as read
    streamed16,  // 16-bit, the file known whole: converted and handed over row by row
    stored16,    // 16-bit, length unknown: every row converted into a store first
    streamedWide,  // 32- or 64-bit with a usable range in the header, the file known whole
    twoPassWide,   // 32- or 64-bit: one pass to find the range (or that every
                   // row is there), back to the first row, one to hand the rows over
    cutShort,    // wide samples of a file too short for them: nothing is handed over
};

// Wide samples go to the host only once the module knows every row is in the
// file: from its length, or from a first pass that read them all.
PixelRoad choosePixelRoad(int16_t fileSampleBytes, DataExtent extent, bool headerRangeUsable);

// The range the header gives wide samples, and whether it is usable.
bool headerRange(const HeaderKeywords& keys, double& lo, double& hi);

// What a road holds beside the host's row buffer, for one ReadContinue.
struct RoadWork {
    ModuleArray<unsigned char> fileRow;  // one file row of wide samples, wider than the host's row
    ModuleArray<uint16_t> table16;       // the 16-bit conversion table
};
// Gets the memory `road` needs for rows of `columns` samples; memFullErr
// when it cannot be had.
bool allocateRoadWork(PluginState& state, PixelRoad road, const HeaderKeywords& keys, int32_t columns, RoadWork& work);

// Reads, converts and hands over every row on `road` into `buffer`, with
// the road's work in place. `planes` planes of rows; `total` is the
// progress total.
void moveRows(PluginState& state, PixelRoad road, const HeaderKeywords& keys, RowSource& rows, RowBuffer& buffer,
              RoadWork& work, int16_t planes, int32_t total);

}  // namespace nebulite
