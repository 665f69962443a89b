// The files the module reads and writes through `dataFork`: disk files the
// module reaches with the system's own calls, and memory files the host
// serves itself (through the hooks on POSIX systems) so that they can fail.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "host/host_impl.h"
#include "host/host_lock.h"

#if defined(_WIN32)
#include "host/win32_host.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace nebulite::host {

namespace {

// Memory files while attached, by the handle number the module sees. The
// numbers start far above any descriptor a process gets, so that a real
// descriptor is never mistaken for one. Hosts on several threads attach
// theirs to the one table (two documents in flight); the count lets a disk
// file's calls pass without taking the lock when none is attached.
HostLock g_memoryFilesLock;
std::unordered_map<intptr_t, File*> g_memoryFiles;
std::atomic<size_t> g_memoryFileCount{0};
intptr_t g_nextMemoryHandle = 0x4E000000;

void registerMemoryFile(File& file, intptr_t& handle) {
    HostLockGuard guard(g_memoryFilesLock);
    handle = g_nextMemoryHandle++;
    g_memoryFiles[handle] = &file;
    g_memoryFileCount.store(g_memoryFiles.size());
}

// Forgets `handle` when it is still `file`'s.
void forgetMemoryFile(const File* file, intptr_t handle) {
    HostLockGuard guard(g_memoryFilesLock);
    auto it = g_memoryFiles.find(handle);
    if (it != g_memoryFiles.end() && (file == nullptr || it->second == file)) g_memoryFiles.erase(it);
    g_memoryFileCount.store(g_memoryFiles.size());
}

// A disk file as the module gets it: a descriptor on POSIX systems, a Win32
// file handle on Windows. -1 with `error` set when it cannot be opened.
intptr_t openDiskFile(const std::string& path, bool forWriting, std::string* error) {
#if defined(_WIN32)
    return win32::openDataFork(path, forWriting, error);
#else
    int fd = forWriting ? openToWrite(path) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && error != nullptr) *error = "cannot open " + path + ": " + std::strerror(errno);
    return fd;
#endif
}

void closeDiskFile(intptr_t fd) {
#if defined(_WIN32)
    win32::closeDataFork(fd);
#else
    ::close(static_cast<int>(fd));
#endif
}

}  // namespace

#if !defined(_WIN32)
int openToWrite(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || (status.st_size != 0 && ::ftruncate(fd, 0) != 0))) {
        int failure = errno;
        ::close(fd);
        fd = -1;
        errno = failure;
    }
    return fd;
}
#endif

File* attachedMemoryFile(intptr_t handle) {
    // Disk files pay no more than this check while no memory file is attached.
    if (g_memoryFileCount.load() == 0) return nullptr;
    HostLockGuard guard(g_memoryFilesLock);
    auto it = g_memoryFiles.find(handle);
    return it == g_memoryFiles.end() ? nullptr : it->second;
}

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

File& File::failWriteAt(int64_t k, bool onward) {
    failWriteAt_ = k;
    failWritesOnward_ = onward;
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
    failWriteAt_ = other.failWriteAt_;
    failWritesOnward_ = other.failWritesOnward_;
    readCalls_ = other.readCalls_;
    writeCalls_ = other.writeCalls_;
    // An attached file is not moved: the descriptor stays with the original.
    return *this;
}

File::~File() {
    if (fd_ >= 0) closeDiskFile(fd_);
    if (handle_ != 0) forgetMemoryFile(this, handle_);
}

// ---- A memory file as the module's HFILE calls see it --------------------------

bool FileHooks::read(int handle, void* buffer, unsigned count, unsigned* moved) {
    File* file = attachedMemoryFile(handle);
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

bool FileHooks::write(int handle, const void* buffer, unsigned count, unsigned* moved) {
    File* file = attachedMemoryFile(handle);
    if (file == nullptr) return false;
    const int64_t index = file->writeCalls_++;
    if (file->failWriteAt_ &&
        (index == *file->failWriteAt_ || (file->failWritesOnward_ && index > *file->failWriteAt_))) {
        *moved = static_cast<unsigned>(-1);  // HFILE_ERROR
        return true;
    }
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

bool FileHooks::seek(int handle, int64_t offset, int origin, int64_t* position) {
    File* file = attachedMemoryFile(handle);
    if (file == nullptr) return false;
    int64_t base = 0;
    if (origin == SEEK_CUR) base = static_cast<int64_t>(file->position_);
    if (origin == SEEK_END) base = static_cast<int64_t>(file->bytes_.size());
    if (origin < SEEK_SET || origin > SEEK_END || offset < -base || offset > INT64_MAX - base) {
        *position = -1;  // HFILE_ERROR, position unchanged
        return true;
    }
    const int64_t target = base + offset;
    file->position_ = static_cast<size_t>(target);
    *position = target;
    return true;
}

// ---- Attaching a file to the record ---------------------------------------------

bool Host::attach(File& file, bool forWriting, std::string* error) {
    detach();
    if (file.memory_) {
        registerMemoryFile(file, file.handle_);
        file.position_ = 0;
        file.readCalls_ = 0;
        file.writeCalls_ = 0;
        if (forWriting) file.bytes_.clear();
    } else {
        intptr_t fd = openDiskFile(file.path_, forWriting, error);
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
        forgetMemoryFile(nullptr, file_->handle_);
    } else if (file_->fd_ >= 0) {
        closeDiskFile(file_->fd_);
        file_->fd_ = -1;
    }
    file_->handle_ = 0;
    file_ = nullptr;
    record_.dataFork = -1;
    record_.fileSpec = nullptr;
}

}  // namespace nebulite::host
