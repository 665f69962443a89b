#include "codecs/unquantize_range.h"

#include <cmath>
#include <limits>

#include "codecs/dither_walk.h"
#include "codecs/unquantize_kernel.h"

namespace nebulite::codecs {

namespace {

using namespace unquantizing;

// The smallest and largest integer of the pixels that unquantize to a
// number of their own (not nulls, not dithered zeros), and whether a
// dithered zero is among them.
struct Extremes {
    int32_t low = std::numeric_limits<int32_t>::max();
    int32_t high = std::numeric_limits<int32_t>::min();
    bool zeroMark = false;
    bool any() const { return low <= high; }
};

// Selects rather than branches, with the tests fixed per loop, so that the
// loop vectorises.
template <bool kNull, bool kZeros>
Extremes extremesOf(std::span<const int32_t> in, int32_t nullValue) {
    int32_t low = std::numeric_limits<int32_t>::max();
    int32_t high = std::numeric_limits<int32_t>::min();
    uint32_t zeroMarks = 0;
    for (const int32_t v : in) {
        uint32_t own = 1;
        if constexpr (kNull) own = static_cast<uint32_t>(v != nullValue);
        if constexpr (kZeros) {
            const auto mark = static_cast<uint32_t>(v == kDitherZeroValue);
            zeroMarks |= own & mark;
            own &= mark ^ 1u;
        }
        // All ones for a pixel of its own, all zeros for the others, which
        // then count as the largest integer for the low end and the smallest
        // for the high one.
        const uint32_t keep = 0u - own;
        const auto bits = static_cast<uint32_t>(v);
        low = std::min(low, static_cast<int32_t>((bits & keep) | (0x7FFFFFFFu & ~keep)));
        high = std::max(high, static_cast<int32_t>((bits & keep) | (0x80000000u & ~keep)));
    }
    return {low, high, zeroMarks != 0};
}

Extremes extremesOf(std::span<const int32_t> in, const Unquantize& p) {
    const bool zeros = p.dither == Dither::subtractive2;
    if (p.hasNull) return zeros ? extremesOf<true, true>(in, p.nullValue) : extremesOf<true, false>(in, p.nullValue);
    return zeros ? extremesOf<false, true>(in, p.nullValue) : extremesOf<false, false>(in, p.nullValue);
}

// Finite values seen, and whether a value seen was not finite.
struct Seen {
    UnquantizedRange range;
    bool notFinite = false;

    void add(double v) {
        if (!std::isfinite(v)) {
            notFinite = true;
            return;
        }
        if (!range.any) {
            range = {true, v, v};
            return;
        }
        range.low = std::min(range.low, v);
        range.high = std::max(range.high, v);
    }
};

// Whether any of `count` integers is `low` or `high`: a loop that
// vectorises, so that blocks without an extreme cost little.
bool holdsEither(const int32_t* in, size_t count, int32_t low, int32_t high) {
    uint32_t any = 0;
    for (size_t k = 0; k < count; ++k)
        any |= static_cast<uint32_t>(in[k] == low) | static_cast<uint32_t>(in[k] == high);
    return any != 0;
}

// The values of the pixels of [first, first + count) whose integer is `low`
// or `high`, each through the arithmetic of unquantize, found a block at a
// time; the dither walk keeps up with the blocks.
template <typename Float>
void candidates(std::span<const int32_t> in, const Unquantize& p, size_t first, size_t count, int32_t low,
                int32_t high, Seen& seen) {
    constexpr size_t kBlock = 64;
    const bool dithered = p.dither != Dither::none;
    // Without dither the walk is not used; its arguments need only be valid.
    DitherWalk walk(dithered ? p.ditherSeed : 1, dithered ? p.tileRow : 1);
    walk.skip(first);
    const size_t end = first + count;
    for (size_t at = first; at < end; at += kBlock) {
        const size_t m = std::min(kBlock, end - at);
        if (holdsEither(in.data() + at, m, low, high)) {
            for (size_t k = 0; k < m; ++k) {
                const int32_t v = in[at + k];
                if (v != low && v != high) continue;
                if (!dithered) {
                    seen.add(plainValue<Float>(v, p.scale, p.zero));
                    continue;
                }
                DitherWalk here = walk;
                here.skip(k);
                seen.add(ditheredValue<Float>(v, *here.entries(), p.scale, p.zero));
            }
        }
        walk.skip(m);
    }
}

// Every pixel's value, for when the candidates prove nothing.
template <typename Float>
struct ToSeen {
    Seen& seen;
    void operator()(size_t, const FloatBits<Float>* bits, size_t count) {
        for (size_t k = 0; k < count; ++k) seen.add(static_cast<double>(std::bit_cast<Float>(bits[k])));
    }
};

template <typename Float>
CodecResult rangeOf(std::span<const int32_t> in, const Unquantize& p, size_t first, size_t count,
                    UnquantizedRange& range) {
    const Extremes e = extremesOf(in.subspan(first, count), p);
    Seen seen;
    if (e.zeroMark) seen.add(0.0);
    if (e.any()) candidates<Float>(in, p, first, count, e.low, e.high, seen);
    if (seen.notFinite) {
        seen = Seen{};
        const CodecResult r = unquantizeInto<Float>(in, p, first, count, ToSeen<Float>{seen});
        if (r != CodecResult::ok) return r;
    }
    range = seen.range;
    return CodecResult::ok;
}

}  // namespace

CodecResult unquantizedRange(std::span<const int32_t> in, const Unquantize& p, size_t floatBytes, size_t first,
                             size_t count, UnquantizedRange& range) {
    range = UnquantizedRange{};
    if ((floatBytes != 4 && floatBytes != 8) || first > in.size() || count > in.size() - first ||
        !unquantizable(p))
        return CodecResult::unsupported;
    if (floatBytes == 4) return rangeOf<float>(in, p, first, count, range);
    return rangeOf<double>(in, p, first, count, range);
}

}  // namespace nebulite::codecs
