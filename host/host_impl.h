// The reference host's inside, shared by the files that make it up: the
// files the module reads and writes (host_files.cpp), the suites it calls
// (host_suites.cpp; the scripting descriptor's in host_descriptors.cpp, its
// items in descriptor.h), the record as the editor fills it (host_record.cpp), the
// rows advanceState moves and the document a read makes (host_transfer.cpp),
// the selector sequences (host_sequences.cpp), and the hooks a module on a
// POSIX system finds by name (host_hooks.cpp).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
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
        uint64_t serial = 0;  // one per handle ever made: a freed handle's address may come back
    };
    struct BufferRecord {
        char* data = nullptr;
        size_t size = 0;
        int locks = 0;
        int16_t selector = -1;
        uint64_t sequence = 0;
    };
    // A read descriptor: the items of the handle it was opened on, the key
    // array the module passed (the keys it expects), and where getKeyProc
    // stands. Tokens stay until the sequence ends, so that a use after
    // close is told from a token never handed out.
    struct ReadToken {
        Descriptor descriptor;
        std::vector<DescriptorKeyID> expected;
        std::vector<bool> arrived;
        size_t next = 0;                  // the item getKeyProc yields next
        std::optional<size_t> current;   // the item the get routines read
        OSErr sticky = noErr;             // the first get that failed, which close reports
        bool open = true;
    };
    struct WriteToken {
        Descriptor descriptor;
        bool open = true;
    };

    Host& host;
    std::unordered_map<Handle, std::unique_ptr<HandleRecord>> handles;
    std::unordered_map<BufferID, std::unique_ptr<BufferRecord>> buffers;
    std::vector<std::unique_ptr<ReadToken>> readTokens;
    std::vector<std::unique_ptr<WriteToken>> writeTokens;
    // The last descriptor handle the host offered, and the revert
    // information it handed the module, by serial (0: none).
    uint64_t offeredDescriptor = 0;
    uint64_t offeredRevert = 0;
    uint64_t handleSerial = 0;
    // The serial of a live handle of the host's, 0 for anything else.
    uint64_t serialOf(Handle h) {
        HandleRecord* record = findHandle(h);
        return record == nullptr ? 0 : record->serial;
    }
    bool saving = false;                 // the sequence is a save (its script is the save's)

    BufferProcs bufferProcs{};
    ResourceProcs resourceProcs{};
    HandleProcs handleProcs{};
    ReadDescriptorProcs readProcs{};
    WriteDescriptorProcs writeProcs{};
    PIDescriptorParameters descriptorParams{};
    Str255 errorText{};
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
    void takeReport();

    // ---- Handles and buffers (host_suites.cpp) -------------------------------
    HandleRecord* findHandle(Handle h);
    BufferRecord* findBuffer(BufferID id);
    Handle makeHandle(size_t size, Leak::Kind kind, bool hostOwned);
    void freeHandle(Handle h);
    void freeBuffer(BufferID id);
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

    // ---- Descriptor suites (host_descriptors.cpp) --------------------------------
    ReadToken* findReadToken(PIReadDescriptor token, std::string_view routine);
    WriteToken* findWriteToken(PIWriteDescriptor token, std::string_view routine);
    // Counts the call; true when the fault trigger fires on it.
    bool descriptorFault();
    Handle descriptorHandle(const Descriptor& descriptor);
    // The descriptor a handle of the host's holds; a violation of `routine`
    // when it is not one.
    std::optional<Descriptor> descriptorIn(Handle h, std::string_view routine);
    void takeRecorded(int16_t after);
    void offerRevertInfo();
    void takeRevertInfo();

    static PIReadDescriptor SPAPI openReadDescriptor(PIDescriptorHandle descriptor,
                                                     const DescriptorKeyID* keys);
    static OSErr SPAPI closeReadDescriptor(PIReadDescriptor token);
    static Boolean SPAPI getKey(PIReadDescriptor token, DescriptorKeyID* key,
                               DescriptorTypeID* type, int32_t* flags);
    static OSErr SPAPI getInteger(PIReadDescriptor token, int32_t* value);
    static OSErr SPAPI getFloat(PIReadDescriptor token, real64* value);
    static OSErr SPAPI getUnitFloat(PIReadDescriptor token, DescriptorUnitID* unit, real64* value);
    static OSErr SPAPI getBoolean(PIReadDescriptor token, Boolean* value);
    static OSErr SPAPI getText(PIReadDescriptor token, Handle* value);
    static OSErr SPAPI getAlias(PIReadDescriptor token, Handle* value);
    static OSErr SPAPI getEnumerated(PIReadDescriptor token, DescriptorEnumID* value);
    static OSErr SPAPI getClass(PIReadDescriptor token, DescriptorTypeID* value);
    static OSErr SPAPI getSimpleReference(PIReadDescriptor token, PIDescriptorSimpleReference* value);
    static OSErr SPAPI getObject(PIReadDescriptor token, DescriptorTypeID* type, PIDescriptorHandle* value);
    static OSErr SPAPI getCount(PIReadDescriptor token, uint32_t* value);
    static OSErr SPAPI getString(PIReadDescriptor token, Str255* value);
    static OSErr SPAPI getPinnedInteger(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value);
    static OSErr SPAPI getPinnedFloat(PIReadDescriptor token, const real64* min, const real64* max,
                                      real64* value);
    static OSErr SPAPI getPinnedUnitFloat(PIReadDescriptor token, const real64* min, const real64* max,
                                          DescriptorUnitID* unit, real64* value);

    static PIWriteDescriptor SPAPI openWriteDescriptor();
    static OSErr SPAPI closeWriteDescriptor(PIWriteDescriptor token, PIDescriptorHandle* descriptor);
    static OSErr SPAPI putInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value);
    static OSErr SPAPI putFloat(PIWriteDescriptor token, DescriptorKeyID key, const real64* value);
    static OSErr SPAPI putUnitFloat(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit,
                                    const real64* value);
    static OSErr SPAPI putBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean value);
    static OSErr SPAPI putText(PIWriteDescriptor token, DescriptorKeyID key, Handle value);
    static OSErr SPAPI putAlias(PIWriteDescriptor token, DescriptorKeyID key, Handle value);
    static OSErr SPAPI putEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                     DescriptorEnumID value);
    static OSErr SPAPI putClass(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type);
    static OSErr SPAPI putSimpleReference(PIWriteDescriptor token, DescriptorKeyID key,
                                          const PIDescriptorSimpleReference* value);
    static OSErr SPAPI putObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                 PIDescriptorHandle value);
    static OSErr SPAPI putCount(PIWriteDescriptor token, DescriptorKeyID key, uint32_t value);
    static OSErr SPAPI putString(PIWriteDescriptor token, DescriptorKeyID key, ConstStr255Param value);
    static OSErr SPAPI putScopedClass(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type);
    static OSErr SPAPI putScopedObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                       PIDescriptorHandle value);

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
