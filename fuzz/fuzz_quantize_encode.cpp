// Quantizing float tiles. The stream is the tile's values (big-endian
// float or double bit patterns, so NaN, infinities, denormals and extremes
// all occur); tail: width and dither, ZDITHER0 and tile row (16 bits each),
// the level q (a float's bits, or one of fpack's usual levels), the row
// length. Checks: bad seeds and rows are refused; a quantized tile decodes
// (through unquantize) to within half its step of every input, allowing for
// double rounding; NaN stays NaN and only NaN becomes NaN; dither-2 zeros
// come back exactly 0.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "codecs/big_endian.h"
#include "codecs/quantize.h"
#include "codecs/quantize_encode.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

namespace {

constexpr float kUsualLevels[8] = {4.0f, 16.0f, 0.0f, 1.0f, -0.5f, -1e-3f, 0.25f, -100.0f};

template <typename T>
void check(std::span<const uint8_t> stream, const QuantizeParams& p, size_t columnsWanted) {
    const std::vector<T> tile = codec_fuzz::elementsOf<T>(stream);
    const size_t columns = std::min(std::max<size_t>(columnsWanted, 1), std::max<size_t>(tile.size(), 1));
    const size_t rows = tile.size() / columns;
    const size_t n = columns * rows;
    const std::span<const T> in(tile.data(), n);
    std::vector<int32_t> ints(n);
    std::vector<uint8_t> scratch(quantizeScratchBytes(columns, rows, sizeof(T)));
    const Quantized q = quantize(in, columns, rows, p, ints, scratch);
    const bool dither = p.dither != Dither::none;
    if (dither && (p.ditherSeed < 1 || p.ditherSeed > 10000 || p.tileRow == 0)) {
        CODEC_CHECK(q.result == CodecResult::unsupported);
        return;
    }
    CODEC_CHECK(q.result == CodecResult::ok);
    bool anyNaN = false;
    for (const T x : in) anyNaN = anyNaN || std::isnan(x);
    if (!q.quantized) return;
    CODEC_CHECK(q.anyNull == anyNaN);
    CODEC_CHECK(std::isfinite(q.scale) && q.scale > 0 && std::isfinite(q.zero));

    Unquantize u;
    u.scale = q.scale;
    u.zero = q.zero;
    u.dither = p.dither;
    u.hasNull = q.anyNull;
    u.nullValue = kQuantizeNullValue;
    u.ditherSeed = p.ditherSeed;
    u.tileRow = p.tileRow;
    std::vector<double> back(n);
    CODEC_CHECK(unquantize(ints, u, std::span<double>(back)) == CodecResult::ok);
    for (size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(in[i]);
        CODEC_CHECK(std::isnan(back[i]) == std::isnan(x));
        if (std::isnan(x)) continue;
        if (p.dither == Dither::subtractive2 && x == 0.0) {
            CODEC_CHECK(back[i] == 0.0);
            continue;
        }
        // Half a step, and the double rounding of forming and undoing it.
        const double tolerance = q.scale * (0.5 + 1e-5) + 1e-14 * (std::fabs(q.zero) + std::fabs(x));
        CODEC_CHECK(std::fabs(back[i] - x) <= tolerance);
    }
    // The float road gives the same values, rounded to the tile's width.
    std::vector<T> narrow(n);
    CODEC_CHECK(unquantize(ints, u, std::span<T>(narrow)) == CodecResult::ok);
    for (size_t i = 0; i < n; ++i)
        CODEC_CHECK(std::isnan(back[i]) ? std::isnan(narrow[i]) : narrow[i] == static_cast<T>(back[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 11, in)) return 0;
    const uint8_t* t = in.tail;
    QuantizeParams p;
    const bool wide = (t[0] & 1) != 0;
    p.dither = static_cast<Dither>((t[0] >> 1) % 3);
    p.ditherSeed = static_cast<int64_t>(codec_fuzz::tailU16(t + 1) % 10002);
    p.tileRow = codec_fuzz::tailU16(t + 3);
    if ((t[0] & 0x80) != 0) {
        const uint32_t bits = loadBE32(t + 5);
        std::memcpy(&p.level, &bits, 4);
    } else {
        p.level = kUsualLevels[t[5] % 8];
    }
    const size_t columns = codec_fuzz::tailU16(t + 9);
    if (wide)
        check<double>(in.stream, p, columns);
    else
        check<float>(in.stream, p, columns);
    return 0;
}
