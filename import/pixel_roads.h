// The roads samples take from the row source to the host, and which one a
// read takes. Every road reads the rows in file order; they differ in what
// they must know before the host sees the first row, and in how a sample
// becomes a level.
#pragma once

#include <cstdint>

#include "header/header_keywords.h"
#include "import/debayer/method_context.h"
#include "import/physical_values.h"
#include "import/row_source.h"
#include "import/sample_conversion.h"
#include "mapping/interval_estimator.h"
#include "options/resolve_open.h"
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
    mapped,      // a stretch over an interval: physical values through a curve into levels
    floats,      // a 32-bit document: physical values times a power of two, as 4-byte floats
    mosaic,      // a colour-filter mosaic demosaiced into RGB, a band of rows at a time
    cutShort,    // wide samples of a file too short for them: nothing is handed over
};

// Wide samples go to the host only once the module knows every row is in the
// file: from its length, or from a first pass that read them all.
// `stretched`: the options map samples through a stretch; `depth`: the
// document's bits per sample (8, 16, 32).
PixelRoad choosePixelRoad(int16_t fileSampleBytes, DataExtent extent, bool headerRangeUsable, bool stretched,
                          int16_t depth, bool mosaic);

// The range the header gives wide samples, and whether it is usable.
bool headerRange(const HeaderKeywords& keys, double& lo, double& hi);

// Which rows of the file become the document's, and where.
struct RowPlan {
    int16_t planes = 1;                  // document planes
    uint32_t filePlanes[3] = {0, 1, 2};  // the file's plane (from 0) of each
    bool flip = false;                   // file row r goes to document row (rows - 1 - r)
    int16_t depth = 8;                   // the document's: 8, 16 or 32
    DataExtent extent = DataExtent::unknown;  // what the file's length says of the rows
    bool stretched = false;              // the options map samples through a stretch
    debayer::DemosaicMethod demosaic = debayer::DemosaicMethod::bilinear;  // a mosaic's method
};

// What a road holds beside the host's row buffer, for one ReadContinue.
struct RoadWork {
    ModuleArray<unsigned char> fileRow;  // one file row, when it is not read into the host's buffer
    ModuleArray<unsigned char> nativeRow;  // a row at the file's own depth, when the document's differs
    ModuleArray<uint16_t> table16;       // the 16-bit conversion table
    ModuleArray<double> values;          // one row of physical values (stretches)
    ModulePtr<mapping::IntervalEstimator> estimator;
    ModuleArray<float> demosaic;          // the demosaicer's rows
    ModuleArray<float> mosaicRow;         // one mosaic row, as demosaiced
    ModuleArray<float> colourRows;        // the red, green and blue rows it gives
    // Everything back before the header goes into the document.
    void release() {
        fileRow.release();
        nativeRow.release();
        table16.release();
        values.release();
        estimator.reset();
        demosaic.release();
        mosaicRow.release();
        colourRows.release();
    }
};
// Gets the memory `road` needs for rows of `columns` samples; memFullErr
// when it cannot be had.
bool allocateRoadWork(PluginState& state, PixelRoad road, const HeaderKeywords& keys, const RowPlan& plan,
                      int32_t columns, RoadWork& work);

// What a road learnt that outlives it.
struct RoadFindings {
    options::ResolvedOpen& resolved;  // the mapped road's points go in here, for what an action records
    int32_t floatExponent = 0;        // the floats road's: document = physical x 2^-exponent
};

// Reads, converts and hands over every row on `road` into `buffer`, with
// the road's work in place; `total` is the progress total.
void moveRows(PluginState& state, PixelRoad road, const HeaderKeywords& keys, RowSource& rows, RowBuffer& buffer,
              RoadWork& work, const RowPlan& plan, int32_t total, RoadFindings& findings);

}  // namespace nebulite
