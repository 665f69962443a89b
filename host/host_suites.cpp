// The suites the host hands the module: buffers, pseudo-resources, handles
// (the scripting descriptor's suites are in host_descriptors.cpp), and the progress, abort and advanceState
// routines. Each routine records what a module does wrong instead of
// trusting it, and the ones a test may want to fail consult the faults.
#include <algorithm>
#include <climits>
#include <cstring>

#include "host/host_impl.h"

namespace nebulite::host {

namespace {

// Lock and unlock work alike on buffers and handles: count, and record what
// a module does wrong instead of trusting it.
template <typename Record>
Ptr lockRecord(Host::Impl* self, Record* record, const char* proc, const char* what) {
    if (record == nullptr) {
        self->violation(proc, std::string("unknown ") + what);
        return nullptr;
    }
    ++record->locks;
    return record->data;
}

template <typename Record>
void unlockRecord(Host::Impl* self, Record* record, const char* what) {
    if (record == nullptr) {
        self->violation("unlockProc", std::string("unknown ") + what);
    } else if (record->locks == 0) {
        self->violation("unlockProc", std::string(what) + " was not locked");
    } else {
        --record->locks;
    }
}

void disposeAny(std::string_view routine, Handle h) {
    Host::Impl* self = Host::Impl::current();
    if (self == nullptr || h == nullptr) return;
    Host::Impl::HandleRecord* record = self->findHandle(h);
    if (record == nullptr) {
        self->violation(routine, "unknown or already disposed handle");
        return;
    }
    if (record->hostOwned) self->violation(routine, "disposed a handle the host owns");
    self->freeHandle(h);
}

}  // namespace

// One per thread: a host is driven by one thread at a time, and two hosts
// on two threads each serve their own module calls.
Host::Impl*& Host::Impl::currentSlot() {
    static thread_local Impl* current = nullptr;
    return current;
}

Host::Impl* Host::Impl::current() { return currentSlot(); }

// ---- Handles and buffers ------------------------------------------------------

Host::Impl::HandleRecord* Host::Impl::findHandle(Handle h) {
    auto it = handles.find(h);
    return it == handles.end() ? nullptr : it->second.get();
}

Host::Impl::BufferRecord* Host::Impl::findBuffer(BufferID id) {
    auto it = buffers.find(id);
    return it == buffers.end() ? nullptr : it->second.get();
}

Handle Host::Impl::makeHandle(size_t size, Leak::Kind kind, bool hostOwned) {
    auto record = std::make_unique<HandleRecord>();
    // One byte at least, so that a handle of size 0 still has an address.
    record->data = static_cast<char*>(std::calloc(size == 0 ? 1 : size, 1));
    if (record->data == nullptr) return nullptr;
    record->size = size;
    record->kind = kind;
    record->hostOwned = hostOwned;
    record->selector = selector;
    record->sequence = sequence;
    record->serial = ++handleSerial;
    Handle h = &record->data;
    handles.emplace(h, std::move(record));
    return h;
}

void Host::Impl::freeHandle(Handle h) {
    auto it = handles.find(h);
    if (it == handles.end()) return;
    std::free(it->second->data);
    handles.erase(it);
}

void Host::Impl::freeBuffer(BufferID id) {
    auto it = buffers.find(id);
    if (it == buffers.end()) return;
    std::free(it->second->data);
    buffers.erase(it);
}

// ---- Buffer suite -----------------------------------------------------------------

OSErr Host::Impl::newBuffer(int64_t size, BufferID* id, const char* routine) {
    int64_t k = log.counters.bufferAllocations++;
    if (id == nullptr) {
        violation(routine, "null bufferID");
        return memFullErr;
    }
    *id = nullptr;
    if (size < 0) {
        violation(routine, "negative size " + std::to_string(size));
        return memFullErr;
    }
    if (host.faults_.bufferAllocate.fires(k)) return memFullErr;
    if constexpr (sizeof(size_t) < sizeof(int64_t)) {
        if (static_cast<uint64_t>(size) > SIZE_MAX) return memFullErr;
    }
    auto record = std::make_unique<BufferRecord>();
    record->data = static_cast<char*>(std::malloc(size == 0 ? 1 : static_cast<size_t>(size)));
    if (record->data == nullptr) return memFullErr;
    record->size = static_cast<size_t>(size);
    record->selector = selector;
    record->sequence = sequence;
    auto* key = reinterpret_cast<BufferID>(record.get());
    buffers.emplace(key, std::move(record));
    *id = key;
    return noErr;
}

OSErr SPAPI Host::Impl::allocateBuffer(int32_t size, BufferID* id) {
    Impl* self = current();
    return self == nullptr ? memFullErr : self->newBuffer(size, id, "allocateProc");
}

OSErr SPAPI Host::Impl::allocateBuffer64(int64_t size, BufferID* id) {
    Impl* self = current();
    return self == nullptr ? memFullErr : self->newBuffer(size, id, "allocateProc64");
}

Ptr SPAPI Host::Impl::lockBuffer(BufferID id, Boolean) {
    Impl* self = current();
    return self == nullptr ? nullptr : lockRecord(self, self->findBuffer(id), "lockProc", "buffer");
}

void SPAPI Host::Impl::unlockBuffer(BufferID id) {
    if (Impl* self = current()) unlockRecord(self, self->findBuffer(id), "buffer");
}

void SPAPI Host::Impl::freeBufferProc(BufferID id) {
    Impl* self = current();
    if (self == nullptr || id == nullptr) return;
    if (self->findBuffer(id) == nullptr) {
        self->violation("freeProc", "unknown or already freed buffer");
        return;
    }
    self->freeBuffer(id);
}

int32_t SPAPI Host::Impl::bufferSpace() {
    Impl* self = current();
    return self == nullptr ? 0 : self->host.setup_.bufferSpace;
}

int64_t SPAPI Host::Impl::bufferSpace64() { return bufferSpace(); }

OSErr SPAPI Host::Impl::reserveSpace(int32_t) { return noErr; }

// ---- Resource suite -----------------------------------------------------------------

int16_t SPAPI Host::Impl::countResources(ResType type) {
    Impl* self = current();
    if (self == nullptr) return 0;
    auto& resources = self->host.document_->resources;
    auto it = resources.find(type);
    if (it == resources.end()) return 0;
    return static_cast<int16_t>(std::min<size_t>(it->second.size(), INT16_MAX));
}

Handle SPAPI Host::Impl::getResource(ResType type, int16_t index) {
    Impl* self = current();
    if (self == nullptr) return nullptr;
    auto& resources = self->host.document_->resources;
    auto it = resources.find(type);
    if (it == resources.end() || index < 1 || static_cast<size_t>(index) > it->second.size())
        return nullptr;
    const ResourceRecord& bytes = it->second[static_cast<size_t>(index - 1)];
    Handle h = self->makeHandle(bytes.size(), Leak::Kind::handle, true);
    if (h != nullptr && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    return h;
}

void SPAPI Host::Impl::deleteResource(ResType type, int16_t index) {
    Impl* self = current();
    if (self == nullptr) return;
    auto& resources = self->host.document_->resources;
    auto it = resources.find(type);
    if (it == resources.end() || index < 1 || static_cast<size_t>(index) > it->second.size()) {
        self->violation("deleteProc", "no resource " + std::to_string(index) + " of that type");
        return;
    }
    it->second.erase(it->second.begin() + (index - 1));
    if (it->second.empty()) resources.erase(it);
}

OSErr SPAPI Host::Impl::addResource(ResType type, Handle data) {
    Impl* self = current();
    if (self == nullptr) return memFullErr;
    int64_t k = self->log.counters.resourceAdds++;
    if (self->host.faults_.resourceAdd.fires(k)) return self->host.faults_.resourceAddCode;
    HandleRecord* record = self->findHandle(data);
    if (record == nullptr) {
        // Only the host's own handles have a size the host can know.
        self->violation("addProc", "not a handle from the host's handle suite");
        return memFullErr;
    }
    // The editor's limit: past it nothing more is kept, of any type.
    if (self->host.document_->resourceCount() >= kMaxDocumentResources) return memFullErr;
    auto* begin = reinterpret_cast<const uint8_t*>(record->data);
    self->host.document_->resources[type].emplace_back(begin, begin + record->size);
    return noErr;
}

// ---- Handle suite -----------------------------------------------------------------------

Handle SPAPI Host::Impl::newHandle(int32_t size) {
    Impl* self = current();
    if (self == nullptr) return nullptr;
    int64_t k = self->log.counters.handleAllocations++;
    if (size < 0) {
        self->violation("newProc", "negative size " + std::to_string(size));
        return nullptr;
    }
    if (self->host.faults_.handleNew.fires(k)) return nullptr;
    return self->makeHandle(static_cast<size_t>(size), Leak::Kind::handle, false);
}

void SPAPI Host::Impl::disposeHandle(Handle h) { disposeAny("disposeProc", h); }
void SPAPI Host::Impl::disposeRegularHandle(Handle h) { disposeAny("disposeRegularHandleProc", h); }

int32_t SPAPI Host::Impl::handleSize(Handle h) {
    Impl* self = current();
    if (self == nullptr) return 0;
    HandleRecord* record = self->findHandle(h);
    if (record == nullptr) {
        self->violation("getSizeProc", "unknown handle");
        return 0;
    }
    return static_cast<int32_t>(record->size);
}

OSErr SPAPI Host::Impl::setHandleSize(Handle h, int32_t newSize) {
    Impl* self = current();
    if (self == nullptr) return memFullErr;
    HandleRecord* record = self->findHandle(h);
    if (record == nullptr) {
        self->violation("setSizeProc", "unknown handle");
        return memFullErr;
    }
    if (newSize < 0) {
        self->violation("setSizeProc", "negative size " + std::to_string(newSize));
        return memFullErr;
    }
    auto bytes = static_cast<size_t>(newSize);
    auto* grown = static_cast<char*>(std::realloc(record->data, bytes == 0 ? 1 : bytes));
    if (grown == nullptr) return memFullErr;
    if (bytes > record->size) std::memset(grown + record->size, 0, bytes - record->size);
    record->data = grown;
    record->size = bytes;
    return noErr;
}

Ptr SPAPI Host::Impl::lockHandle(Handle h, Boolean) {
    Impl* self = current();
    return self == nullptr ? nullptr : lockRecord(self, self->findHandle(h), "lockProc", "handle");
}

void SPAPI Host::Impl::unlockHandle(Handle h) {
    if (Impl* self = current()) unlockRecord(self, self->findHandle(h), "handle");
}

void SPAPI Host::Impl::recoverSpace(int32_t) {}

// ---- Progress, abort and rows -----------------------------------------------------------

Boolean SPAPI Host::Impl::testAbort() { return false; }

void SPAPI Host::Impl::progress(int32_t done, int32_t total) {
    Impl* self = current();
    if (self == nullptr) return;
    self->log.progress.push_back({done, total});
    if (self->host.onProgress) self->host.onProgress(done, total);
}

OSErr SPAPI Host::Impl::advanceState() {
    Impl* self = current();
    if (self == nullptr) return noErr;
    int64_t k = self->log.counters.advanceStateCalls++;
    if (self->host.faults_.advanceState.fires(k)) return self->host.faults_.advanceStateCode;
    return self->moveRow();
}

}  // namespace nebulite::host
