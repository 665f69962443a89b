// Win32 stand-in for POSIX systems. See win32.h and host_hooks.h.
#include "platform/win32.h"

#if !defined(_WIN32)

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/host_hooks.h"
#include "platform/platform.h"
#include "resources/string_table.h"

namespace {

const NebuliteHostHooks* hooks() {
    // The function is found once: a symbol does not move while the process
    // runs, and a lookup per row costs as much as the row's write. The table
    // it answers is asked for on every call, since hosts come and go.
    static const NebuliteHostHooksProc proc =
        reinterpret_cast<NebuliteHostHooksProc>(dlsym(RTLD_DEFAULT, "nebuliteHostHooks"));
    if (proc == nullptr) return nullptr;
    const NebuliteHostHooks* h = proc();
    if (h == nullptr || h->version != nebuliteHostHooksVersion) return nullptr;
    return h;
}

// A global-memory block: the bookkeeping lives in front of the data, so that
// GlobalHandle can find the block from the data address.
struct GlobalBlock {
    uint32_t magic;
    uint32_t lockCount;
    size_t size;
    alignas(std::max_align_t) unsigned char data[1];
};
constexpr uint32_t kGlobalMagic = 0x474c4f42;  // "GLOB"
constexpr size_t kDataOffset = offsetof(GlobalBlock, data);

// Every live block, so that a handle or address that is not one of ours is
// refused, as Windows refuses it, instead of being read.
std::unordered_set<const void*>& liveBlocks() {
    static std::unordered_set<const void*> blocks;
    return blocks;
}
std::mutex liveBlocksLock;

bool isLive(const void* block) {
    std::lock_guard<std::mutex> guard(liveBlocksLock);
    return liveBlocks().count(block) != 0;
}

GlobalBlock* blockOf(HGLOBAL handle) {
    if (handle == nullptr || !isLive(handle)) return nullptr;
    return static_cast<GlobalBlock*>(handle);
}

}  // namespace

bool nebulitePlatformAllocationFails(int kind, size_t bytes) {
    const NebuliteHostHooks* h = hooks();
    return h != nullptr && h->failAllocation != nullptr && h->failAllocation(kind, bytes);
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (nebulitePlatformAllocationFails(nebuliteAllocGlobal, bytes)) return nullptr;
    if (bytes > SIZE_MAX - kDataOffset - 1) return nullptr;
    // At least one data byte, so that a block of size 0 still has an address.
    void* memory = (flags & GMEM_ZEROINIT) ? std::calloc(1, kDataOffset + bytes + 1)
                                           : std::malloc(kDataOffset + bytes + 1);
    if (memory == nullptr) return nullptr;
    auto* block = static_cast<GlobalBlock*>(memory);
    block->magic = kGlobalMagic;
    block->lockCount = 0;
    block->size = bytes;
    std::lock_guard<std::mutex> guard(liveBlocksLock);
    liveBlocks().insert(block);
    return block;
}

LPVOID GlobalLock(HGLOBAL handle) {
    GlobalBlock* block = blockOf(handle);
    // As on Windows, a moveable block of size 0 has been discarded and
    // cannot be locked.
    if (block == nullptr || block->size == 0) return nullptr;
    ++block->lockCount;
    return block->data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
    GlobalBlock* block = blockOf(handle);
    if (block == nullptr || block->lockCount == 0) return 0;
    --block->lockCount;
    return block->lockCount != 0;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
    GlobalBlock* block = blockOf(handle);
    if (block == nullptr) return handle;
    {
        std::lock_guard<std::mutex> guard(liveBlocksLock);
        liveBlocks().erase(block);
    }
    block->magic = 0;
    std::free(block);
    return nullptr;
}

HGLOBAL GlobalHandle(LPCVOID address) {
    if (address == nullptr) return nullptr;
    // Computed as an integer: the address may not be one of ours at all.
    auto candidate = reinterpret_cast<uintptr_t>(address) - kDataOffset;
    auto* block = reinterpret_cast<GlobalBlock*>(candidate);
    return isLive(block) ? block : nullptr;
}

