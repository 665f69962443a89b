// The caller's allocator with the writer's count of what it holds: every
// block (zlib's too, which frees without saying how much) carries its size
// in front, so that the most held at once can be reported and held against
// the plan's bound.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/gzip_encode.h"
#include "export/tiled/writer_io.h"

namespace nebulite::tiledsave {

class CountedMemory {
public:
    explicit CountedMemory(WriterMemory& memory) : memory_(memory) {}
    CountedMemory(const CountedMemory&) = delete;
    CountedMemory& operator=(const CountedMemory&) = delete;

    // `bytes` usable bytes, 16-byte aligned; null when the allocator has none.
    void* take(size_t bytes);
    void give(void* block);
    // zlib's allocation routed here.
    codecs::DeflateMemory deflate() { return {deflateAllocate, deflateRelease, this}; }

    uint64_t held() const { return held_; }
    uint64_t peak() const { return peak_; }

    // What a block of `bytes` costs beyond them.
    static constexpr size_t kOverhead = 16;

private:
    static void* deflateAllocate(void* opaque, unsigned items, unsigned size);
    static void deflateRelease(void* opaque, void* block);

    WriterMemory& memory_;
    uint64_t held_ = 0;
    uint64_t peak_ = 0;
};

}  // namespace nebulite::tiledsave
