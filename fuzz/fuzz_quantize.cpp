// Unquantizing. The stream is the tile's integers (4 bytes each, big-endian);
// the tail: dither method, ZDITHER0 (16 bits), tile row (32 bits), null
// value flag, float width, ZSCALE and ZZERO (8 bytes each). Besides memory
// safety: nulls become NaN and dither-2 zeros exactly 0, whatever the rest;
// unquantizeBigEndian stores exactly unquantize's bits; unquantizedRange of
// a part of the tile (picked by the null value's bytes) is the smallest and
// largest finite value unquantize gave that part.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "codecs/big_endian.h"
#include "codecs/quantize.h"
#include "codecs/unquantize_range.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 25, in)) return 0;
    const uint8_t* t = in.tail;
    Unquantize p;
    p.dither = static_cast<Dither>(t[0] % 3);
    p.ditherSeed = static_cast<int64_t>(codec_fuzz::tailU16(t + 1)) - 100;
    p.tileRow = loadBE32(t + 3);
    p.hasNull = (t[7] & 1) != 0;
    const bool wide = (t[7] & 2) != 0;
    std::memcpy(&p.scale, t + 8, 8);
    std::memcpy(&p.zero, t + 16, 8);
    const size_t n = std::min(in.stream.size() / 4, codec_fuzz::kMaxFuzzPixels);
    std::vector<int32_t> ints(n);
    for (size_t i = 0; i < n; ++i) ints[i] = static_cast<int32_t>(loadBE32(in.stream.data() + 4 * i));
    p.nullValue = n > 0 ? ints[0] : 0;

    std::vector<double> values(n);
    CodecResult r;
    const size_t width = wide ? 8 : 4;
    std::vector<uint8_t> bits(n * width);
    if (wide) {
        r = unquantize(ints, p, std::span<double>(values));
    } else {
        std::vector<float> f(n);
        r = unquantize(ints, p, std::span<float>(f));
        for (size_t i = 0; i < n; ++i) {
            values[i] = f[i];
            // The float's own bits, which widening to double may not keep (a NaN's payload).
            storeBE32(bits.data() + 4 * i, std::bit_cast<uint32_t>(f[i]));
        }
    }
    if (wide)
        for (size_t i = 0; i < n; ++i) storeBE64(bits.data() + 8 * i, std::bit_cast<uint64_t>(values[i]));
    std::vector<uint8_t> stored(n * width);
    CODEC_CHECK(unquantizeBigEndian(ints, p, width, stored) == r);
    if (r == CodecResult::ok) CODEC_CHECK(stored == bits);

    // The range of a part of the tile: the null value's bytes pick it.
    const auto pick = static_cast<uint32_t>(p.nullValue);
    const size_t first = n == 0 ? 0 : (pick & 0xffffu) % (n + 1);
    const size_t count = n - first == 0 ? 0 : (pick >> 16) % (n - first + 1);
    UnquantizedRange range;
    CODEC_CHECK(unquantizedRange(ints, p, width, first, count, range) == r);
    if (r == CodecResult::ok) {
        bool any = false;
        double low = 0.0, high = 0.0;
        for (size_t i = first; i < first + count; ++i) {
            if (!std::isfinite(values[i])) continue;
            low = any ? std::min(low, values[i]) : values[i];
            high = any ? std::max(high, values[i]) : values[i];
            any = true;
        }
        CODEC_CHECK(range.any == any);
        if (any) CODEC_CHECK(range.low == low && range.high == high);
    }
    CODEC_CHECK(unquantizedRange(ints, p, width, first, n - first + 1, range) == CodecResult::unsupported);
    const bool seedOk = p.ditherSeed >= 1 && p.ditherSeed <= 10000 && p.tileRow != 0;
    if (p.dither != Dither::none && !seedOk) {
        CODEC_CHECK(r == CodecResult::unsupported);
        return 0;
    }
    CODEC_CHECK(r == CodecResult::ok);
    for (size_t i = 0; i < n; ++i) {
        if (p.hasNull && ints[i] == p.nullValue)
            CODEC_CHECK(std::isnan(values[i]));
        else if (p.dither == Dither::subtractive2 && ints[i] == kDitherZeroValue)
            CODEC_CHECK(values[i] == 0.0 && !std::signbit(values[i]));
    }
    return 0;
}
