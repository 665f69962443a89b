// A lock for the reference host's few tables that hosts on several threads
// share. The Windows build's compiler (mingw-w64 with Win32 threads) has no
// std::mutex, so there it is a slim reader/writer lock of the system's.
#pragma once

#if !defined(_WIN32)
#include <mutex>
#endif

namespace nebulite::host {

class HostLock {
public:
    HostLock() = default;
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;

#if defined(_WIN32)
    // An SRWLOCK is one pointer, zero when free (host_lock_win32.cpp);
    // <windows.h> stays out of this header, whose includers name things
    // (MessageBox) that it defines as macros.
    void lock();
    void unlock();

private:
    void* lock_ = nullptr;
#else
    void lock() { lock_.lock(); }
    void unlock() { lock_.unlock(); }

private:
    std::mutex lock_;
#endif
};

// Holds a HostLock for its scope.
class HostLockGuard {
public:
    explicit HostLockGuard(HostLock& lock) : lock_(lock) { lock_.lock(); }
    HostLockGuard(const HostLockGuard&) = delete;
    HostLockGuard& operator=(const HostLockGuard&) = delete;
    ~HostLockGuard() { lock_.unlock(); }

private:
    HostLock& lock_;
};

}  // namespace nebulite::host
