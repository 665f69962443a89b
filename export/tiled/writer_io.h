// What the writer writes through and takes its memory from, both the
// caller's: the module hands it the host's file and its own allocator
// (which tests make fail); a test hands it a file in memory that fills up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace nebulite::tiledsave {

// A seekable file being written.
class ByteSink {
public:
    // Writes `bytes` at the current position, which moves past them; false
    // when the write failed (the disk is full), whatever it wrote.
    virtual bool write(std::span<const uint8_t> bytes) = 0;
    // Moves to `position`, never past the bytes already written; false when
    // it cannot.
    virtual bool seek(uint64_t position) = 0;

protected:
    ByteSink() = default;
    ByteSink(const ByteSink&) = default;
    ByteSink& operator=(const ByteSink&) = default;
    ~ByteSink() = default;
};

// Blocks of memory: at least 16-byte aligned, null when there is none.
class WriterMemory {
public:
    virtual void* allocate(size_t bytes) = 0;
    virtual void release(void* block) = 0;

protected:
    WriterMemory() = default;
    WriterMemory(const WriterMemory&) = default;
    WriterMemory& operator=(const WriterMemory&) = default;
    ~WriterMemory() = default;
};

}  // namespace nebulite::tiledsave
