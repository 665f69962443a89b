// The loops that turn a quantized tile's integers into floats, shared by
// unquantizing (codecs/quantize.cpp) and by finding the range of what it
// gives (codecs/unquantize_range.cpp), which must compute every value alike.
// Internal to the codecs.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>

#include "codecs/dither_walk.h"
#include "codecs/quantize.h"

namespace nebulite::codecs::unquantizing {

// Values are computed a chunk at a time into their float bits (a loop that
// vectorises), then handed to a store: store(first, bits, count) for the
// pixels from `first` (counted in the tile).
constexpr size_t kChunk = 256;

template <typename Float>
using FloatBits = std::conditional_t<sizeof(Float) == 4, uint32_t, uint64_t>;

// A pixel's value: computed in double, narrowed to the float type.
template <typename Float>
inline Float ditheredValue(int32_t v, float random, double scale, double zero) {
    return static_cast<Float>((static_cast<double>(v) - static_cast<double>(random) + 0.5) * scale + zero);
}
template <typename Float>
inline Float plainValue(int32_t v, double scale, double zero) {
    return static_cast<Float>(static_cast<double>(v) * scale + zero);
}

// What one pixel becomes, the null test last so that it wins (a null value
// could equal the zero mark). The choices are masks on the value's bits,
// with the tests fixed per loop.
template <typename Float, bool kNull, bool kZeros>
inline FloatBits<Float> pixel(int32_t v, Float value, int32_t nullValue) {
    using Bits = FloatBits<Float>;
    constexpr Bits nan = std::bit_cast<Bits>(std::numeric_limits<Float>::quiet_NaN());
    Bits bits = std::bit_cast<Bits>(value);
    if constexpr (kZeros) bits &= static_cast<Bits>(v == kDitherZeroValue) - 1u;  // +0.0
    if constexpr (kNull) {
        const Bits null = Bits{0} - static_cast<Bits>(v == nullValue);
        bits = (bits & ~null) | (nan & null);
    }
    return bits;
}

// `count` dithered pixels from `first`, whose random numbers are the
// `dither` entries in order.
template <typename Float, bool kNull, bool kZeros, typename Store>
void ditheredRun(const int32_t* in, const float* dither, size_t first, size_t count, const Unquantize& p,
                 Store& store) {
    const double scale = p.scale;
    const double zero = p.zero;
    const int32_t nullValue = p.nullValue;
    FloatBits<Float> bits[kChunk];
    for (size_t done = 0; done < count; done += kChunk) {
        const size_t m = std::min(kChunk, count - done);
        const int32_t* ints = in + first + done;
        const float* random = dither + done;
        for (size_t k = 0; k < m; ++k)
            bits[k] = pixel<Float, kNull, kZeros>(ints[k], ditheredValue<Float>(ints[k], random[k], scale, zero),
                                                  nullValue);
        store(first + done, bits, m);
    }
}

template <typename Float, bool kNull, typename Store>
void undithered(std::span<const int32_t> in, const Unquantize& p, size_t first, size_t count, Store& store) {
    const double scale = p.scale;
    const double zero = p.zero;
    const int32_t nullValue = p.nullValue;
    FloatBits<Float> bits[kChunk];
    for (size_t done = 0; done < count; done += kChunk) {
        const size_t m = std::min(kChunk, count - done);
        const int32_t* ints = in.data() + first + done;
        for (size_t k = 0; k < m; ++k)
            bits[k] = pixel<Float, kNull, false>(ints[k], plainValue<Float>(ints[k], scale, zero), nullValue);
        store(first + done, bits, m);
    }
}

// The dither walk from the tile's first pixel to `first`, then a run at a
// time up to each wrap of the table.
template <typename Float, bool kNull, bool kZeros, typename Store>
void dithered(std::span<const int32_t> in, const Unquantize& p, size_t first, size_t count, Store& store) {
    DitherWalk walk(p.ditherSeed, p.tileRow);
    walk.skip(first);
    const size_t end = first + count;
    for (size_t done = first; done < end;) {
        const size_t run = std::min(end - done, walk.run());
        ditheredRun<Float, kNull, kZeros>(in.data(), walk.entries(), done, run, p, store);
        walk.skip(run);
        done += run;
    }
}

// Whether `p` can be unquantized: dithering needs a seed of 1..10000 and a row.
inline bool unquantizable(const Unquantize& p) {
    return p.dither == Dither::none ||
           (p.ditherSeed >= 1 && p.ditherSeed <= static_cast<int64_t>(kDitherTableSize) && p.tileRow != 0);
}

// Pixels [first, first + count) of the tile `in` unquantized into `store`.
template <typename Float, typename Store>
CodecResult unquantizeInto(std::span<const int32_t> in, const Unquantize& p, size_t first, size_t count,
                           Store store) {
    if (!unquantizable(p)) return CodecResult::unsupported;
    if (p.dither == Dither::none) {
        if (p.hasNull) undithered<Float, true>(in, p, first, count, store);
        else undithered<Float, false>(in, p, first, count, store);
        return CodecResult::ok;
    }
    const bool keepZeros = p.dither == Dither::subtractive2;
    if (p.hasNull) {
        if (keepZeros) dithered<Float, true, true>(in, p, first, count, store);
        else dithered<Float, true, false>(in, p, first, count, store);
    } else {
        if (keepZeros) dithered<Float, false, true>(in, p, first, count, store);
        else dithered<Float, false, false>(in, p, first, count, store);
    }
    return CodecResult::ok;
}

}  // namespace nebulite::codecs::unquantizing
