// An MSB-first bit writer that can never write past its output: a byte that
// does not fit is dropped and remembered, so an encoder runs its loops
// without a bounds test of its own and asks `overflowed()` at the end (or
// once per block, to stop early). The encoders' sibling of bit_reader.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace nebulite::codecs {

class BitWriter {
public:
    explicit BitWriter(std::span<uint8_t> out) : begin_(out.data()), next_(out.data()), end_(out.data() + out.size()) {}

    // Appends the low `n` bits of `v` (n from 0 to 32), most significant first.
    void put(uint32_t v, int n) {
        // At most 7 pending bits plus 32 new ones: 39 bits of the 64. Bits
        // above the pending ones are stale but never read.
        pending_ = (pending_ << n) | (v & lowMask(n));
        count_ += n;
        while (count_ >= 8) {
            count_ -= 8;
            putByte(static_cast<uint8_t>(pending_ >> count_));
        }
    }

    // Appends `n` zero bits, however many.
    void putZeros(uint64_t n) {
        while (n > 32) {
            put(0, 32);
            n -= 32;
        }
        put(0, static_cast<int>(n));
    }

    // Pads the last byte with zero bits.
    void flush() {
        if (count_ > 0) {
            putByte(static_cast<uint8_t>(pending_ << (8 - count_)));
            count_ = 0;
        }
    }

    // True once a byte did not fit.
    bool overflowed() const { return overflow_; }
    // Whole bytes written so far.
    size_t bytes() const { return static_cast<size_t>(next_ - begin_); }

private:
    static constexpr uint64_t lowMask(int n) { return n >= 32 ? 0xffffffffu : (uint64_t{1} << n) - 1; }

    void putByte(uint8_t b) {
        if (next_ != end_)
            *next_++ = b;
        else
            overflow_ = true;
    }

    uint8_t* begin_;
    uint8_t* next_;
    uint8_t* end_;
    uint64_t pending_ = 0;
    int count_ = 0;
    bool overflow_ = false;
};

}  // namespace nebulite::codecs
