#include "import/read_pixels.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "header/card_buffer.h"
#include "import/history.h"
#include "import/row_buffer.h"
#include "shell/file_access.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/module_memory.h"
#include "shell/session.h"
#include "shell/sizes.h"

namespace nebulite {

void build16BitTable(double bscale, double bzero, std::array<uint16_t, 65536>& table) {
    for (uint32_t raw = 0; raw < 65536; ++raw) {
        // BZERO 0 marks the data as unsigned; anything else as two's complement.
        double s = bzero == 0.0 ? static_cast<double>(raw)
                                : static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(raw)));
        double v = s * bscale + bzero;
        if (!(v >= 0.0)) v = 0.0;
        if (v > 65535.0) v = 65535.0;
        auto t = static_cast<uint32_t>(v);
        table[raw] = static_cast<uint16_t>((t + 1) / 2);
    }
}

double physicalValue32(uint32_t raw, bool isFloat, double bscale, double bzero, bool blankSeen,
                       int64_t blankValue) {
    constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();
    double stored;
    if (isFloat) {
        stored = static_cast<double>(std::bit_cast<float>(raw));
        if (!std::isfinite(stored)) return kUndefined;
    } else {
        auto value = static_cast<int32_t>(raw);
        if (blankSeen && value == blankValue) return kUndefined;
        stored = value;
    }
    double p = stored * bscale + bzero;
    return std::isfinite(p) ? p : kUndefined;
}

uint16_t scaleToHost(double value, double lo, double hi) {
    if (!(hi > lo) || std::isnan(value)) return 0;
    double x = (value - lo) / (hi - lo) * 32768.0;
    if (!(x > 0.0)) return 0;
    if (x >= 32768.0) return 32768;
    return static_cast<uint16_t>(std::floor(x + 0.5));
}

