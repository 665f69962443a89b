// The save's samples on their way to the file: converted into one fixed
// buffer of whole FITS blocks and written a buffer at a time, so that an
// image of thousands of rows takes a few hundred large writes instead of a
// write per row.
#pragma once

#include <cstdint>

#include "shell/plugin_state.h"
#include "header/fits_units.h"

namespace nebulite {

// 64 blocks (180 KB): big enough that the write calls cost little beside
// the samples, small enough to ask of any host; whole blocks, so that every
// write but a failed one leaves the file at a block boundary.
inline constexpr uint32_t kGatherBytes = 64 * kBlockBytes;
static_assert(kGatherBytes % kBlockBytes == 0 && kGatherBytes % 2 == 0);

// `count` bytes of host samples of `sampleBytes` each, in place, into the
// file's: 16 bits through storedSample16 with `bzero`, big-endian; 8 bits
// as they are.
void storeLevelSamples(uint8_t* samples, uint32_t count, int16_t sampleBytes, double bzero);

class BlockWriter {
public:
    BlockWriter() = default;
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;
    ~BlockWriter();

    // Takes the buffer from the module's heap; false, with memFullErr
    // recorded, when it cannot be had.
    bool open(PluginState& state);

    // `count` bytes of host samples of `sampleBytes` each, converted to the
    // file's (16 bits: storedSample16 with `bzero`, big-endian), the buffer
    // written the moment it is full. Nothing once the save has failed.
    void addSamples(PluginState& state, const uint8_t* host, uint32_t count, int16_t sampleBytes, double bzero);
    // Where the host can put a row of `count` bytes straight into the
    // buffer, saving a copy; null when the row would run past its end (it
    // then goes through addSamples).
    uint8_t* slotFor(uint32_t count) const;
    // The `count` bytes the host put at slotFor(count), converted in place
    // and taken in as addSamples would. Nothing once the save has failed.
    void take(PluginState& state, uint32_t count, int16_t sampleBytes, double bzero);

    // `count` zero bytes: the fill that closes the data unit.
    void addZeros(PluginState& state, uint32_t count);

    // Writes what has been gathered, even after the host stopped the save
    // (the rows it handed over belong in the file), but never after a
    // write failed: a full disk keeps the file as short as it got.
    void flush(PluginState& state);

private:
    uint8_t* buffer_ = nullptr;
    uint32_t filled_ = 0;
    bool writeFailed_ = false;
};

}  // namespace nebulite
