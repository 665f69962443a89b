// Rows between module and host: the host's buffer that carries one row of
// one plane, and the one walk over every row of every plane that a read
// (module fills, host takes) and a write (host fills, module takes) both
// make, with advanceState and progress at each row.
#pragma once

#include <cstdint>

#include "platform/host_sdk.h"
#include "shell/geometry.h"
#include "shell/plugin_state.h"

namespace nebulite {

// A locked buffer from the host's buffer suite, given back when it goes.
class RowBuffer {
public:
    explicit RowBuffer(const FormatRecord& record) : procs_(record.bufferProcs) {}
    RowBuffer(const RowBuffer&) = delete;
    RowBuffer& operator=(const RowBuffer&) = delete;
    ~RowBuffer() { release(); }

    // Sizes the row: the image's columns x `sampleBytes`. memFullErr when that
    // is beyond the host's 32-bit counts.
    bool size(PluginState& state, int16_t sampleBytes);
    // Gets and locks the buffer of the size set. The host's error, or
    // memFullErr for a buffer it cannot lock.
    bool acquire(PluginState& state);
    void release();

    Ptr data() const { return data_; }
    int32_t rowBytes() const { return rowBytes_; }

private:
    const BufferProcs* procs_;
    BufferID id_ = nullptr;
    Ptr data_ = nullptr;
    int32_t rowBytes_ = 0;
};

// Every row of the first `planes` planes in order, each described to the
// host in theRect/loPlane/hiPlane: `before(plane, row)`, then advanceState
// (unless a step failed), then `after(plane, row)`, then progress. The walk
// stops at the first error; the row that met it still counts for progress.
// `flip`: row r of the walk is the image's row (rows - 1 - r), so that the
// file's rows, taken in their order, turn the image over.
template <typename Before, typename After>
void walkRows(PluginState& state, int16_t planes, int32_t total, bool flip, Before before, After after) {
    FormatRecord& record = *state.formatRecord;
    const ImageSize size = imageSizeOf(record);
    int32_t done = 0;
    for (int16_t p = 0; state.result == noErr && p < planes; ++p) {
        record.loPlane = record.hiPlane = p;
        for (int32_t r = 0; state.result == noErr && r < size.rows; ++r) {
            setRowRect(record, flip ? size.rows - 1 - r : r, size.columns);
            before(p, r);
            if (state.result == noErr) state.result = record.advanceState();
            after(p, r);
            ++done;
            if (record.progressProc != nullptr) record.progressProc(done, total);
        }
    }
}

}  // namespace nebulite
