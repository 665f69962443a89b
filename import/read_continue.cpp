// ReadContinue: every sample from the file to the host, one row of one plane
// at a time, then the header into the document.
#include "document/kept_header.h"
#include "header/card_buffer.h"
#include "import/pixel_roads.h"
#include "import/read_header.h"
#include "import/row_buffer.h"
#include "import/tiled/row_source.h"
#include "shell/geometry.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/input_stream.h"
#include "shell/session.h"

namespace nebulite {

void disposeImageResources(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (record.imageRsrcData != nullptr) {
        handleDispose(record.handleProcs, record.imageRsrcData);
        record.imageRsrcData = nullptr;
        record.imageRsrcSize = 0;
    }
}

void releaseReadMemory() {
    releaseCardBuffer();
    releaseImportWork();
    inputClose();
    session.readReady = false;
}

namespace {

// The file's length is looked up here, for this very file: what ReadStart
// found may stem from an earlier file when its size cards were unusual.
PixelRoad roadForThisFile(PluginState& state) {
    lookUpFileLength(state);
    double lo = 0.0;
    double hi = 0.0;
    bool headerRangeUsable = headerRange(lo, hi);
    // A tiled image's rows come from its table, whose data unit must be there.
    const int64_t dataBytes = tiledSourceActive() ? tiledSourceDataBytes() : session.dataBytes;
    DataExtent extent = dataExtent(session.fileLength, session.dataStart, dataBytes);
    // A gzip trailer gives the length of its own member only, modulo 4 GiB:
    // too short a length there may be a file of several members or a huge
    // one, so it says nothing, and the roads that find a cut file by reading
    // it apply.
    if (inputIsGzip() && extent == DataExtent::cutShort) extent = DataExtent::unknown;
    session.tiledDataWhole = extent == DataExtent::whole;
    return choosePixelRoad(session.fileSampleBytes, extent, headerRangeUsable);
}

}  // namespace

void doReadContinue(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (session.bscale == 0.0) session.bscale = 1.0;
    disposeImageResources(state);
    // Rows are only read for the image ReadStart described, exactly as it
    // described it; anything else would size the reads from the host's
    // numbers instead of the file's.
    const ImageSize size = imageSizeOf(record);
    if (!session.readReady || size.rows != session.toldRows || size.columns != session.toldColumns ||
        record.planes != session.planesOpened || record.advanceState == nullptr)
        recordError(state, formatBadParameters);
    // Rows of every plane: at most 300000 x 3, well within 32 bits.
    int32_t total = size.rows * record.planes;
    PixelRoad road = state.result == noErr ? roadForThisFile(state) : PixelRoad::none;
    // A file its length shows too short gives the host nothing, and needs
    // no buffers to say so.
    if (road == PixelRoad::cutShort) recordError(state, eofErr);
    acquireRowBuffer(state, session.hostSampleBytes, workFor(road));
    record.colBytes = session.hostSampleBytes;
    record.rowBytes = state.bufferRowBytes;
    record.planeBytes = 0;
    record.data = state.bufferPtr;
    // ReadStart left the stream there; this only moves when the host asks
    // for the rows a second time.
    inputSeek(state, session.dataStart);
    if (road != PixelRoad::none && road != PixelRoad::cutShort) tiledSourceBegin(state, session.tiledDataWhole);
    moveRows(state, road, total);
    record.data = nullptr;
    releaseRowBuffers(state);
    // The header reaches the document even when the samples did not.
    storeHeaderCards(state);
}

}  // namespace nebulite
