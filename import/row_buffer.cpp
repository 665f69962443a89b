#include "import/row_buffer.h"

#include <cstddef>

#include "import/tiled/row_source.h"
#include "shell/geometry.h"
#include "shell/host_services.h"
#include "shell/module_memory.h"
#include "shell/session.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

bool allocateImportWork(PluginState& state, ImportWork work) {
    const FormatRecord& record = *state.formatRecord;
    const ImageSize size = imageSizeOf(record);
    auto columns = static_cast<uint64_t>(size.columns < 0 ? 0 : size.columns);
    uint64_t bytes = 0;
    NebuliteAllocKind kind = nebuliteAllocRowBlock;
    switch (work) {
        case ImportWork::none: return true;
        case ImportWork::fileRow:
            bytes = columns * static_cast<uint64_t>(session.fileSampleBytes < 1 ? 1 : session.fileSampleBytes);
            break;
        case ImportWork::sampleStore:
            bytes = static_cast<uint64_t>(size.rows < 0 ? 0 : size.rows) * columns *
                    static_cast<uint16_t>(record.planes) * 2;
            kind = nebuliteAllocSampleStore;
            break;
    }
    // A 32-bit process cannot address the store of the largest images.
    if (bytes != static_cast<size_t>(bytes)) return recordError(state, memFullErr);
    void* block = moduleAllocate(kind, static_cast<size_t>(bytes));
    if (block == nullptr) return recordError(state, memFullErr);
    if (work == ImportWork::sampleStore) {
        session.sampleStore = block;
        session.sampleCursor = 0;
    } else {
        session.rowBlock = block;
    }
    return true;
}

}  // namespace

void releaseImportWork() {
    tiledSourceRelease();
    moduleFree(session.sampleStore);
    session.sampleStore = nullptr;
    moduleFree(session.rowBlock);
    session.rowBlock = nullptr;
}

bool acquireRowBuffer(PluginState& state, int16_t hostSampleBytes, ImportWork work) {
    if (state.result != noErr) return false;
    FormatRecord& record = *state.formatRecord;
    releaseImportWork();
    state.bufferId = nullptr;
    state.bufferPtr = nullptr;
    const int32_t columns = imageSizeOf(record).columns;
    auto rowBytes = checkedMul(static_cast<uint64_t>(columns < 0 ? 0 : columns),
                               static_cast<uint64_t>(hostSampleBytes));
    if (!rowBytes) return recordError(state, memFullErr);
    state.bufferRowBytes = static_cast<int32_t>(*rowBytes);
    if (!allocateImportWork(state, work)) return false;
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

}  // namespace nebulite