namespace {

uint32_t loadBigEndian32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Reads exactly `count` bytes, in pieces that fit the 16-bit read count.
void readRowBytes(PluginState& state, void* destination, int64_t count) {
    auto* out = static_cast<unsigned char*>(destination);
    while (state.result == noErr && count > 0) {
        int32_t piece = count > 65534 ? 65534 : static_cast<int32_t>(count);
        int32_t moved = piece;
        if (!recordError(state, fileRead(state.formatRecord->dataFork, &moved, out))) return;
        if (moved < piece) {
            recordError(state, eofErr);
            return;
        }
        out += piece;
        count -= piece;
    }
}

// The 8-bit road: the file's bytes go to the host unchanged, row by row.
void read8BitRows(PluginState& state, int32_t total) {
    FormatRecord& record = *state.formatRecord;
    int32_t done = 0;
    for (int16_t p = 0; state.result == noErr && p < record.planes; ++p) {
        record.loPlane = record.hiPlane = p;
        for (int16_t r = 0; state.result == noErr && r < record.imageSize.v; ++r) {
            record.theRect.top = r;
            record.theRect.bottom = static_cast<int16_t>(r + 1);
            readRowBytes(state, state.bufferPtr, state.bufferRowBytes);
            if (state.result == noErr) state.result = record.advanceState();
            ++done;
            if (record.progressProc != nullptr) record.progressProc(done, total);
        }
    }
}

// Hands the stored host samples over, row by row, once every row has been
// read: a file that ends early gives the host nothing.
template <typename RowFiller>
void deliverStoredRows(PluginState& state, int32_t total, RowFiller fill) {
    FormatRecord& record = *state.formatRecord;
    int32_t done = 0;
    session.sampleCursor = 0;
    for (int16_t p = 0; state.result == noErr && p < record.planes; ++p) {
        record.loPlane = record.hiPlane = p;
        for (int16_t r = 0; state.result == noErr && r < record.imageSize.v; ++r) {
            record.theRect.top = r;
            record.theRect.bottom = static_cast<int16_t>(r + 1);
            auto* row = reinterpret_cast<uint16_t*>(state.bufferPtr);
            fill(row, static_cast<size_t>(record.imageSize.h));
            session.sampleCursor += static_cast<uint64_t>(record.imageSize.h);
            if (state.result == noErr) state.result = record.advanceState();
            ++done;
            if (record.progressProc != nullptr) record.progressProc(done, total);
        }
    }
}

// The 16-bit road: every row is converted into the store first.
void read16BitRows(PluginState& state, int32_t total) {
    FormatRecord& record = *state.formatRecord;
    static std::array<uint16_t, 65536> table;
    build16BitTable(session.bscale, session.bzero, table);
    auto* store = static_cast<uint16_t*>(session.sampleStore);
    auto columns = static_cast<size_t>(record.imageSize.h);
    // The host buffer is free until the second pass, so the file's bytes land there.
    auto* bytes = reinterpret_cast<unsigned char*>(state.bufferPtr);
    session.sampleCursor = 0;
    for (int16_t p = 0; state.result == noErr && p < record.planes; ++p) {
        for (int16_t r = 0; state.result == noErr && r < record.imageSize.v; ++r) {
            readRowBytes(state, bytes, state.bufferRowBytes);
            if (state.result != noErr) break;
            uint16_t* out = store + session.sampleCursor;
            for (size_t i = 0; i < columns; ++i)
                out[i] = table[static_cast<size_t>(bytes[2 * i]) << 8 | bytes[2 * i + 1]];
            session.sampleCursor += columns;
        }
    }
    deliverStoredRows(state, total, [store](uint16_t* row, size_t n) {
        std::memcpy(row, store + session.sampleCursor, n * sizeof(uint16_t));
    });
}

// The 32-bit road: raw samples are kept, the range is found (from the
// header, or from the data), then every sample is scaled into 0..32768.
void read32BitRows(PluginState& state, int32_t total) {
    FormatRecord& record = *state.formatRecord;
    auto* store = static_cast<uint32_t*>(session.sampleStore);
    auto* bytes = static_cast<unsigned char*>(session.rowBlock);
    auto columns = static_cast<size_t>(record.imageSize.h);
    const bool isFloat = session.bitpixNegative;
    const double bscale = session.bscale;
    const double bzero = session.bzero;
    const bool blankSeen = session.blankSeen && !isFloat;
    const int64_t blank = session.blankValue;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    session.sampleCursor = 0;
    for (int16_t p = 0; state.result == noErr && p < record.planes; ++p) {
        for (int16_t r = 0; state.result == noErr && r < record.imageSize.v; ++r) {
            readRowBytes(state, bytes, static_cast<int64_t>(columns) * 4);
            if (state.result != noErr) break;
            uint32_t* out = store + session.sampleCursor;
            for (size_t i = 0; i < columns; ++i) {
                uint32_t raw = loadBigEndian32(bytes + 4 * i);
                out[i] = raw;
                double v = physicalValue32(raw, isFloat, bscale, bzero, blankSeen, blank);
                if (!std::isnan(v)) {
                    if (v < lo) lo = v;
                    if (v > hi) hi = v;
                }
            }
            session.sampleCursor += columns;
        }
    }
    if (session.rangeKeywordSeen) {
        double headerLo = session.rangeLow;
        double headerHi = session.rangeIsOffset ? session.rangeLow + session.rangeHigh : session.rangeHigh;
        if (headerHi > headerLo) {
            lo = headerLo;
            hi = headerHi;
        }
    }
    deliverStoredRows(state, total, [=](uint16_t* row, size_t n) {
        const uint32_t* in = store + session.sampleCursor;
        for (size_t i = 0; i < n; ++i)
            row[i] = scaleToHost(physicalValue32(in[i], isFloat, bscale, bzero, blankSeen, blank), lo, hi);
    });
}

}  // namespace

void disposeImageResources(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (record.imageRsrcData != nullptr) {
        handleDispose(record.handleProcs, record.imageRsrcData);
        record.imageRsrcData = nullptr;
        record.imageRsrcSize = 0;
    }
}

namespace {

void releaseImportWork() {
    moduleFree(session.sampleStore);
    session.sampleStore = nullptr;
    moduleFree(session.rowBlock);
    session.rowBlock = nullptr;
}

}  // namespace

