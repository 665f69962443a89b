// Unquantizing. The stream is the tile's integers (4 bytes each, big-endian);
// the tail: dither method, ZDITHER0 (16 bits), tile row (32 bits), null
// value flag, float width, ZSCALE and ZZERO (8 bytes each). Besides memory
// safety: nulls become NaN and dither-2 zeros exactly 0, whatever the rest.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "codecs/big_endian.h"
#include "codecs/quantize.h"
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
    if (wide) {
        r = unquantize(ints, p, std::span<double>(values));
    } else {
        std::vector<float> f(n);
        r = unquantize(ints, p, std::span<float>(f));
        for (size_t i = 0; i < n; ++i) values[i] = f[i];
    }
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
