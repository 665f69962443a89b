// The roads samples take from the file to the host, and which one a read
// takes. Every road reads the rows in file order from the data start; they
// differ in what they must know before the host sees the first row.
#pragma once

#include <cstdint>

#include "import/row_buffer.h"
#include "shell/plugin_state.h"

namespace nebulite {

// What the file's length says about the bytes a read needs.
enum class DataExtent {
    unknown,   // the length could not be found
    whole,     // every byte from the data start to the last row read is there
    cutShort,  // the file ends before that
};

DataExtent dataExtent(int64_t fileLength, int64_t dataStart, int64_t dataBytes);

enum class PixelRoad {
    none,        // samples no road converts
    bytes,       // 8-bit: the file's bytes, row by row as read
    streamed16,  // 16-bit, the file known whole: converted and handed over row by row
    stored16,    // 16-bit, length unknown: every row converted into a store first
    streamedWide,  // 32- or 64-bit with a usable range in the header, the file known whole
    twoPassWide,   // 32- or 64-bit: one pass to find the range (or that every
                   // row is there), back to the data start, one to hand the rows over
    cutShort,    // wide samples of a file too short for them: nothing is handed over
};

// Wide samples go to the host only once the module knows every row is in the
// file: from its length, or from a first pass that read them all.
PixelRoad choosePixelRoad(int16_t fileSampleBytes, DataExtent extent, bool headerRangeUsable);
ImportWork workFor(PixelRoad road);

// The range the header gives wide samples, and whether it is usable.
bool headerRange(double& lo, double& hi);

// Back to the first row of the data: the data start, or the first band of
// a tiled image's tiles.
void restartRows(PluginState& state);

// Reads, converts and hands over every row on `road`, with the buffers of
// workFor(road) in place. `total` is the progress total.
void moveRows(PluginState& state, PixelRoad road, int32_t total);

}  // namespace nebulite