bool acquireRowBuffer(PluginState& state, int16_t hostSampleBytes, bool forImport) {
    if (state.result != noErr) return false;
    FormatRecord& record = *state.formatRecord;
    releaseImportWork();
    state.bufferId = nullptr;
    state.bufferPtr = nullptr;
    auto rowBytes = checkedMul(static_cast<uint64_t>(record.imageSize.h < 0 ? 0 : record.imageSize.h),
                               static_cast<uint64_t>(hostSampleBytes));
    if (!rowBytes) return recordError(state, memFullErr);
    state.bufferRowBytes = static_cast<int32_t>(*rowBytes);
    if (forImport && session.fileSampleBytes >= 2) {
        // Wide samples wait in the store until every row has been read.
        uint64_t samples = uint64_t{static_cast<uint16_t>(record.imageSize.v)} *
                           static_cast<uint16_t>(record.imageSize.h) *
                           static_cast<uint16_t>(record.planes);
        uint64_t sampleBytes = session.fileSampleBytes == 2 ? 2 : 4;
        uint64_t storeBytes = samples * sampleBytes;
        // A 32-bit process cannot address the store of the largest images.
        if (storeBytes != static_cast<size_t>(storeBytes)) return recordError(state, memFullErr);
        session.sampleStore =
            moduleAllocate(nebuliteAllocSampleStore, static_cast<size_t>(storeBytes));
        if (session.sampleStore == nullptr) return recordError(state, memFullErr);
        if (session.fileSampleBytes == 4) {
            session.rowBlock = moduleAllocate(nebuliteAllocRowBlock,
                                              static_cast<size_t>(record.imageSize.h) * 4);
            if (session.rowBlock == nullptr) {
                releaseImportWork();
                return recordError(state, memFullErr);
            }
        }
        session.sampleCursor = 0;
    }
    BufferID id = nullptr;
    if (!recordError(state, bufferAllocate(record.bufferProcs, state.bufferRowBytes, &id))) {
        releaseImportWork();
        return false;
    }
    state.bufferId = id;
    state.bufferPtr = bufferLock(record.bufferProcs, id);
    if (state.bufferPtr == nullptr) {
        // A buffer the host cannot lock is as good as none.
        releaseRowBuffers(state);
        return recordError(state, memFullErr);
    }
    return true;
}

void releaseRowBuffers(PluginState& state) {
    releaseImportWork();
    if (state.bufferId != nullptr) {
        bufferFree(state.formatRecord->bufferProcs, state.bufferId);
        state.bufferId = nullptr;
        state.bufferPtr = nullptr;
    }
}

void releaseReadMemory() {
    releaseCardBuffer();
    releaseImportWork();
    session.readReady = false;
}

void doReadContinue(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (session.bscale == 0.0) session.bscale = 1.0;
    disposeImageResources(state);
    // Rows are only read for the image ReadStart described, exactly as it
    // described it; anything else would size the reads from the host's
    // numbers instead of the file's.
    if (!session.readReady || record.imageSize.v != session.toldRows ||
        record.imageSize.h != session.toldColumns || record.planes != session.planesOpened ||
        record.advanceState == nullptr)
        recordError(state, formatBadParameters);
    int32_t total = int32_t{record.imageSize.v} * record.planes;
    acquireRowBuffer(state, session.hostSampleBytes, true);
    record.theRect.left = 0;
    record.theRect.right = record.imageSize.h;
    record.colBytes = session.hostSampleBytes;
    record.rowBytes = state.bufferRowBytes;
    record.planeBytes = 0;
    record.data = state.bufferPtr;
    if (state.result == noErr) {
        switch (session.fileSampleBytes) {
            case 1: read8BitRows(state, total); break;
            case 2: read16BitRows(state, total); break;
            case 4: read32BitRows(state, total); break;
            default: break;
        }
    }
    record.data = nullptr;
    releaseRowBuffers(state);
    // The header reaches the document even when the samples did not.
    storeHeaderCards(state);
}

}  // namespace nebulite
