#include "export/block_writer.h"

#include <cstring>

#include "codecs/big_endian.h"
#include "export/write_pixels.h"
#include "shell/file_access.h"
#include "shell/module_memory.h"

namespace nebulite {

BlockWriter::~BlockWriter() { moduleFree(buffer_); }

bool BlockWriter::open(PluginState& state) {
    if (buffer_ == nullptr) buffer_ = static_cast<uint8_t*>(moduleAllocate(nebuliteAllocRowBlock, kGatherBytes));
    if (buffer_ == nullptr) return recordError(state, memFullErr);
    filled_ = 0;
    writeFailed_ = false;
    return true;
}

void BlockWriter::flush(PluginState& state) {
    if (buffer_ == nullptr || writeFailed_ || filled_ == 0) return;
    int32_t moved = static_cast<int32_t>(filled_);
    OSErr error = fileWrite(state.formatRecord->dataFork, &moved, buffer_);
    filled_ = 0;
    if (error != noErr) {
        writeFailed_ = true;
        recordError(state, error);
    }
}

// One pointer, read and written at the same place, so that the loop
// vectorises without a check for overlap.
void storeLevelSamples(uint8_t* samples, uint32_t count, int16_t sampleBytes, double bzero) {
    if (sampleBytes != 2) return;
    const uint16_t flip = storedFlip16(bzero);
    const uint32_t n = count / 2;
    for (uint32_t k = 0; k < n; ++k) {
        uint16_t h;
        std::memcpy(&h, samples + 2 * k, 2);
        auto v = static_cast<uint16_t>(doubledSample16(h) ^ flip);
        v = codecs::bigEndianOf(v);
        std::memcpy(samples + 2 * k, &v, 2);
    }
}

uint8_t* BlockWriter::slotFor(uint32_t count) const {
    if (buffer_ == nullptr || count > kGatherBytes - filled_) return nullptr;
    return buffer_ + filled_;
}

void BlockWriter::take(PluginState& state, uint32_t count, int16_t sampleBytes, double bzero) {
    if (state.result != noErr || count > kGatherBytes - filled_) return;
    storeLevelSamples(buffer_ + filled_, count, sampleBytes, bzero);
    filled_ += count;
    if (filled_ == kGatherBytes) flush(state);
}

void BlockWriter::addSamples(PluginState& state, const uint8_t* host, uint32_t count, int16_t sampleBytes,
                             double bzero) {
    while (count > 0 && state.result == noErr) {
        // The buffer and the rows are of even length, so a 16-bit sample
        // never straddles two buffers.
        uint32_t n = kGatherBytes - filled_;
        if (n > count) n = count;
        std::memcpy(buffer_ + filled_, host, n);
        storeLevelSamples(buffer_ + filled_, n, sampleBytes, bzero);
        filled_ += n;
        host += n;
        count -= n;
        if (filled_ == kGatherBytes) flush(state);
    }
}

void BlockWriter::addZeros(PluginState& state, uint32_t count) {
    while (count > 0 && state.result == noErr) {
        uint32_t n = kGatherBytes - filled_;
        if (n > count) n = count;
        std::memset(buffer_ + filled_, 0, n);
        filled_ += n;
        count -= n;
        if (filled_ == kGatherBytes) flush(state);
    }
}

}  // namespace nebulite
