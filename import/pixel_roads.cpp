#include "import/pixel_roads.h"

#include <cstddef>
#include <cstring>

#include "import/read_pixels.h"
#include "import/tiled/row_source.h"
#include "shell/geometry.h"
#include "shell/input_stream.h"
#include "shell/session.h"

namespace nebulite {

DataExtent dataExtent(int64_t fileLength, int64_t dataStart, int64_t dataBytes) {
    if (fileLength <= 0 || dataStart < 0 || dataBytes < 0) return DataExtent::unknown;
    // Subtracting keeps clear of overflow whatever the header claimed.
    return dataBytes <= fileLength - dataStart ? DataExtent::whole : DataExtent::cutShort;
}

PixelRoad choosePixelRoad(int16_t fileSampleBytes, DataExtent extent, bool headerRangeUsable) {
    switch (fileSampleBytes) {
        // Bytes need no conversion: the rows a short file has still arrive.
        case 1: return PixelRoad::bytes;
        case 2:
            if (extent == DataExtent::whole) return PixelRoad::streamed16;
            return extent == DataExtent::unknown ? PixelRoad::stored16 : PixelRoad::cutShort;
        case 4:
        case 8:
            if (extent == DataExtent::cutShort) return PixelRoad::cutShort;
            return extent == DataExtent::whole && headerRangeUsable ? PixelRoad::streamedWide
                                                                    : PixelRoad::twoPassWide;
        default: return PixelRoad::none;
    }
}

ImportWork workFor(PixelRoad road) {
    switch (road) {
        case PixelRoad::stored16: return ImportWork::sampleStore;
        case PixelRoad::streamedWide:
        case PixelRoad::twoPassWide: return ImportWork::fileRow;
        default: return ImportWork::none;
    }
}

bool headerRange(double& lo, double& hi) {
    if (!session.rangeKeywordSeen) return false;
    double low = session.rangeLow;
    double high = session.rangeIsOffset ? session.rangeLow + session.rangeHigh : session.rangeHigh;
    // An empty or reversed range says nothing; the data's own range applies.
    if (!(high > low)) return false;
    lo = low;
    hi = high;
    return true;
}

namespace {

// The one place rows come from: the data unit in the input stream, or the
// tiles of a compressed image decoded into the same bytes.
void readRowBytes(PluginState& state, unsigned char* out, int64_t count) {
    if (tiledSourceActive())
        tiledSourceRead(state, out, count);
    else
        inputReadExact(state, out, count);
}

// Every row of every plane the host was told of, in file order: `fill` puts
// the row into the host buffer, then the host takes it. The loops stop at the
// first error; the row that met it still counts for progress.
template <typename Fill>
void handOverRows(PluginState& state, int32_t total, Fill fill) {
    FormatRecord& record = *state.formatRecord;
    const ImageSize size = imageSizeOf(record);
    int32_t done = 0;
    for (int16_t p = 0; state.result == noErr && p < record.planes; ++p) {
        record.loPlane = record.hiPlane = p;
        for (int32_t r = 0; state.result == noErr && r < size.rows; ++r) {
            setRowRect(record, r, size.columns);
            fill();
            if (state.result == noErr) state.result = record.advanceState();
            ++done;
            if (record.progressProc != nullptr) record.progressProc(done, total);
        }
    }
}

// Every row read into `into` and shown to `take`, none handed over.
template <typename Take>
void readEveryRow(PluginState& state, unsigned char* into, int64_t rowBytes, Take take) {
    const FormatRecord& record = *state.formatRecord;
    const int32_t rows = imageSizeOf(record).rows * record.planes;
    for (int32_t k = 0; state.result == noErr && k < rows; ++k) {
        readRowBytes(state, into, rowBytes);
        if (state.result == noErr) take(into);
    }
}

unsigned char* hostRow(PluginState& state) { return reinterpret_cast<unsigned char*>(state.bufferPtr); }

size_t columnsOf(const PluginState& state) {
    return static_cast<size_t>(imageSizeOf(*state.formatRecord).columns);
}

// Static, not on the stack: 128 KiB.
Table16& sessionTable16() {
    static Table16 table;
    build16BitTable(session.bscale, session.bzero, table);
    return table;
}

void moveBytes(PluginState& state, int32_t total) {
    handOverRows(state, total, [&] { readRowBytes(state, hostRow(state), state.bufferRowBytes); });
}

// The file's 2-byte samples fit the host buffer, so they are converted there.
void moveStreamed16(PluginState& state, int32_t total) {
    const Table16& table = sessionTable16();
    handOverRows(state, total, [&] {
        readRowBytes(state, hostRow(state), state.bufferRowBytes);
        if (state.result == noErr) convert16BitRow(hostRow(state), columnsOf(state), table);
    });
}

// Without the file's length a row missing at the end shows only when it is
// read, so every row is converted into the store before the host sees one.
void moveStored16(PluginState& state, int32_t total) {
    const Table16& table = sessionTable16();
    auto* store = static_cast<unsigned char*>(session.sampleStore);
    const size_t columns = columnsOf(state);
    const size_t rowBytes = columns * 2;
    session.sampleCursor = 0;
    readEveryRow(state, hostRow(state), state.bufferRowBytes, [&](unsigned char* row) {
        convert16BitRow(row, columns, table);
        std::memcpy(store + session.sampleCursor * 2, row, rowBytes);
        session.sampleCursor += columns;
    });
    // A gzip file shows itself intact only at its end.
    inputVerifyToEnd(state);
    if (state.result != noErr) return;
    session.sampleCursor = 0;
    handOverRows(state, total, [&] {
        std::memcpy(hostRow(state), store + session.sampleCursor * 2, rowBytes);
        session.sampleCursor += columns;
    });
}

WideRules rulesFromHeader() {
    WideRules rules;
    rules.isFloat = session.bitpixNegative;
    rules.sampleBytes = session.fileSampleBytes;
    rules.bscale = session.bscale;
    rules.bzero = session.bzero;
    rules.blankSeen = session.blankSeen && !rules.isFloat;
    rules.blankValue = session.blankValue;
    return rules;
}

int64_t wideRowBytes(const PluginState& state) {
    return static_cast<int64_t>(columnsOf(state)) * session.fileSampleBytes;
}

void moveStreamedWide(PluginState& state, int32_t total, double lo, double hi) {
    const WideRules rules = rulesFromHeader();
    auto* fileRow = static_cast<unsigned char*>(session.rowBlock);
    const size_t columns = columnsOf(state);
    handOverRows(state, total, [&] {
        readRowBytes(state, fileRow, wideRowBytes(state));
        if (state.result == noErr) convertWideRow(fileRow, columns, rules, lo, hi, hostRow(state));
    });
}

// The first pass reads the file, not a copy of it: the data's range comes
// from it (unless the header gives one), and the host sees no row of a file
// that turns out short. The second starts over at the data start.
void moveTwoPassWide(PluginState& state, int32_t total) {
    const WideRules rules = rulesFromHeader();
    double lo = 0.0;
    double hi = 0.0;
    const bool fromHeader = headerRange(lo, hi);
    const size_t columns = columnsOf(state);
    WideRange range;
    readEveryRow(state, static_cast<unsigned char*>(session.rowBlock), wideRowBytes(state),
                 [&](const unsigned char* row) {
                     if (!fromHeader) widenRange(row, columns, rules, range);
                 });
    inputVerifyToEnd(state);
    if (state.result != noErr) return;
    if (!fromHeader) {
        lo = range.lo;
        hi = range.hi;
    }
    // A gzip stream starts inflating again from the beginning.
    restartRows(state);
    moveStreamedWide(state, total, lo, hi);
}

}  // namespace

void restartRows(PluginState& state) {
    if (tiledSourceActive())
        tiledSourceRestart();
    else
        inputSeek(state, session.dataStart);
}

void moveRows(PluginState& state, PixelRoad road, int32_t total) {
    if (state.result != noErr) return;
    double lo = 0.0;
    double hi = 0.0;
    switch (road) {
        case PixelRoad::bytes: moveBytes(state, total); break;
        case PixelRoad::streamed16: moveStreamed16(state, total); break;
        case PixelRoad::stored16: moveStored16(state, total); break;
        case PixelRoad::streamedWide:
            headerRange(lo, hi);
            moveStreamedWide(state, total, lo, hi);
            break;
        case PixelRoad::twoPassWide: moveTwoPassWide(state, total); break;
        // A file too short is refused before anything is read.
        case PixelRoad::cutShort: recordError(state, eofErr); break;
        case PixelRoad::none: break;
    }
    // Rows handed over from a gzip file count only once its checks pass.
    inputVerifyToEnd(state);
}

}  // namespace nebulite
