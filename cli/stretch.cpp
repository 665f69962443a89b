#include "cli/stretch.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

namespace nebulite::cli {

namespace {

// The log curve's strength: log(1 + a x) / log(1 + a), as ds9 draws it.
constexpr double kLogStrength = 1000.0;
// asinh(x / s) / asinh(1 / s): linear for x well below s, logarithmic above.
constexpr double kAsinhSoftening = 0.1;

// How many samples of each value: the host's samples are at most 32768, so
// the whole distribution fits in a table and every percentile is exact.
std::vector<uint64_t> histogram(const host::Image& image) {
    std::vector<uint64_t> counts(size_t{image.maxSample()} + 1, 0);
    if (image.depth == 16) {
        for (uint16_t v : image.wide) ++counts[v < counts.size() ? v : counts.size() - 1];
    } else {
        for (uint8_t v : image.narrow) ++counts[v];
    }
    return counts;
}

// The smallest value with at least `wanted` samples at or below it.
uint32_t lowestWith(const std::vector<uint64_t>& counts, uint64_t wanted) {
    uint64_t seen = 0;
    for (size_t v = 0; v < counts.size(); ++v) {
        seen += counts[v];
        if (seen >= wanted) return static_cast<uint32_t>(v);
    }
    return static_cast<uint32_t>(counts.size() - 1);
}

// The largest value with at least `wanted` samples at or above it.
uint32_t highestWith(const std::vector<uint64_t>& counts, uint64_t wanted) {
    uint64_t seen = 0;
    for (size_t v = counts.size(); v-- > 0;) {
        seen += counts[v];
        if (seen >= wanted) return static_cast<uint32_t>(v);
    }
    return 0;
}

}  // namespace

std::optional<Stretch> stretchNamed(std::string_view name) {
    for (size_t i = 0; i < std::size(kStretchNames); ++i)
        if (kStretchNames[i] == name) return static_cast<Stretch>(i);
    return std::nullopt;
}

StretchRange stretchRange(const host::Image& image) {
    std::vector<uint64_t> counts = histogram(image);
    // The two ends of the host's range are where the module clips, and 0 is
    // also what blank pixels (BLANK, NaN) become: a frame with a blank
    // border would otherwise have its black point in the border, not the
    // sky. They count only when nothing else is there.
    std::vector<uint64_t> inside = counts;
    inside.front() = 0;
    inside.back() = 0;
    uint64_t total = 0;
    for (uint64_t n : inside) total += n;
    if (total != 0) {
        counts.swap(inside);
    } else {
        for (uint64_t n : counts) total += n;
    }
    if (total == 0) return {};
    // Integer arithmetic: the tails of a ramp of 1200 samples are 3 samples,
    // not the 4 that 0.0025 * 1200 rounds up to in floating point.
    uint64_t tail = std::max<uint64_t>(1, (total * kTailPerTenThousand + 9999) / 10000);
    StretchRange range;
    range.black = lowestWith(counts, tail);
    range.white = highestWith(counts, tail);
    if (range.white <= range.black) {
        for (size_t v = counts.size(); v-- > 0;)
            if (counts[v] != 0) {
                range.white = static_cast<uint32_t>(v);
                break;
            }
    }
    return range;
}

double stretchCurve(Stretch stretch, double x) {
    x = std::clamp(x, 0.0, 1.0);
    switch (stretch) {
        case Stretch::linear: return x;
        case Stretch::sqrt: return std::sqrt(x);
        case Stretch::log: return std::log1p(kLogStrength * x) / std::log1p(kLogStrength);
        case Stretch::asinh: return std::asinh(x / kAsinhSoftening) / std::asinh(1.0 / kAsinhSoftening);
    }
    return x;
}

host::Image stretchPreview(const host::Image& image, Stretch stretch) {
    StretchRange range = stretchRange(image);
    // Every value the image can hold, mapped once.
    std::vector<uint8_t> table(size_t{image.maxSample()} + 1, 0);
    for (size_t v = 0; v < table.size(); ++v) {
        if (v <= range.black) continue;
        if (range.white <= range.black || v >= range.white) {
            table[v] = 255;
            continue;
        }
        double x = static_cast<double>(v - range.black) / static_cast<double>(range.white - range.black);
        table[v] = static_cast<uint8_t>(std::lround(255.0 * stretchCurve(stretch, x)));
    }
    host::Image preview;
    preview.rows = image.rows;
    preview.columns = image.columns;
    preview.planes = image.planes;
    preview.mode = image.mode;
    preview.depth = 8;
    preview.allocate();
    if (image.depth == 16) {
        for (size_t i = 0; i < image.wide.size(); ++i)
            preview.narrow[i] = table[image.wide[i] < table.size() ? image.wide[i] : table.size() - 1];
    } else {
        for (size_t i = 0; i < image.narrow.size(); ++i) preview.narrow[i] = table[image.narrow[i]];
    }
    return preview;
}

}  // namespace nebulite::cli
