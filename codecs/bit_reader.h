// An MSB-first bit reader that can never read past its input: past the last
// byte it feeds zeros and counts them, so a decoder runs its loop without a
// bounds test per bit and asks `overrun()` once per block (or before a loop
// that could spin on zeros). Reading 0 to 32 bits at a time, or, for the
// loops that decode a code per pixel, looking at the whole buffer
// (`window`) and dropping what a code took in one shift (`drop`).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/big_endian.h"

namespace nebulite::codecs {

class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> in)
        : begin_(in.data()), next_(in.data()), end_(in.data() + in.size()) {
        refill();
    }

    // At least 56 valid bits in the buffer afterwards (zeros past the end),
    // and never more than 63, so that whatever a decoder takes of the valid
    // bits is less than a whole 64-bit shift.
    void refill() {
        if (end_ - next_ >= 8) {
            // Eight bytes at once; the bits beyond the valid count are the
            // stream's own next bits, so OR-ing them again later is harmless.
            buffer_ |= loadBE64(next_) >> valid_;
            const int take = (63 - valid_) >> 3;
            next_ += take;
            valid_ += take * 8;
            return;
        }
        while (valid_ < 56) {
            uint64_t byte = 0;
            if (next_ < end_)
                byte = *next_++;
            else
                ++padBytes_;
            buffer_ |= byte << (56 - valid_);
            valid_ += 8;
        }
    }

    // The next `n` bits (0 to 32) without consuming them; needs n <= valid.
    uint32_t peek(int n) const { return n == 0 ? 0u : static_cast<uint32_t>(buffer_ >> (64 - n)); }
    void skip(int n) {
        // Two shifts, so that n = 64 never shifts a 64-bit value by 64.
        buffer_ = (buffer_ << (n >> 1)) << (n - (n >> 1));
        valid_ -= n;
    }
    uint32_t read(int n) {
        if (valid_ < n) refill();
        uint32_t v = peek(n);
        skip(n);
        return v;
    }

    // The buffer, the next bit at the top: its first valid() bits are the
    // stream's; those after them are the stream's next bits or zeros.
    uint64_t window() const { return buffer_; }
    // Consumes n <= valid() bits, one shift (valid() never reaches 64).
    void drop(int n) {
        buffer_ <<= n;
        valid_ -= n;
    }

    // Zero bits before the next 1 bit among the valid bits, `valid()` when
    // they are all zero.
    int leadingZeros() const {
        int z = std::countl_zero(buffer_);
        return z < valid_ ? z : valid_;
    }
    int valid() const { return valid_; }

    // Drops the bits up to the next byte boundary of the stream.
    void alignToByte() { skip(static_cast<int>((8 - consumedBits() % 8) % 8)); }

    // True once a bit beyond the input has been consumed.
    bool overrun() const { return padBytes_ * 8 > static_cast<uint64_t>(valid_); }

    // Bits taken from the stream so far, padding included.
    uint64_t consumedBits() const {
        return (static_cast<uint64_t>(next_ - begin_) + padBytes_) * 8 - static_cast<uint64_t>(valid_);
    }

private:
    const uint8_t* begin_;
    const uint8_t* next_;
    const uint8_t* end_;
    uint64_t buffer_ = 0;
    int valid_ = 0;
    uint64_t padBytes_ = 0;
};

}  // namespace nebulite::codecs
