#include "shell/host_services.h"

#include <cstring>

#include "platform/win32.h"
#include "shell/alerts.h"

namespace nebulite {

namespace {

// The routines the module calls, counted from the first slot of each suite:
// a host whose suite is shorter than that cannot serve the module, one with
// more routines (later SDKs add some) can.
constexpr int16_t kBufferRoutinesUsed = 5;      // allocate .. space
constexpr int16_t kResourceRoutinesUsed = 4;    // count .. add
constexpr int16_t kHandleRoutinesExpected = 7;  // new .. recoverSpace
constexpr int16_t kReadDescriptorRoutinesExpected = 18;
constexpr int16_t kWriteDescriptorRoutinesExpected = 16;

template <typename... Routines>
bool allPresent(Routines... routines) {
    return ((routines != nullptr) && ...);
}

}  // namespace

bool bufferSuiteUsable(const BufferProcs* procs, bool* newer) {
    if (newer != nullptr) *newer = false;
    if (procs == nullptr) return false;
    if (procs->bufferProcsVersion != kCurrentBufferProcsVersion) {
        if (newer != nullptr) *newer = procs->bufferProcsVersion > kCurrentBufferProcsVersion;
        return false;
    }
    return procs->numBufferProcs >= kBufferRoutinesUsed && procs->allocateProc != nullptr &&
           procs->lockProc != nullptr && procs->unlockProc != nullptr &&
           procs->freeProc != nullptr && procs->spaceProc != nullptr;
}

bool resourceSuiteUsable(const ResourceProcs* procs) {
    return procs != nullptr && procs->resourceProcsVersion == kCurrentResourceProcsVersion &&
           procs->numResourceProcs >= kResourceRoutinesUsed && procs->countProc != nullptr &&
           procs->getProc != nullptr && procs->deleteProc != nullptr && procs->addProc != nullptr;
}

bool handleSuiteUsable(const HandleProcs* procs, bool* newer) {
    if (newer != nullptr) *newer = false;
    if (procs == nullptr) return false;
    if (procs->handleProcsVersion != kCurrentHandleProcsVersion) {
        if (newer != nullptr) *newer = procs->handleProcsVersion > kCurrentHandleProcsVersion;
        return false;
    }
    // The lock routines are not required: handles from newProc are usable
    // without them on every host that has them at all.
    return procs->numHandleProcs >= kHandleRoutinesExpected && procs->newProc != nullptr &&
           procs->disposeProc != nullptr && procs->getSizeProc != nullptr &&
           procs->setSizeProc != nullptr;
}

bool descriptorSuitesUsable(const PIDescriptorParameters* params) {
    if (params == nullptr || params->descriptorParametersVersion != kCurrentDescriptorParametersVersion)
        return false;
    const ReadDescriptorProcs* read = params->readDescriptorProcs;
    const WriteDescriptorProcs* write = params->writeDescriptorProcs;
    if (read == nullptr || write == nullptr) return false;
    if (read->readDescriptorProcsVersion != kCurrentReadDescriptorProcsVersion ||
        read->numReadDescriptorProcs < kReadDescriptorRoutinesExpected)
        return false;
    if (write->writeDescriptorProcsVersion != kCurrentWriteDescriptorProcsVersion ||
        write->numWriteDescriptorProcs < kWriteDescriptorRoutinesExpected)
        return false;
    if (read->openReadDescriptorProc == nullptr || read->closeReadDescriptorProc == nullptr ||
        read->getKeyProc == nullptr)
        return false;
    return allPresent(read->getIntegerProc, read->getFloatProc, read->getUnitFloatProc,
                      read->getBooleanProc, read->getTextProc, read->getAliasProc,
                      read->getEnumeratedProc, read->getClassProc, read->getSimpleReferenceProc,
                      read->getObjectProc, read->getCountProc, read->getStringProc,
                      read->getPinnedIntegerProc, read->getPinnedFloatProc,
                      read->getPinnedUnitFloatProc) &&
           allPresent(write->openWriteDescriptorProc, write->closeWriteDescriptorProc,
                      write->putIntegerProc, write->putFloatProc, write->putUnitFloatProc,
                      write->putBooleanProc, write->putTextProc, write->putAliasProc,
                      write->putEnumeratedProc, write->putClassProc, write->putSimpleReferenceProc,
                      write->putObjectProc, write->putCountProc, write->putStringProc,
                      write->putScopedClassProc, write->putScopedObjectProc);
}

namespace {

// The version alert: the required version in the text, or the "newer host"
// text when the host's suite is newer than the one the module knows.
bool versionAlert(bool usable, bool newer, double version) {
    if (usable) return true;
    PascalString versionText;
    formatDecimal(version, 1, versionText);
    showAlert(moduleInstance, nullptr, kAlertId,
              newer ? kStringIncompatibleHost : kStringRequiresVersion, nullptr, &versionText,
              nullptr);
    return false;
}

}  // namespace

bool demandBufferSuite(const FormatRecord& record) {
    bool newer = false;
    bool usable = bufferSuiteUsable(record.bufferProcs, &newer);
    return versionAlert(usable, newer, 2.5);
}

bool demandAdvanceState(const FormatRecord& record) {
    return versionAlert(record.advanceState != nullptr, false, 3.0);
}

bool demandHandleSuite(const FormatRecord& record) {
    bool newer = false;
    bool usable = handleSuiteUsable(record.handleProcs, &newer);
    return versionAlert(usable, newer, 3.0);
}

bool hostServicesPresent(const PluginState& state) {
    const FormatRecord& record = *state.formatRecord;
    return demandBufferSuite(record) && demandAdvanceState(record) && demandHandleSuite(record);
}

// ---- Buffer suite ------------------------------------------------------------

OSErr bufferAllocate(const BufferProcs* procs, int32_t size, BufferID* id) {
    *id = nullptr;
    if (!bufferSuiteUsable(procs)) return memFullErr;
    return procs->allocateProc(size, id);
}

Ptr bufferLock(const BufferProcs* procs, BufferID id) {
    if (!bufferSuiteUsable(procs)) return nullptr;
    return procs->lockProc(id, false);
}

void bufferFree(const BufferProcs* procs, BufferID id) {
    if (bufferSuiteUsable(procs)) procs->freeProc(id);
}

// ---- Resource suite ----------------------------------------------------------

int16_t resourceCount(const ResourceProcs* procs, ResType type) {
    return resourceSuiteUsable(procs) ? procs->countProc(type) : int16_t{0};
}

Handle resourceGet(const ResourceProcs* procs, ResType type, int16_t index) {
    return resourceSuiteUsable(procs) ? procs->getProc(type, index) : nullptr;
}

OSErr resourceAdd(const ResourceProcs* procs, ResType type, Handle data) {
    return resourceSuiteUsable(procs) ? procs->addProc(type, data) : memFullErr;
}

void resourceDelete(const ResourceProcs* procs, ResType type, int16_t index) {
    if (resourceSuiteUsable(procs)) procs->deleteProc(type, index);
}

// ---- Module handles -----------------------------------------------------------

namespace {

// Word 1 is the data address, word 2 a tag that nothing reads. On a 32-bit
// system this is two 32-bit words; elsewhere the address takes its natural width.
struct MasterRecord {
    void* data;
    char tag[4];
};

}  // namespace

Handle moduleHandleNew(uint32_t size) {
    HGLOBAL masterBlock = GlobalAlloc(GHND, sizeof(MasterRecord));
    auto* master = static_cast<MasterRecord*>(masterBlock ? GlobalLock(masterBlock) : nullptr);
    if (master == nullptr) {
        if (masterBlock != nullptr) GlobalFree(masterBlock);
        return nullptr;
    }
    // A moveable block of size 0 cannot be locked, so a request for 0 bytes
    // ends here with no handle.
    HGLOBAL dataBlock = GlobalAlloc(GHND, size);
    void* data = dataBlock ? GlobalLock(dataBlock) : nullptr;
    if (data == nullptr) {
        if (dataBlock != nullptr) GlobalFree(dataBlock);
        GlobalUnlock(masterBlock);
        GlobalFree(masterBlock);
        return nullptr;
    }
    master->data = data;
    std::memcpy(master->tag, "OTOF", 4);
    return reinterpret_cast<Handle>(master);
}

void moduleHandleDispose(Handle handle) {
    if (handle == nullptr) return;
    auto* master = reinterpret_cast<MasterRecord*>(handle);
    if (HGLOBAL dataBlock = GlobalHandle(master->data)) {
        GlobalUnlock(dataBlock);
        GlobalFree(dataBlock);
    }
    if (HGLOBAL masterBlock = GlobalHandle(master)) {
        GlobalUnlock(masterBlock);
        GlobalFree(masterBlock);
    }
}

uint32_t moduleHandleSize(Handle handle) {
    if (handle == nullptr) return 0;
    auto* master = reinterpret_cast<MasterRecord*>(handle);
    return static_cast<uint32_t>(GlobalSize(GlobalHandle(master->data)));
}

// ---- Handle suite -------------------------------------------------------------

Handle handleNew(const HandleProcs* procs, int32_t size) {
    if (handleSuiteUsable(procs)) return procs->newProc(size);
    if (size < 0) return nullptr;
    return moduleHandleNew(static_cast<uint32_t>(size));
}

void handleDispose(const HandleProcs* procs, Handle handle) {
    if (handleSuiteUsable(procs))
        procs->disposeProc(handle);
    else
        moduleHandleDispose(handle);
}

int32_t handleSize(const HandleProcs* procs, Handle handle) {
    if (handleSuiteUsable(procs)) return procs->getSizeProc(handle);
    return static_cast<int32_t>(moduleHandleSize(handle));
}

Ptr handleLock(const HandleProcs* procs, Handle handle) {
    if (handleSuiteUsable(procs)) {
        // A usable suite need not have a lock routine; its handles are then
        // used through their master pointer, as on the host's own platform.
        if (procs->lockProc != nullptr) return procs->lockProc(handle, false);
        return handle != nullptr ? *handle : nullptr;
    }
    if (handle == nullptr) return nullptr;
    return static_cast<Ptr>(reinterpret_cast<MasterRecord*>(handle)->data);
}

void handleUnlock(const HandleProcs* procs, Handle handle) {
    if (handleSuiteUsable(procs) && procs->unlockProc != nullptr) procs->unlockProc(handle);
}

void pstringFromHandle(const HandleProcs* procs, Handle handle, PascalString& out) {
    clearPString(out);
    if (handle == nullptr) return;
    if (Ptr address = handleLock(procs, handle)) {
        int32_t size = handleSize(procs, handle);
        size_t count = size < 0 ? 0 : static_cast<size_t>(size);
        if (count > PascalString::kMaxLength) count = PascalString::kMaxLength;
        appendPString(out, address, count);
    }
    handleUnlock(procs, handle);
}

Handle handleFromPString(const HandleProcs* procs, const PascalString& text) {
    Handle handle = handleNew(procs, static_cast<int32_t>(text.length()));
    if (handle == nullptr) return nullptr;
    if (Ptr address = handleLock(procs, handle)) {
        std::memcpy(address, text.text(), text.length());
        handleUnlock(procs, handle);
    }
    return handle;
}

// ---- Scripting parameters ----------------------------------------------------

}  // namespace nebulite
