// ZDITHER0, the seed of the dither's random sequence, chosen the two ways
// fpack chooses it. Images that will be added or subtracted should not
// share a seed, hence the clock; a seed from the data makes the same image
// compress to the same file every time (fpack -qt).
#pragma once

#include <cstdint>
#include <span>

namespace nebulite::tiledsave {

// fpack's default: the time in seconds, plus the process's CPU time in
// hundredths of a second, plus the HDU's index in the file (1 for the
// table after an empty primary), taken modulo 10000, plus one. The caller
// reads the clocks (this library reads none).
constexpr int32_t fpackClockSeed(int64_t unixSeconds, int64_t cpuHundredths, int64_t hduIndex) {
    const int64_t sum = unixSeconds + cpuHundredths + hduIndex;
    const int64_t r = sum % 10000;
    return static_cast<int32_t>((r < 0 ? r + 10000 : r) + 1);
}

// fpack -qt: the sum of the first tile's bytes (the same in either byte
// order) modulo 10000, plus one.
struct ByteSum {
    uint64_t sum = 0;
    void add(std::span<const uint8_t> bytes) {
        for (uint8_t b : bytes) sum += b;
    }
    int32_t seed() const { return static_cast<int32_t>(sum % 10000) + 1; }
};

static_assert(fpackClockSeed(0, 0, 1) == 2 && fpackClockSeed(9999, 0, 0) == 10000 && fpackClockSeed(10000, 0, 0) == 1);

}  // namespace nebulite::tiledsave
