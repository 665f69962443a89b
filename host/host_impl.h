// The reference host's inside, shared by the files that make it up: the
// files the module reads and writes (host_files.cpp), the suites it calls
// (host_suites.cpp), the record as the editor fills it (host_record.cpp), the
// rows advanceState moves and the document a read makes (host_transfer.cpp),
// the selector sequences (host_sequences.cpp), and the hooks a module on a
// POSIX system finds by name (host_hooks.cpp).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host.h"

namespace nebulite::host {

// The record's geometry in the fields host and module agreed on: the 32-bit
// ones once the host offers them and the module takes them.
inline bool wideGeometry(const FormatRecord& r) {
    return r.HostSupports32BitCoordinates != 0 && r.PluginUsing32BitCoordinates != 0;
}
inline VPoint imageSizeIn(const FormatRecord& r) {
    return wideGeometry(r) ? r.imageSize32 : VPoint{r.imageSize.v, r.imageSize.h};
}
inline VRect rowRectIn(const FormatRecord& r) {
    return wideGeometry(r) ? r.theRect32 : VRect{r.theRect.top, r.theRect.left, r.theRect.bottom, r.theRect.right};
}

struct Host::Impl {
    explicit Impl(Host& h) : host(h) {}

    struct HandleRecord {
        char* data = nullptr;  // first, so that &record->data is the Handle
        size_t size = 0;
        int locks = 0;
        Leak::Kind kind = Leak::Kind::handle;
        bool hostOwned = false;  // resource handles from getProc
        int16_t selector = -1;
        uint64_t sequence = 0;
    };
    struct BufferRecord {
        char* data = nullptr;
        size_t size = 0;
        int locks = 0;
        int16_t selector = -1;
        uint64_t sequence = 0;
    };
    struct DescriptorToken {
        std::vector<DescriptorKeyID> keys;
        size_t next = 0;
        bool open = true;
    };

    Host& host;
    std::unordered_map<Handle, std::unique_ptr<HandleRecord>> handles;
    std::unordered_map<BufferID, std::unique_ptr<BufferRecord>> buffers;
    std::vector<std::unique_ptr<DescriptorToken>> tokens;

    BufferProcs bufferProcs{};
    ResourceProcs resourceProcs{};
    HandleProcs handleProcs{};
    ReadDescriptorProcs readProcs{};
    WriteDescriptorProcs writeProcs{};
    PIDescriptorParameters descriptorParams{};
    PlatformData platform{};
    FSSpec location{};

    Outcome log;
    uint64_t sequence = 0;
    int16_t selector = -1;
    OSErr documentError = noErr;

    // ---- Bookkeeping (host_sequences.cpp) ------------------------------------
    void violation(std::string_view routine, const std::string& what);
    void fail(int16_t step, OSErr code);
    void hostFailure(OSErr code, std::string why);

    // ---- Handles and buffers (host_suites.cpp) -------------------------------
    HandleRecord* findHandle(Handle h);
    BufferRecord* findBuffer(BufferID id);
    Handle makeHandle(size_t size, Leak::Kind kind, bool hostOwned);
    void freeHandle(Handle h);
    void freeBuffer(BufferID id);
    DescriptorToken* findToken(PIReadDescriptor token);
    OSErr newBuffer(int64_t size, BufferID* id, const char* routine);

    // ---- Suite routines (host_suites.cpp) --------------------------------------
    // Plain C routines without user data: they find their host through
    // current(), the host whose call to the module is in progress.
    static Impl* current();
    static Impl*& currentSlot();

    static OSErr SPAPI allocateBuffer(int32_t size, BufferID* id);
    static OSErr SPAPI allocateBuffer64(int64_t size, BufferID* id);
    static Ptr SPAPI lockBuffer(BufferID id, Boolean moveHigh);
    static void SPAPI unlockBuffer(BufferID id);
    static void SPAPI freeBufferProc(BufferID id);
    static int32_t SPAPI bufferSpace();
    static int64_t SPAPI bufferSpace64();
    static OSErr SPAPI reserveSpace(int32_t size);

    static int16_t SPAPI countResources(ResType type);
    static Handle SPAPI getResource(ResType type, int16_t index);
    static void SPAPI deleteResource(ResType type, int16_t index);
    static OSErr SPAPI addResource(ResType type, Handle data);

    static Handle SPAPI newHandle(int32_t size);
    static void SPAPI disposeHandle(Handle h);
    static void SPAPI disposeRegularHandle(Handle h);
    static int32_t SPAPI handleSize(Handle h);
    static OSErr SPAPI setHandleSize(Handle h, int32_t newSize);
    static Ptr SPAPI lockHandle(Handle h, Boolean moveHigh);
    static void SPAPI unlockHandle(Handle h);
    static void SPAPI recoverSpace(int32_t size);

    static PIReadDescriptor SPAPI openReadDescriptor(PIDescriptorHandle descriptor,
                                                     const DescriptorKeyID* keys);
    static Boolean SPAPI getKey(PIReadDescriptor token, DescriptorKeyID* key,
                               DescriptorTypeID* type, int32_t* flags);
    static OSErr SPAPI closeReadDescriptor(PIReadDescriptor token);
    // Every other descriptor routine: the module reads no values and writes
    // no descriptor, so a call is a surprise worth reporting, named by the
    // routine's place in its suite.
    void unexpectedDescriptorRoutine(bool reading, int index);

    static Boolean SPAPI testAbort();
    static void SPAPI progress(int32_t done, int32_t total);
    static OSErr SPAPI advanceState();

    // ---- The record, rows and documents ----------------------------------------
    void applySetup();        // host_record.cpp
    OSErr moveRow();          // host_transfer.cpp
    void makeDocumentImage(); // host_transfer.cpp
    int messageBox(void* owner, const char* text, const char* caption, unsigned type);
};

// Memory files while attached, by the file handle the module sees
// (host_files.cpp). Null when `handle` is not one of them.
File* attachedMemoryFile(intptr_t handle);

// The host's side of the module's HFILE calls on memory files; each answers
// false for a handle that is not one, which the module then uses as a file
// descriptor itself.
struct FileHooks {
    static bool read(int handle, void* buffer, unsigned count, unsigned* moved);
    static bool write(int handle, const void* buffer, unsigned count, unsigned* moved);
    static bool seek(int handle, int64_t offset, int origin, int64_t* position);
};

}  // namespace nebulite::host
