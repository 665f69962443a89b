// `open --stretch`: an 8-bit preview of what the host received, for looking
// at linear data whose signal sits at the bottom of the range. The black and
// white points come from the image itself (the 0.25th and 99.75th
// percentiles of all its samples), then a curve maps the range between them
// onto 0..255. The samples the module handed over are not changed; only the
// preview is.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "host/document.h"

namespace nebulite::cli {

enum class Stretch { linear, sqrt, log, asinh };

inline constexpr std::string_view kStretchNames[] = {"linear", "sqrt", "log", "asinh"};
std::optional<Stretch> stretchNamed(std::string_view name);

// The share of the samples at or beyond each point, in ten-thousandths:
// the black point is the smallest value with at least 0.25% of the samples
// at or below it, the white point the largest with 0.25% at or above it.
inline constexpr uint64_t kTailPerTenThousand = 25;

struct StretchRange {
    uint32_t black = 0;
    uint32_t white = 0;  // above black, unless every sample is the same
};

// Over all planes together, so that a colour image keeps its balance, and
// leaving out samples at either end of the host's range (clipped, or blank
// pixels at 0) unless there is nothing else. When the percentiles meet
// (most samples alike), the white point is the largest sample instead.
StretchRange stretchRange(const host::Image& image);

// The curve on 0..1 (x = 0 at the black point, 1 at the white), onto 0..1.
double stretchCurve(Stretch stretch, double x);

// An 8-bit image of the same size and planes.
host::Image stretchPreview(const host::Image& image, Stretch stretch);

}  // namespace nebulite::cli
