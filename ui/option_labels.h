// What the dialogs' drop-down lists show for each enumerated option, in the
// order of the option model's tables (options/option_words.h): entry i of a
// list is value table[i].value. The command line's words are terse; these
// are for reading.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "options/option_words.h"

namespace nebulite::ui {

inline constexpr std::array<std::string_view, 3> kPlaneLabels = {"automatic", "one plane", "three planes"};
inline constexpr std::array<std::string_view, 2> kOrientationLabels = {"as stored", "sky (row 1 at bottom)"};
inline constexpr std::array<std::string_view, 6> kStretchLabels = {"header range", "linear",      "square root",
                                                                   "logarithmic",  "asinh",       "midtones (STF)"};
inline constexpr std::array<std::string_view, 5> kIntervalLabels = {"automatic", "min to max", "zscale",
                                                                    "central percent", "black and white points"};
inline constexpr std::array<std::string_view, 4> kDepthLabels = {"automatic", "8 bits", "16 bits", "32-bit float"};
inline constexpr std::array<std::string_view, 6> kDebayerLabels = {"off", "automatic", "RGGB", "BGGR", "GRBG", "GBRG"};
inline constexpr std::array<std::string_view, 2> kDemosaicLabels = {"bilinear", "quality"};
inline constexpr std::array<std::string_view, 2> kFloatBitpixLabels = {"as the file had", "-32 (float)"};
inline constexpr std::array<std::string_view, 5> kCompressionLabels = {"none", "Rice", "GZIP 1",
                                                                       "GZIP 2 (shuffled)", "HCOMPRESS"};

static_assert(kPlaneLabels.size() == options::kPlaneSelectWords.size() &&
              kOrientationLabels.size() == options::kOrientationWords.size() &&
              kStretchLabels.size() == options::kStretchWords.size() &&
              kIntervalLabels.size() == options::kIntervalWords.size() &&
              kDepthLabels.size() == options::kDepthWords.size() &&
              kDebayerLabels.size() == options::kDebayerWords.size() &&
              kDemosaicLabels.size() == options::kDemosaicWords.size() &&
              kFloatBitpixLabels.size() == options::kFloatBitpixWords.size() &&
              kCompressionLabels.size() == options::kCompressionWords.size());

// A list entry's index for a value, and the value at an index (nothing for
// an index out of the table, as a list without a selection gives -1).
template <typename Enum, std::size_t N>
constexpr int32_t indexOf(const std::array<options::OptionWord<Enum>, N>& table, Enum value) {
    for (std::size_t i = 0; i < N; ++i)
        if (table[i].value == value) return static_cast<int32_t>(i);
    return -1;
}

template <typename Enum, std::size_t N>
constexpr const Enum* valueAt(const std::array<options::OptionWord<Enum>, N>& table, int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= N) return nullptr;
    return &table[static_cast<std::size_t>(index)].value;
}

}  // namespace nebulite::ui
