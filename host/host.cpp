#include "host/host.h"

#if defined(_WIN32)
#include "host/win32_host.h"
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

#include "host/result_codes.h"
#include "shell/plugin_state.h"

namespace nebulite::host {

namespace {

// The host whose call is in progress; every suite routine and hook reaches
// its host through this.
Host::Impl* g_current = nullptr;

// Memory files while attached, by the HFILE number the module sees. The
// numbers start far above any descriptor a process gets, so that a real
// descriptor is never mistaken for one.
std::unordered_map<int, File*> g_memoryFiles;
int g_nextMemoryHandle = 0x4E000000;

// The module keeps its state in the cell for as long as it stays loaded, and
// a loaded module is never unloaded here; cells of hosts that are gone are
// kept where a leak checker can still see them.
std::vector<intptr_t>& retiredCells() {
    static auto* cells = new std::vector<intptr_t>();
    return *cells;
}

std::string describe(int16_t selector) { return std::string(selectorName(selector)); }

// A disk file as the module gets it: a descriptor on POSIX systems, a Win32
// HFILE on Windows. -1 with `error` set when it cannot be opened.
int openDiskFile(const std::string& path, bool forWriting, std::string* error) {
#if defined(_WIN32)
    return win32::openDataFork(path, forWriting, error);
#else
    int flags = forWriting ? (O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC) : (O_RDONLY | O_CLOEXEC);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0 && error != nullptr) *error = "cannot open " + path + ": " + std::strerror(errno);
    return fd;
#endif
}

void closeDiskFile(int fd) {
#if defined(_WIN32)
    win32::closeDataFork(fd);
#else
    ::close(fd);
#endif
}

constexpr DescType kTypeInteger = 0x6C6F6E67;  // 'long'

}  // namespace

// ---- Files --------------------------------------------------------------------

File File::memory(std::vector<uint8_t> contents, std::string specPath) {
    File file;
    file.memory_ = true;
    file.bytes_ = std::move(contents);
    file.path_ = std::move(specPath);
    return file;
}

File File::disk(std::string path) {
    File file;
    file.path_ = std::move(path);
    return file;
}

File& File::failReadsFrom(int64_t k) {
    failReadsFrom_ = k;
    return *this;
}

File& File::endReadsAt(size_t n) {
    endReadsAt_ = n;
    return *this;
}

File& File::capacity(size_t n) {
    capacity_ = n;
    return *this;
}

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
    if (this == &other) return *this;
    memory_ = other.memory_;
    path_ = std::move(other.path_);
    bytes_ = std::move(other.bytes_);
    position_ = other.position_;
    failReadsFrom_ = other.failReadsFrom_;
    endReadsAt_ = other.endReadsAt_;
    capacity_ = other.capacity_;
    readCalls_ = other.readCalls_;
    writeCalls_ = other.writeCalls_;
    // An attached file is not moved: the descriptor stays with the original.
    return *this;
}

File::~File() {
    if (fd_ >= 0) closeDiskFile(fd_);
    if (handle_ != 0) {
        auto it = g_memoryFiles.find(handle_);
        if (it != g_memoryFiles.end() && it->second == this) g_memoryFiles.erase(it);
    }
}

// The hooks' side of memory files.
struct FileHooks {
    static File* find(int handle) {
        // Disk files never pay more than this check.
        if (g_memoryFiles.empty()) return nullptr;
        auto it = g_memoryFiles.find(handle);
        return it == g_memoryFiles.end() ? nullptr : it->second;
    }

    static bool read(int handle, void* buffer, unsigned count, unsigned* moved) {
        File* file = find(handle);
        if (file == nullptr) return false;
        int64_t index = file->readCalls_++;
        if (file->failReadsFrom_ && index >= *file->failReadsFrom_) {
            *moved = static_cast<unsigned>(-1);  // HFILE_ERROR
            return true;
        }
        size_t end = file->bytes_.size();
        if (file->endReadsAt_) end = std::min(end, *file->endReadsAt_);
        size_t available = file->position_ < end ? end - file->position_ : 0;
        size_t n = std::min<size_t>(count, available);
        if (n > 0) std::memcpy(buffer, file->bytes_.data() + file->position_, n);
        file->position_ += n;
        *moved = static_cast<unsigned>(n);
        return true;
    }

    static bool write(int handle, const void* buffer, unsigned count, unsigned* moved) {
        File* file = find(handle);
        if (file == nullptr) return false;
        ++file->writeCalls_;
        size_t n = count;
        if (file->capacity_) {
            size_t room = file->position_ < *file->capacity_ ? *file->capacity_ - file->position_ : 0;
            n = std::min(n, room);
        }
        if (file->position_ + n > file->bytes_.size()) file->bytes_.resize(file->position_ + n);
        if (n > 0) std::memcpy(file->bytes_.data() + file->position_, buffer, n);
        file->position_ += n;
        *moved = static_cast<unsigned>(n);
        return true;
    }