SIZE_T GlobalSize(HGLOBAL handle) {
    GlobalBlock* block = blockOf(handle);
    return block == nullptr ? 0 : block->size;
}

UINT _lread(HFILE file, LPVOID buffer, UINT count) {
    if (const NebuliteHostHooks* h = hooks(); h != nullptr && h->fileRead != nullptr) {
        unsigned moved = 0;
        if (h->fileRead(file, buffer, count, &moved)) return moved;
    }
    // Like ReadFile on a disk file, keep reading until the count is met or
    // the file ends.
    auto* out = static_cast<unsigned char*>(buffer);
    UINT total = 0;
    while (total < count) {
        ssize_t n = ::read(file, out + total, count - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            return static_cast<UINT>(HFILE_ERROR);
        }
        if (n == 0) break;
        total += static_cast<UINT>(n);
    }
    return total;
}

UINT _lwrite(HFILE file, LPCSTR buffer, UINT count) {
    if (const NebuliteHostHooks* h = hooks(); h != nullptr && h->fileWrite != nullptr) {
        unsigned moved = 0;
        if (h->fileWrite(file, buffer, count, &moved)) return moved;
    }
    UINT total = 0;
    while (total < count) {
        ssize_t n = ::write(file, buffer + total, count - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            return total == 0 ? static_cast<UINT>(HFILE_ERROR) : total;
        }
        if (n == 0) break;
        total += static_cast<UINT>(n);
    }
    return total;
}

namespace {

// -1 when the seek failed.
int64_t seekFile(int file, int64_t offset, int origin) {
    if (const NebuliteHostHooks* h = hooks(); h != nullptr && h->fileSeek != nullptr) {
        int64_t position = -1;
        if (h->fileSeek(file, offset, origin, &position)) return position;
    }
    static_assert(sizeof(off_t) == 8, "64-bit file offsets (_FILE_OFFSET_BITS=64)");
    off_t position = ::lseek(file, static_cast<off_t>(offset), origin);
    return position < 0 ? -1 : static_cast<int64_t>(position);
}

}  // namespace

LONG _llseek(HFILE file, LONG offset, int origin) {
    // As on Windows, a position past what a LONG holds is a failed seek.
    int64_t position = seekFile(file, offset, origin);
    return position < 0 || position > INT32_MAX ? HFILE_ERROR : static_cast<LONG>(position);
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* position, DWORD method) {
    auto fd = static_cast<int>(reinterpret_cast<intptr_t>(file));
    int64_t at = seekFile(fd, distance.QuadPart, static_cast<int>(method));
    if (at < 0) return 0;
    if (position != nullptr) position->QuadPart = at;
    return 1;
}

int LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax <= 0) return 0;
    const char* text = nebuliteStringResource(id);
    if (text == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    size_t length = std::strlen(text);
    size_t room = static_cast<size_t>(bufferMax) - 1;
    if (length > room) length = room;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (const NebuliteHostHooks* h = hooks(); h != nullptr && h->messageBox != nullptr)
        return h->messageBox(owner, text, caption, type);
    std::fprintf(stderr, "Nebulite: %s\n", text != nullptr ? text : "");
    return IDOK;
}

// The library entry: there is no DllMain on ELF, so a constructor hands the
// module its own base address as the instance handle.
extern "C" BOOL nebuliteDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {
__attribute__((constructor)) void libraryLoaded() {
    Dl_info info{};
    HINSTANCE instance = nullptr;
    if (dladdr(reinterpret_cast<void*>(&libraryLoaded), &info) != 0) instance = info.dli_fbase;
    nebuliteDllMain(instance, DLL_PROCESS_ATTACH, nullptr);
}
}  // namespace

#endif
