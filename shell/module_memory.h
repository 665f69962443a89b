// The module's own heap blocks (header text, row blocks, sample stores, the
// state of an operation). Allocation never throws; a null answer is the
// caller's memFullErr. Objects and arrays from here free themselves when
// they go (ModuleArray, ModulePtr), so no error path forgets one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "platform/host_hooks.h"
#include "platform/platform.h"

namespace nebulite {

inline void* moduleAllocate(NebuliteAllocKind kind, size_t bytes) {
    if (nebulitePlatformAllocationFails(kind, bytes)) return nullptr;
    return nebulitePlatformHeapAllocate(bytes == 0 ? 1 : bytes);
}

inline void moduleFree(void* block) { std::free(block); }

// An object made in place in the module's heap; null when there is no memory.
template <typename T, typename... Args>
T* moduleNew(NebuliteAllocKind kind, Args&&... args) {
    void* block = moduleAllocate(kind, sizeof(T));
    return block == nullptr ? nullptr : new (block) T(std::forward<Args>(args)...);
}

template <typename T>
void moduleDelete(T* object) {
    if (object == nullptr) return;
    object->~T();
    moduleFree(object);
}

// One object of the module's heap, deleted when the owner goes.
template <typename T>
class ModulePtr {
public:
    ModulePtr() = default;
    ModulePtr(const ModulePtr&) = delete;
    ModulePtr& operator=(const ModulePtr&) = delete;
    ~ModulePtr() { moduleDelete(object_); }

    // A new T in place of what it held; false when there is no memory.
    template <typename... Args>
    bool make(NebuliteAllocKind kind, Args&&... args) {
        moduleDelete(object_);
        object_ = moduleNew<T>(kind, std::forward<Args>(args)...);
        return object_ != nullptr;
    }
    void reset() {
        moduleDelete(object_);
        object_ = nullptr;
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

// `count` values of T in the module's heap, uninitialised, freed with the
// array. Only trivially copyable values live here (samples, rows, tables).
template <typename T>
class ModuleArray {
public:
    ModuleArray() = default;
    ModuleArray(const ModuleArray&) = delete;
    ModuleArray& operator=(const ModuleArray&) = delete;
    ModuleArray(ModuleArray&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    ModuleArray& operator=(ModuleArray&& other) noexcept {
        if (this != &other) {
            release();
            std::swap(data_, other.data_);
            std::swap(size_, other.size_);
        }
        return *this;
    }
    ~ModuleArray() { release(); }

    // Replaces what the array held by `count` new values; false (the array
    // then empty) when the bytes are not addressable or not to be had.
    bool allocate(NebuliteAllocKind kind, uint64_t count) {
        release();
        if (count > SIZE_MAX / sizeof(T)) return false;
        data_ = static_cast<T*>(moduleAllocate(kind, static_cast<size_t>(count) * sizeof(T)));
        if (data_ == nullptr) return false;
        size_ = count;
        return true;
    }
    void release() {
        moduleFree(data_);
        data_ = nullptr;
        size_ = 0;
    }
    // Gives up the block to the caller, who frees it with moduleFree.
    T* take() {
        T* block = data_;
        data_ = nullptr;
        size_ = 0;
        return block;
    }

    T* data() const { return data_; }
    uint64_t size() const { return size_; }
    bool held() const { return data_ != nullptr; }
    T& operator[](uint64_t i) const { return data_[i]; }

private:
    T* data_ = nullptr;
    uint64_t size_ = 0;
};

}  // namespace nebulite