    static bool seek(int handle, int32_t offset, int origin, int32_t* position) {
        File* file = find(handle);
        if (file == nullptr) return false;
        int64_t base = 0;
        if (origin == SEEK_CUR) base = static_cast<int64_t>(file->position_);
        if (origin == SEEK_END) base = static_cast<int64_t>(file->bytes_.size());
        int64_t target = base + offset;
        if (origin < SEEK_SET || origin > SEEK_END || target < 0 || target > INT32_MAX) {
            *position = -1;  // HFILE_ERROR, position unchanged
            return true;
        }
        file->position_ = static_cast<size_t>(target);
        *position = static_cast<int32_t>(target);
        return true;
    }
};

// ---- The host's own state -----------------------------------------------------

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

    // ---- Bookkeeping -----------------------------------------------------
    void violation(std::string_view routine, const std::string& what) {
        std::string text = describe(selector);
        text += ": ";
        text += routine;
        text += ": ";
        text += what;
        log.violations.push_back(std::move(text));
    }

    void fail(int16_t step, OSErr code) {
        if (log.failedSelector >= 0 || code == noErr) return;
        log.failedSelector = step;
        log.result = code;
    }

    void hostFailure(OSErr code, std::string why) {
        if (log.hostFailure.empty()) log.hostFailure = std::move(why);
        if (log.result == noErr) log.result = code;
    }

    HandleRecord* findHandle(Handle h) {
        auto it = handles.find(h);
        return it == handles.end() ? nullptr : it->second.get();
    }

    BufferRecord* findBuffer(BufferID id) {
        auto it = buffers.find(id);
        return it == buffers.end() ? nullptr : it->second.get();
    }

    Handle makeHandle(size_t size, Leak::Kind kind, bool hostOwned) {
        auto record = std::make_unique<HandleRecord>();
        // One byte at least, so that a handle of size 0 still has an address.
        record->data = static_cast<char*>(std::calloc(size == 0 ? 1 : size, 1));
        if (record->data == nullptr) return nullptr;
        record->size = size;
        record->kind = kind;
        record->hostOwned = hostOwned;
        record->selector = selector;
        record->sequence = sequence;
        Handle h = &record->data;
        handles.emplace(h, std::move(record));
        return h;
    }

    void freeHandle(Handle h) {
        auto it = handles.find(h);
        if (it == handles.end()) return;
        std::free(it->second->data);
        handles.erase(it);
    }

    void freeBuffer(BufferID id) {
        auto it = buffers.find(id);
        if (it == buffers.end()) return;
        std::free(it->second->data);
        buffers.erase(it);
    }

    // ---- Suites ----------------------------------------------------------
    static Impl* current() { return g_current; }

    static OSErr SPAPI allocateBuffer(int32_t size, BufferID* id) {
        Impl* self = current();
        if (self == nullptr) return memFullErr;
        int64_t k = self->log.counters.bufferAllocations++;
        if (id == nullptr) {
            self->violation("allocateProc", "null bufferID");
            return memFullErr;
        }
        *id = nullptr;
        if (size < 0) {
            self->violation("allocateProc", "negative size " + std::to_string(size));
            return memFullErr;
        }
        if (self->host.faults_.bufferAllocate.fires(k)) return memFullErr;
        auto record = std::make_unique<BufferRecord>();
        record->data = static_cast<char*>(std::malloc(size == 0 ? 1 : static_cast<size_t>(size)));
        if (record->data == nullptr) return memFullErr;
        record->size = static_cast<size_t>(size);
        record->selector = self->selector;
        record->sequence = self->sequence;
        auto* key = reinterpret_cast<BufferID>(record.get());
        self->buffers.emplace(key, std::move(record));
        *id = key;
        return noErr;
    }

    // Lock and unlock work alike on buffers and handles: count, and record
    // what a module does wrong instead of trusting it.
    template <typename Record>
    static Ptr lockRecord(Impl* self, Record* record, const char* proc, const char* what) {
        if (record == nullptr) {
            self->violation(proc, std::string("unknown ") + what);
            return nullptr;
        }
        ++record->locks;
        return record->data;
    }

    template <typename Record>
    static void unlockRecord(Impl* self, Record* record, const char* what) {
        if (record == nullptr) {
            self->violation("unlockProc", std::string("unknown ") + what);
        } else if (record->locks == 0) {
            self->violation("unlockProc", std::string(what) + " was not locked");
        } else {
            --record->locks;
        }
    }

    static Ptr SPAPI lockBuffer(BufferID id, Boolean) {
        Impl* self = current();
        return self == nullptr ? nullptr : lockRecord(self, self->findBuffer(id), "lockProc", "buffer");
    }

    static void SPAPI unlockBuffer(BufferID id) {
        if (Impl* self = current()) unlockRecord(self, self->findBuffer(id), "buffer");
    }

    static void SPAPI freeBufferProc(BufferID id) {
        Impl* self = current();
        if (self == nullptr || id == nullptr) return;
        if (self->findBuffer(id) == nullptr) {
            self->violation("freeProc", "unknown or already freed buffer");
            return;
        }
        self->freeBuffer(id);
    }

    static int32_t SPAPI bufferSpace() {
        Impl* self = current();
        return self == nullptr ? 0 : self->host.setup_.bufferSpace;
    }

    static int16_t SPAPI countResources(ResType type) {
        Impl* self = current();
        if (self == nullptr) return 0;
        auto& resources = self->host.document_->resources;
        auto it = resources.find(type);
        if (it == resources.end()) return 0;
        return static_cast<int16_t>(std::min<size_t>(it->second.size(), INT16_MAX));
    }

    static Handle SPAPI getResource(ResType type, int16_t index) {
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

    static void SPAPI deleteResource(ResType type, int16_t index) {
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

    static OSErr SPAPI addResource(ResType type, Handle data) {
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
        auto* begin = reinterpret_cast<const uint8_t*>(record->data);
        self->host.document_->resources[type].emplace_back(begin, begin + record->size);
        return noErr;
    }

    static Handle SPAPI newHandle(int32_t size) {
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

    static void disposeAny(std::string_view routine, Handle h) {
        Impl* self = current();
        if (self == nullptr || h == nullptr) return;
        HandleRecord* record = self->findHandle(h);
        if (record == nullptr) {
            self->violation(routine, "unknown or already disposed handle");
            return;
        }
        if (record->hostOwned) self->violation(routine, "disposed a resource handle the host owns");
        self->freeHandle(h);
    }

    static void SPAPI disposeHandle(Handle h) { disposeAny("disposeProc", h); }
    static void SPAPI disposeRegularHandle(Handle h) { disposeAny("disposeRegularHandleProc", h); }

    static int32_t SPAPI handleSize(Handle h) {
        Impl* self = current();
        if (self == nullptr) return 0;
        HandleRecord* record = self->findHandle(h);
        if (record == nullptr) {
            self->violation("getSizeProc", "unknown handle");
            return 0;
        }
        return static_cast<int32_t>(record->size);
    }

    static OSErr SPAPI setHandleSize(Handle h, int32_t newSize) {
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

    static Ptr SPAPI lockHandle(Handle h, Boolean) {
        Impl* self = current();
        return self == nullptr ? nullptr : lockRecord(self, self->findHandle(h), "lockProc", "handle");
    }

    static void SPAPI unlockHandle(Handle h) {
        if (Impl* self = current()) unlockRecord(self, self->findHandle(h), "handle");
    }

    static void SPAPI recoverSpace(int32_t) {}

    static PIReadDescriptor SPAPI openReadDescriptor(PIDescriptorHandle descriptor,
                                                     const DescriptorKeyID*) {
        Impl* self = current();
        if (self == nullptr || descriptor == nullptr) return nullptr;
        if (self->findHandle(descriptor) == nullptr) {
            self->violation("openReadDescriptorProc", "not the descriptor the host offered");
            return nullptr;
        }
        auto token = std::make_unique<DescriptorToken>();
        token->keys = self->host.setup_.script.keys;
        auto* key = reinterpret_cast<PIReadDescriptor>(token.get());
        self->tokens.push_back(std::move(token));
        return key;
    }

    DescriptorToken* findToken(PIReadDescriptor token) {
        for (auto& t : tokens)
            if (reinterpret_cast<PIReadDescriptor>(t.get()) == token) return t.get();
        return nullptr;
    }

    static Boolean SPAPI getKey(PIReadDescriptor token, DescriptorKeyID* key, DescType* type,
                               int32_t* flags) {
        Impl* self = current();
        if (self == nullptr) return false;
        DescriptorToken* t = self->findToken(token);
        if (t == nullptr || !t->open) {
            self->violation("getKeyProc", "unknown or closed descriptor");
            return false;
        }
        if (t->next >= t->keys.size()) return false;
        if (key != nullptr) *key = t->keys[t->next];
        if (type != nullptr) *type = kTypeInteger;
        if (flags != nullptr) *flags = 0;
        ++t->next;
        return true;
    }

    static OSErr SPAPI closeReadDescriptor(PIReadDescriptor token) {
        Impl* self = current();
        if (self == nullptr) return noErr;
        DescriptorToken* t = self->findToken(token);
        if (t == nullptr || !t->open)
            self->violation("closeReadDescriptorProc", "unknown or closed descriptor");
        else
            t->open = false;
        return self->host.setup_.script.closeCode;
    }

    // The module reads no values and writes no descriptor: any of these is
    // a surprise worth reporting, named by its place in the suite.
    template <int Index, bool Reading>
    static OSErr SPAPI unexpectedDescriptorRoutine() {
        if (Impl* self = current())
            self->violation(Reading ? "read descriptor suite" : "write descriptor suite",
                            "routine " + std::to_string(Index) + " called");
        return noErr;
    }

    static void SPAPI progress(int32_t done, int32_t total) {
        Impl* self = current();
        if (self == nullptr) return;
        self->log.progress.push_back({done, total});
        if (self->host.onProgress) self->host.onProgress(done, total);
    }

    static OSErr SPAPI advanceState() {
        Impl* self = current();
        if (self == nullptr) return noErr;
        int64_t k = self->log.counters.advanceStateCalls++;
        if (self->host.faults_.advanceState.fires(k)) return self->host.faults_.advanceStateCode;
        return self->moveRow();
    }

    OSErr moveRow();
    void makeDocumentImage();
    void applySetup();
    int messageBox(void* owner, const char* text, const char* caption, unsigned type);
};

// ---- advanceState -------------------------------------------------------------

OSErr Host::Impl::moveRow() {
    bool reading = selector == formatSelectorReadStart || selector == formatSelectorReadContinue ||
                   selector == formatSelectorReadFinish;
    bool writing = selector == formatSelectorWriteStart || selector == formatSelectorWriteContinue ||
                   selector == formatSelectorWriteFinish;
    if (!reading && !writing) {
        violation("advanceState", "called outside a read or a write");
        return noErr;
    }
    const FormatRecord& r = host.record_;
    Image& image = host.document_->image;
    const Rect& rect = r.theRect;
    size_t before = log.violations.size();
    auto bad = [&](const std::string& what) { violation("advanceState", what); };

    if (image.empty()) bad("no document image");
    if (r.data == nullptr) bad("data is null");
    if (rect.top < 0 || rect.bottom > image.rows || rect.top >= rect.bottom)
        bad("rows " + std::to_string(rect.top) + ".." + std::to_string(rect.bottom) +
            " not within 0.." + std::to_string(image.rows));
    else if (rect.bottom - rect.top != 1)
        bad("moves " + std::to_string(rect.bottom - rect.top) + " rows, not one");
    if (rect.left < 0 || rect.right > image.columns || rect.left >= rect.right)
        bad("columns " + std::to_string(rect.left) + ".." + std::to_string(rect.right) +
            " not within 0.." + std::to_string(image.columns));
    if (r.loPlane < 0 || r.hiPlane >= image.planes || r.loPlane > r.hiPlane)
        bad("planes " + std::to_string(r.loPlane) + ".." + std::to_string(r.hiPlane) +
            " not within 0.." + std::to_string(image.planes - 1));
    else if (r.loPlane != r.hiPlane)
        bad("moves planes " + std::to_string(r.loPlane) + ".." + std::to_string(r.hiPlane) +
            ", not one");
    int sampleBytes = image.depth / 8;
    if (r.colBytes < sampleBytes)
        bad("colBytes " + std::to_string(r.colBytes) + " below " + std::to_string(sampleBytes));
    int64_t width = int64_t{rect.right} - rect.left;
    if (r.rowBytes < width * r.colBytes)
        bad("rowBytes " + std::to_string(r.rowBytes) + " below " + std::to_string(width * r.colBytes));
    if (log.violations.size() != before) return noErr;

    auto* data = static_cast<uint8_t*>(r.data);
    auto columns = static_cast<size_t>(width);
    size_t first = image.index(r.loPlane, rect.top, rect.left);
    auto stride = static_cast<size_t>(r.colBytes);
    if (image.depth == 8) {
        uint8_t* row = image.narrow.data() + first;
        if (stride == 1) {
            if (reading)
                std::memcpy(row, data, columns);
            else
                std::memcpy(data, row, columns);
        } else {
            for (size_t c = 0; c < columns; ++c) {
                if (reading)
                    row[c] = data[c * stride];
                else
                    data[c * stride] = row[c];
            }
        }
    } else {
        uint16_t* row = image.wide.data() + first;
        if (reading) {
            if (stride == 2)
                std::memcpy(row, data, columns * 2);
            else
                for (size_t c = 0; c < columns; ++c) std::memcpy(&row[c], data + c * stride, 2);
            // Nearly every row is within range: a max over the row (which
            // the compiler vectorises) finds that, and only a row with a
            // sample above the range is counted sample by sample.
            uint16_t top = 0;
            for (size_t c = 0; c < columns; ++c) top = std::max(top, row[c]);
            if (top > kHostMax16)
                for (size_t c = 0; c < columns; ++c)
                    if (row[c] > kHostMax16) ++log.outOfRangeSamples;
        } else {
            if (stride == 2)
                std::memcpy(data, row, columns * 2);
            else
                for (size_t c = 0; c < columns; ++c) std::memcpy(data + c * stride, &row[c], 2);
        }
    }
    ++log.rowsMoved;
    return noErr;
}

// ---- The document a read makes ----------------------------------------------------

void Host::Impl::makeDocumentImage() {
    const FormatRecord& r = host.record_;
    log.told = {r.imageMode, r.imageSize.v, r.imageSize.h, r.depth, r.planes};
    Image& image = host.document_->image;
    image = Image{};
    std::string what;
    if (r.imageSize.v < 1 || r.imageSize.h < 1)
        what = "image size " + std::to_string(r.imageSize.h) + "x" + std::to_string(r.imageSize.v);
    else if (r.depth != 8 && r.depth != 16)
        what = "depth " + std::to_string(r.depth);
    else if (r.planes < 1)
        what = "planes " + std::to_string(r.planes);
    else if (r.imageMode < 0 || r.imageMode > plugInModeGray16)
        what = "image mode " + std::to_string(r.imageMode);
    if (!what.empty()) {
        violation("ReadStart", "the host cannot make a document with " + what);
        documentError = formatBadParameters;
        return;
    }
    uint64_t bytes = uint64_t(r.imageSize.v) * uint64_t(r.imageSize.h) * uint64_t(r.planes) *
                     uint64_t(r.depth / 8);
    if (bytes > host.setup_.maxImageBytes) {
        documentError = memFullErr;
        return;
    }
    image.rows = r.imageSize.v;
    image.columns = r.imageSize.h;
    image.planes = r.planes;
    image.depth = r.depth;
    image.mode = r.imageMode;
    try {
        image.allocate();
    } catch (const std::bad_alloc&) {
        image = Image{};
        documentError = memFullErr;
    }
}

// ---- Suite shapes ---------------------------------------------------------------

namespace {

// Leaves routine `index` (in suite order) of a suite null. The routines
// follow the two counts one pointer after another in every suite record.
template <typename Suite>
void nullRoutine(Suite& suite, size_t firstOffset, size_t routines, int index) {
    if (index < 0 || static_cast<size_t>(index) >= routines) return;
    auto* bytes = reinterpret_cast<unsigned char*>(&suite);
    std::memset(bytes + firstOffset + static_cast<size_t>(index) * sizeof(void*), 0, sizeof(void*));
}

}  // namespace

void Host::Impl::applySetup() {
    const Setup& s = host.setup_;
    bufferProcs = {s.buffer.version, s.buffer.count, &allocateBuffer, &lockBuffer,
                   &unlockBuffer,    &freeBufferProc, &bufferSpace};
    nullRoutine(bufferProcs, offsetof(BufferProcs, allocateProc), 5, s.buffer.nullRoutine);

    resourceProcs = {s.resource.version, s.resource.count, &countResources,
                     &getResource,       &deleteResource,  &addResource};
    nullRoutine(resourceProcs, offsetof(ResourceProcs, countProc), 4, s.resource.nullRoutine);

    handleProcs = {s.handle.version, s.handle.count, &newHandle,    &disposeHandle,
                   &handleSize,      &setHandleSize, &lockHandle,   &unlockHandle,
                   &recoverSpace,    &disposeRegularHandle};
    nullRoutine(handleProcs, offsetof(HandleProcs, newProc), 8, s.handle.nullRoutine);

    readProcs = {s.readDescriptor.version,
                 s.readDescriptor.count,
                 &openReadDescriptor,
                 &closeReadDescriptor,
                 &getKey,
                 &unexpectedDescriptorRoutine<3, true>,
                 &unexpectedDescriptorRoutine<4, true>,
                 &unexpectedDescriptorRoutine<5, true>,
                 &unexpectedDescriptorRoutine<6, true>,
                 &unexpectedDescriptorRoutine<7, true>,
                 &unexpectedDescriptorRoutine<8, true>,
                 &unexpectedDescriptorRoutine<9, true>,
                 &unexpectedDescriptorRoutine<10, true>,
                 &unexpectedDescriptorRoutine<11, true>,
                 &unexpectedDescriptorRoutine<12, true>,
                 &unexpectedDescriptorRoutine<13, true>,
                 &unexpectedDescriptorRoutine<14, true>,
                 &unexpectedDescriptorRoutine<15, true>,
                 &unexpectedDescriptorRoutine<16, true>,
                 &unexpectedDescriptorRoutine<17, true>};
    nullRoutine(readProcs, offsetof(ReadDescriptorProcs, openReadDescriptorProc), 18,
                s.readDescriptor.nullRoutine);

    writeProcs = {s.writeDescriptor.version,
                  s.writeDescriptor.count,
                  &unexpectedDescriptorRoutine<0, false>,
                  &unexpectedDescriptorRoutine<1, false>,
                  &unexpectedDescriptorRoutine<2, false>,
                  &unexpectedDescriptorRoutine<3, false>,
                  &unexpectedDescriptorRoutine<4, false>,
                  &unexpectedDescriptorRoutine<5, false>,
                  &unexpectedDescriptorRoutine<6, false>,
                  &unexpectedDescriptorRoutine<7, false>,
                  &unexpectedDescriptorRoutine<8, false>,
                  &unexpectedDescriptorRoutine<9, false>,
                  &unexpectedDescriptorRoutine<10, false>,
                  &unexpectedDescriptorRoutine<11, false>,
                  &unexpectedDescriptorRoutine<12, false>,
                  &unexpectedDescriptorRoutine<13, false>,
                  &unexpectedDescriptorRoutine<14, false>,
                  &unexpectedDescriptorRoutine<15, false>};
    nullRoutine(writeProcs, offsetof(WriteDescriptorProcs, openWriteDescriptorProc), 16,
                s.writeDescriptor.nullRoutine);

    descriptorParams = {};
    descriptorParams.descriptorParametersVersion = s.descriptorParameters.version;
    descriptorParams.playInfo = s.script.playInfo;
    descriptorParams.readDescriptorProcs = s.readDescriptor.present ? &readProcs : nullptr;
    descriptorParams.writeDescriptorProcs = s.writeDescriptor.present ? &writeProcs : nullptr;

    platform.hwnd = s.hwnd;

    FormatRecord& r = host.record_;
    r = FormatRecord{};
    r.dataFork = -1;
    r.progressProc = s.progress ? &progress : nullptr;
    r.maxData = s.maxData;
    r.platformData = s.platformData ? &platform : nullptr;
    r.bufferProcs = s.buffer.present ? &bufferProcs : nullptr;
    r.resourceProcs = s.resource.present ? &resourceProcs : nullptr;
    r.handleProcs = s.handle.present ? &handleProcs : nullptr;
    r.advanceState = s.advanceState ? &Impl::advanceState : nullptr;
    r.descriptorParameters = s.descriptorParameters.present ? &descriptorParams : nullptr;

    host.about_ = AboutRecord{};
    host.about_.platformData = s.platformData ? &platform : nullptr;
}

int Host::Impl::messageBox(void* owner, const char* text, const char* caption, unsigned type) {
    MessageBox box;
    box.text = text != nullptr ? text : "";
    if (caption != nullptr) box.caption = caption;
    box.type = type;
    box.owner = reinterpret_cast<intptr_t>(owner);
    box.selector = selector;
    if (text == nullptr) violation("MessageBoxA", "null text");
    log.messages.push_back(box);
    if (host.onMessageBox) host.onMessageBox(log.messages.back());
    return host.setup_.messageBoxAnswer;
}

// ---- Host -------------------------------------------------------------------------

std::vector<int16_t> Outcome::selectors() const {
    std::vector<int16_t> out;
    out.reserve(calls.size());
    for (const Call& c : calls) out.push_back(c.selector);
    return out;
}

Host::Host(PluginEntryProc entry, Setup setup)
    : impl_(std::make_unique<Impl>(*this)), entry_(entry), setup_(std::move(setup)) {
    impl_->applySetup();
}

Host::~Host() {
    detach();
    if (cell_ != 0) retiredCells().push_back(cell_);
    for (auto& [id, record] : impl_->buffers) std::free(record->data);
    for (auto& [h, record] : impl_->handles) std::free(record->data);
    if (g_current == impl_.get()) g_current = nullptr;
}

void Host::begin() {
    impl_->applySetup();
    impl_->log = Outcome{};
    impl_->tokens.clear();
    impl_->documentError = noErr;
    ++impl_->sequence;
}

bool Host::attach(File& file, bool forWriting, std::string* error) {
    detach();
    if (file.memory_) {
        file.handle_ = g_nextMemoryHandle++;
        g_memoryFiles[file.handle_] = &file;
        file.position_ = 0;
        file.readCalls_ = 0;
        file.writeCalls_ = 0;
        if (forWriting) file.bytes_.clear();
    } else {
        int fd = openDiskFile(file.path_, forWriting, error);
        if (fd < 0) return false;
        file.fd_ = fd;
        file.handle_ = fd;
    }
    FSSpec& location = impl_->location;
    location = FSSpec{};
    // A Pascal string of the path, ended with a NUL as well; longer paths
    // than the record holds are cut.
    size_t length = std::min<size_t>(file.path_.size(), sizeof location.name - 2);
    location.name[0] = static_cast<uint8_t>(length);
    std::memcpy(location.name + 1, file.path_.data(), length);
    location.name[length + 1] = 0;
    record_.fileSpec = &location;
    record_.dataFork = file.handle_;
    file_ = &file;
    return true;
}

void Host::detach() {
    if (file_ == nullptr) return;
    if (file_->memory_) {
        g_memoryFiles.erase(file_->handle_);
    } else if (file_->fd_ >= 0) {
        closeDiskFile(file_->fd_);
        file_->fd_ = -1;
    }
    file_->handle_ = 0;
    file_ = nullptr;
    record_.dataFork = -1;
    record_.fileSpec = nullptr;
}

void Host::useDocument(Document& document, bool describeInRecord) {
    document_ = &document;
    if (!describeInRecord) return;
    const Image& image = document.image;
    record_.imageMode = image.mode;
    record_.imageSize.v = static_cast<int16_t>(image.rows);
    record_.imageSize.h = static_cast<int16_t>(image.columns);
    record_.depth = image.depth;
    record_.planes = image.planes;
    record_.imageRsrcData = nullptr;
    record_.imageRsrcSize = 0;
}

void Host::offerScriptDescriptor() {
    const ScriptDescriptor& script = setup_.script;
    if (!script.present || record_.descriptorParameters == nullptr) return;
    size_t bytes = script.keys.size() * sizeof(DescriptorKeyID);
    Handle h = impl_->makeHandle(bytes, Leak::Kind::descriptor, false);
    if (h != nullptr && bytes > 0) std::memcpy(*h, script.keys.data(), bytes);
    record_.descriptorParameters->descriptor = h;
    record_.descriptorParameters->playInfo = script.playInfo;
}

OSErr Host::call(int16_t selector) {
    return callWith(selector, selector == formatSelectorAbout ? static_cast<void*>(&about_)
                                                              : static_cast<void*>(&record_));
}

OSErr Host::callWith(int16_t selector, void* params) {
    Impl* previous = g_current;
    g_current = impl_.get();
    impl_->selector = selector;
    int16_t result = noErr;
    entry_(selector, params, &cell_, &result);
    impl_->log.calls.push_back({selector, result});
    if (selector == formatSelectorReadStart && params == &record_ && result == noErr)
        impl_->makeDocumentImage();
    impl_->selector = -1;
    g_current = previous;
    return result;
}

Outcome Host::end() {
    Impl& I = *impl_;
    for (auto& [id, record] : I.buffers)
        if (record->sequence == I.sequence)
            I.log.leaks.push_back({Leak::Kind::buffer, static_cast<int64_t>(record->size), record->selector});
    std::vector<Handle> hostOwned;
    for (auto& [h, record] : I.handles) {
        if (record->hostOwned) {
            hostOwned.push_back(h);
        } else if (record->sequence == I.sequence) {
            I.log.leaks.push_back({record->kind, static_cast<int64_t>(record->size), record->selector});
        }
    }
    // Resource handles are the host's; they last as long as the sequence.
    for (Handle h : hostOwned) I.freeHandle(h);
    for (auto& token : I.tokens)
        if (token->open) I.log.violations.push_back("read descriptor left open at the end");
    I.tokens.clear();
    detach();
    Outcome out = std::move(I.log);
    I.log = Outcome{};
    return out;
}

Document Host::takeDocument() {
    Document out = std::move(ownDocument_);
    ownDocument_ = Document{};
    return out;
}

std::optional<uint32_t> Host::peekHeaderLength() const {
    if (cell_ == 0) return std::nullopt;
    auto handle = reinterpret_cast<Handle>(cell_);
    if (*handle == nullptr) return std::nullopt;
    nebulite::PluginState state;
    std::memcpy(&state, *handle, sizeof state);
    return state.headerLength;
}

size_t Host::liveBuffers() const { return impl_->buffers.size(); }

size_t Host::liveHandles() const {
    size_t n = 0;
    for (auto& [h, record] : impl_->handles)
        if (!record->hostOwned) ++n;
    return n;
}

// ---- Sequences ----------------------------------------------------------------------

Outcome Host::about() {
    begin();
    impl_->fail(formatSelectorAbout, call(formatSelectorAbout));
    return end();
}

Outcome Host::filterFile(File& file) {
    begin();
    std::string error;
    if (!attach(file, false, &error)) {
        impl_->hostFailure(readErr, error);
        return end();
    }
    impl_->fail(formatSelectorFilterFile, call(formatSelectorFilterFile));
    return end();
}

Outcome Host::readLike(File& file, bool withSamples) {
    begin();
    ownDocument_ = Document{};
    document_ = &ownDocument_;
    std::string error;
    if (!attach(file, false, &error)) {
        impl_->hostFailure(readErr, error);
        return end();
    }
    Impl& I = *impl_;
    auto step = [&](int16_t selector) {
        OSErr r = call(selector);
        I.fail(selector, r);
        return r == noErr;
    };
    bool going = step(formatSelectorReadPrepare);
    if (going) {
        offerScriptDescriptor();
        going = step(formatSelectorReadStart);
    }
    if (going && I.documentError != noErr) {
        I.fail(formatSelectorReadStart, I.documentError);
        I.hostFailure(I.documentError, I.documentError == memFullErr
                                           ? "the image is too large for the host"
                                           : "the host cannot make that document");
        going = false;
    }
    if (going && withSamples) {
        going = step(formatSelectorReadContinue);
        if (record_.data != nullptr)
            I.violation("ReadContinue", "data left set; this host moves rows through advanceState only");
    }
    step(formatSelectorReadFinish);
    return end();
}

Outcome Host::read(File& file) { return readLike(file, true); }
Outcome Host::info(File& file) { return readLike(file, false); }

bool Host::runGroup(int16_t prepare, int16_t start, int16_t cont, int16_t finish,
                    bool continueStep) {
    Impl& I = *impl_;
    bool failed = false;
    auto step = [&](int16_t selector) {
        OSErr r = call(selector);
        if (r != noErr && !failed) {
            I.fail(selector, r);
            failed = true;
        }
        return r == noErr;
    };
    record_.maxData = setup_.maxData;
    bool going = step(prepare);
    if (going) {
        going = step(start);
        if (start == formatSelectorEstimateStart) {
            I.log.minDataBytes = record_.minDataBytes;
            I.log.maxDataBytes = record_.maxDataBytes;
        }
    }
    if (going && continueStep) {
        step(cont);
        if (cont == formatSelectorWriteContinue && record_.data != nullptr)
            I.violation("WriteContinue", "data left set; this host moves rows through advanceState only");
    }
    step(finish);
    return !failed;
}

namespace {

// The record describes an image with 16-bit sizes; a larger document cannot
// be handed to a module at all.
std::string undescribable(const Image& image) {
    if (image.rows > INT16_MAX || image.columns > INT16_MAX)
        return "the host cannot describe an image of " + std::to_string(image.columns) + "x" +
               std::to_string(image.rows);
    return {};
}

}  // namespace

Outcome Host::estimate(Document& document) {
    begin();
    if (std::string why = undescribable(document.image); !why.empty()) {
        impl_->hostFailure(formatBadParameters, why);
        return end();
    }
    useDocument(document, true);
    runGroup(formatSelectorEstimatePrepare, formatSelectorEstimateStart,
             formatSelectorEstimateContinue, formatSelectorEstimateFinish, true);
    document_ = &ownDocument_;
    return end();
}

Outcome Host::write(Document& document, File& file) {
    begin();
    std::string error = undescribable(document.image);
    if (!error.empty()) {
        impl_->hostFailure(formatBadParameters, error);
        return end();
    }
    useDocument(document, true);
    if (attach(file, true, &error)) {
        runGroup(formatSelectorWritePrepare, formatSelectorWriteStart,
                 formatSelectorWriteContinue, formatSelectorWriteFinish, true);
    } else {
        impl_->hostFailure(writErr, error);
    }
    document_ = &ownDocument_;
    return end();
}

Outcome Host::save(Document& document, File& file) {
    begin();
    std::string error = undescribable(document.image);
    if (!error.empty()) {
        impl_->hostFailure(formatBadParameters, error);
        return end();
    }
    useDocument(document, true);
    if (attach(file, true, &error)) {
        runGroup(formatSelectorOptionsPrepare, formatSelectorOptionsStart,
                 formatSelectorOptionsContinue, formatSelectorOptionsFinish, true) &&
            runGroup(formatSelectorEstimatePrepare, formatSelectorEstimateStart,
                     formatSelectorEstimateContinue, formatSelectorEstimateFinish, true) &&
            runGroup(formatSelectorWritePrepare, formatSelectorWriteStart,
                     formatSelectorWriteContinue, formatSelectorWriteFinish, true);
    } else {
        impl_->hostFailure(writErr, error);
    }
    document_ = &ownDocument_;
    return end();
}

// ---- Image ------------------------------------------------------------------------

void adviseHugePages(const void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    if (data == nullptr || bytes < 2 * kHugePage) return;
    auto start = reinterpret_cast<uintptr_t>(data);
    uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    // Advice only; a system without transparent huge pages refuses it and
    // the block works as before.
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

namespace {

// A store large enough for the image is reused as it is; a new one is
// advised for huge pages before the zero fill first touches it.
template <typename T>
void sizeStore(std::vector<T>& store, size_t count) {
    if (store.capacity() < count) {
        std::vector<T>().swap(store);
        store.reserve(count);
        adviseHugePages(store.data(), count * sizeof(T));
    }
    store.assign(count, 0);
}

}  // namespace

void Image::allocate() {
    if (depth == 16) {
        std::vector<uint8_t>().swap(narrow);
        sizeStore(wide, sampleCount());
    } else {
        std::vector<uint16_t>().swap(wide);
        sizeStore(narrow, sampleCount());
    }
}

// ---- Module loading -------------------------------------------------------------------

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error,
                                     const std::string& entryPoint) {
#if defined(_WIN32)
    void* symbol = win32::loadModuleEntry(path, entryPoint, error);
    if (symbol == nullptr) return nullptr;
#else
    // RTLD_NOW: a module with a missing symbol fails here, not mid-call.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        if (error != nullptr) {
            const char* why = dlerror();
            *error = why != nullptr ? why : "cannot load " + path;
        }
        return nullptr;
    }
    void* symbol = dlsym(library, entryPoint.c_str());
    if (symbol == nullptr) {
        if (error != nullptr) *error = path + " has no " + entryPoint;
        dlclose(library);
        return nullptr;
    }
#endif
    std::unique_ptr<Module> module(new Module());
    module->path_ = path;
    static_assert(sizeof(PluginEntryProc) == sizeof(void*));
    std::memcpy(&module->entry_, &symbol, sizeof symbol);
    return module;
}

// ---- Text --------------------------------------------------------------------------------

std::string ansiToUtf8(std::string_view text) {
    // Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five bytes it
    // leaves undefined map to the C1 controls, as Windows itself maps them.
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto byte = static_cast<unsigned char>(ch);
        char32_t code = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace nebulite::host

// ---- The hooks the module looks up by name -----------------------------------------------

namespace {

using nebulite::host::FileHooks;

int hookMessageBox(void* owner, const char* text, const char* caption, unsigned type) {
    if (nebulite::host::g_current != nullptr)
        return nebulite::host::g_current->messageBox(owner, text, caption, type);
    // A module called outside any host call still gets its answer.
    std::fprintf(stderr, "Nebulite: %s\n",
                 nebulite::host::ansiToUtf8(text != nullptr ? text : "").c_str());
    return 1;
}

bool hookFailAllocation(int kind, size_t) {
    nebulite::host::Host::Impl* self = nebulite::host::g_current;
    if (self == nullptr) return false;
    if (kind < 0 || kind >= nebulite::host::kAllocKinds) kind = nebuliteAllocOther;
    auto index = static_cast<size_t>(kind);
    int64_t k = self->log.counters.moduleAllocations[index]++;
    return self->host.faults().moduleAllocation[index].fires(k);
}

const NebuliteHostHooks kHooks = {
    nebuliteHostHooksVersion, &hookMessageBox, &FileHooks::read,
    &FileHooks::write,        &FileHooks::seek, &hookFailAllocation,
};

}  // namespace

// Default visibility: the module finds this with dlsym in the executable.
extern "C" __attribute__((visibility("default"))) const NebuliteHostHooks* nebuliteHostHooks(void) {
    return &kHooks;
}
