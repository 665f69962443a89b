#include "platform/platform.h"

#if !defined(_WIN32)

#include <sys/mman.h>

#include <cstdlib>

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}  // namespace

void* nebulitePlatformHeapAllocate(size_t bytes) {
    if (bytes < 2 * kHugePage) return std::malloc(bytes);
    void* block = nullptr;
    size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (rounded < bytes || posix_memalign(&block, kHugePage, rounded) != 0) return nullptr;
#if defined(MADV_HUGEPAGE)
    madvise(block, rounded, MADV_HUGEPAGE);
#endif
    return block;
}

#endif
