// ReadContinue: every sample from the file to the host, one row of one plane
// at a time, then the header into the document.
#include "document/kept_header.h"
#include "document/open_record.h"
#include "import/open_choices.h"
#include "import/pixel_roads.h"
#include "import/read_header.h"
#include "import/read_operation.h"
#include "shell/geometry.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/row_transfer.h"

namespace nebulite {

void disposeImageResources(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (record.imageRsrcData != nullptr) {
        handleDispose(record.handleProcs, record.imageRsrcData);
        record.imageRsrcData = nullptr;
        record.imageRsrcSize = 0;
    }
}

namespace {

// The file's length is looked up here, for this very file: what ReadStart
// found may stem from an earlier file when its size cards were unusual.
PixelRoad roadForThisFile(PluginState& state, ReadOperation& read, RowSource& rows, DataExtent& extent) {
    lookUpFileLength(state, read);
    double lo = 0.0;
    double hi = 0.0;
    const bool headerRangeUsable = headerRange(read.keys, lo, hi);
    extent = rows.extent(read.fileLength);
    const bool stretched = read.resolved.chosen.mapping.stretch != options::Stretch::range;
    return choosePixelRoad(read.keys.fileSampleBytes(), extent, headerRangeUsable, stretched,
                           static_cast<int16_t>(read.resolved.depth), read.resolved.mosaic != options::CfaPattern::none);
}

RowPlan planOf(const ReadOperation& read, DataExtent extent) {
    RowPlan plan;
    plan.planes = read.planesOpened;
    for (int p = 0; p < 3; ++p) plan.filePlanes[p] = read.filePlanes[p];
    plan.flip = read.flipRows;
    plan.depth = read.resolved.depth;
    plan.extent = extent;
    plan.stretched = read.resolved.chosen.mapping.stretch != options::Stretch::range;
    plan.demosaic = read.resolved.chosen.demosaic == options::Demosaic::quality ? debayer::DemosaicMethod::quality
                                                                                  : debayer::DemosaicMethod::bilinear;
    return plan;
}

}  // namespace

void doReadContinue(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    ReadOperation* read = operationAs<ReadOperation>(state);
    disposeImageResources(state);
    // Rows are only read for the image ReadStart described, exactly as it
    // described it; anything else would size the reads from the host's
    // numbers instead of the file's.
    const ImageSize size = imageSizeOf(record);
    RowSource* rows = read != nullptr ? read->rows() : nullptr;
    if (read == nullptr || rows == nullptr || !read->readReady || size.rows != read->toldRows ||
        size.columns != read->toldColumns || record.planes != read->planesOpened || record.advanceState == nullptr) {
        recordError(state, formatBadParameters);
        if (read != nullptr) storeHeaderCards(state, read->header);
        return;
    }
    if (read->keys.bscale == 0.0) read->keys.bscale = 1.0;
    // Rows of every plane: at most 300000 x 3, well within 32 bits.
    const int32_t total = size.rows * record.planes;
    DataExtent extent = DataExtent::unknown;
    const PixelRoad road = roadForThisFile(state, *read, *rows, extent);
    // A file its length shows too short gives the host nothing, and needs
    // no buffers to say so.
    if (road == PixelRoad::cutShort) recordError(state, eofErr);
    const RowPlan plan = planOf(*read, extent);
    const auto sampleBytes = static_cast<int16_t>(plan.depth / 8);
    RowBuffer buffer(record);
    RoadWork work;
    if (buffer.size(state, sampleBytes) && allocateRoadWork(state, road, read->keys, plan, size.columns, work))
        buffer.acquire(state);
    record.colBytes = sampleBytes;
    record.rowBytes = buffer.rowBytes();
    record.planeBytes = 0;
    record.data = buffer.data();
    if (road != PixelRoad::none && road != PixelRoad::cutShort) rows->begin(state, extent == DataExtent::whole);
    RoadFindings findings{read->resolved};
    moveRows(state, road, read->keys, *rows, buffer, work, plan, total, findings);
    read->floatExponent = findings.floatExponent;
    record.data = nullptr;
    buffer.release();
    work.release();
    // The header reaches the document even when the samples did not.
    storeHeaderCards(state, read->header);
    if (state.result == noErr) addOpenRecord(state, read->resolved, read->floatExponent);
}

void doReadFinish(PluginState& state) {
    if (ReadOperation* read = operationAs<ReadOperation>(state)) {
        // The options the file opened with, for the action the host records
        // and for a revert; only for a read that got that far.
        if (read->readReady) recordOpenChoices(state, *read);
        endOperation(state);
    }
    // A host that could not make the document never calls ReadContinue,
    // which gives the empty image-resource handle of ReadStart back; it is
    // the module's, so it goes here rather than stay behind.
    disposeImageResources(state);
}

}  // namespace nebulite
