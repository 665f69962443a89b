// Where in the dither table a pixel's random number comes from: the tile
// picks a starting entry from its row and ZDITHER0, the pixels walk on from
// there, nulls and dithered zeros included. Shared by quantizing and
// unquantizing, which must walk alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/quantize.h"

namespace nebulite::codecs {

class DitherWalk {
public:
    // seed 1..10000 and row >= 1, which the callers check.
    DitherWalk(int64_t seed, uint64_t row) : table_(ditherTable().data()) {
        first_ = static_cast<size_t>((row - 1 + static_cast<uint64_t>(seed) - 1) % kDitherTableSize);
        restart();
    }
    // The current entry, widened as the convention evaluates it.
    double current() const { return static_cast<double>(table_[index_]); }
    // After every pixel.
    void advance() {
        if (++index_ == kDitherTableSize) {
            if (++first_ == kDitherTableSize) first_ = 0;
            restart();
        }
    }

    // For loops that take the pixels a run at a time: the entries from the
    // current one to the end of the table, which the next `run()` pixels
    // use in order, with no wrap among them.
    const float* entries() const { return table_ + index_; }
    size_t run() const { return kDitherTableSize - index_; }
    // After `count` pixels, any number (a wrap every time the table's end
    // is met, as advance() would).
    void skip(size_t count) {
        while (count >= run()) {
            count -= run();
            index_ = kDitherTableSize - 1;
            advance();
        }
        index_ += count;
    }

private:
    void restart() { index_ = static_cast<size_t>(500.0 * static_cast<double>(table_[first_])); }
    const float* table_;
    size_t first_ = 0;
    size_t index_ = 0;
};

}  // namespace nebulite::codecs
