#include "shell/row_transfer.h"

#include "header/fits_units.h"
#include "shell/host_services.h"

namespace nebulite {

bool RowBuffer::size(PluginState& state, int16_t sampleBytes) {
    const int32_t columns = imageSizeOf(*state.formatRecord).columns;
    auto bytes = checkedMul(static_cast<uint64_t>(columns < 0 ? 0 : columns), static_cast<uint64_t>(sampleBytes));
    if (!bytes) return recordError(state, memFullErr);
    rowBytes_ = static_cast<int32_t>(*bytes);
    return true;
}

bool RowBuffer::acquire(PluginState& state) {
    release();
    BufferID id = nullptr;
    if (!recordError(state, bufferAllocate(procs_, rowBytes_, &id))) return false;
    id_ = id;
    data_ = bufferLock(procs_, id);
    if (data_ == nullptr) {
        // A buffer the host cannot lock is as good as none.
        release();
        return recordError(state, memFullErr);
    }
    return true;
}

void RowBuffer::release() {
    if (id_ != nullptr) bufferFree(procs_, id_);
    id_ = nullptr;
    data_ = nullptr;
}

}  // namespace nebulite
