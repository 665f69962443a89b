#include "export/tiled/counted_memory.h"

#include <algorithm>
#include <cstring>

#include "header/fits_units.h"

namespace nebulite::tiledsave {

void* CountedMemory::take(size_t bytes) {
    if (bytes > SIZE_MAX - kOverhead) return nullptr;
    auto* block = static_cast<uint8_t*>(memory_.allocate(bytes + kOverhead));
    if (block == nullptr) return nullptr;
    const uint64_t size = bytes + kOverhead;
    std::memcpy(block, &size, sizeof size);
    held_ += size;
    peak_ = std::max(peak_, held_);
    return block + kOverhead;
}

void CountedMemory::give(void* block) {
    if (block == nullptr) return;
    uint8_t* start = static_cast<uint8_t*>(block) - kOverhead;
    uint64_t size = 0;
    std::memcpy(&size, start, sizeof size);
    held_ -= size;
    memory_.release(start);
}

void* CountedMemory::deflateAllocate(void* opaque, unsigned items, unsigned size) {
    const auto bytes = checkedMul(items, size, SIZE_MAX);
    return bytes ? static_cast<CountedMemory*>(opaque)->take(static_cast<size_t>(*bytes)) : nullptr;
}

void CountedMemory::deflateRelease(void* opaque, void* block) { static_cast<CountedMemory*>(opaque)->give(block); }

}  // namespace nebulite::tiledsave
