#include "host/save_as_modes.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "platform/host_sdk.h"

namespace nebulite::host {

namespace {

// The enable condition's names of the modes, by mode number at 8 bits, and
// the 16-bit ones the editor has (empty where it has none).
constexpr std::array<std::string_view, 10> kEightBitNames = {
    "BitmapMode", "GrayScaleMode", "IndexedMode", "RGBMode",          "CMYKMode",
    "HSLMode",    "HSBMode",       "MultichannelMode", "DuotoneMode", "LabMode"};
constexpr std::array<std::string_view, 10> kSixteenBitNames = {
    "",         "Gray16Mode", "",         "RGB48Mode",            "CMYK64Mode",
    "",         "",           "DeepMultichannelMode", "Duotone16Mode", "Lab48Mode"};
// The mode flags' names (kPiplModeNames) in the enable condition's words.
constexpr std::array<std::string_view, 12> kFlagModeNames = {
    "BitmapMode", "GrayScaleMode", "IndexedMode",      "RGBMode",     "CMYKMode",   "HSLMode",
    "HSBMode",    "MultichannelMode", "DuotoneMode",   "LabMode",     "Gray16Mode", "RGB48Mode"};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool identifier(std::string_view word) {
    if (word.empty() || std::isdigit(static_cast<unsigned char>(word.front()))) return false;
    return std::all_of(word.begin(), word.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

}  // namespace

std::optional<EnabledModes> enabledModes(std::string_view condition) {
    condition = trimmed(condition);
    if (condition == "true") return EnabledModes{true, {}};
    if (condition.substr(0, 2) != "in") return std::nullopt;
    std::string_view rest = trimmed(condition.substr(2));
    if (rest.size() < 2 || rest.front() != '(' || rest.back() != ')') return std::nullopt;
    rest = rest.substr(1, rest.size() - 2);
    std::vector<std::string> words;
    for (size_t from = 0;;) {
        size_t comma = rest.find(',', from);
        std::string_view word = trimmed(rest.substr(from, comma == std::string_view::npos ? comma : comma - from));
        if (!identifier(word)) return std::nullopt;
        words.emplace_back(word);
        if (comma == std::string_view::npos) break;
        from = comma + 1;
    }
    if (words.front() != "PSHOP_ImageMode") return std::nullopt;
    words.erase(words.begin());
    return EnabledModes{false, std::move(words)};
}

std::string enableModeName(int16_t mode, int16_t depth) {
    if (mode == plugInModeGray16 || mode == plugInModeRGB48) {
        mode = mode == plugInModeGray16 ? plugInModeGrayScale : plugInModeRGBColor;
        depth = 16;
    }
    if (mode < 0 || static_cast<size_t>(mode) >= kEightBitNames.size()) return "";
    const auto at = static_cast<size_t>(mode);
    switch (depth) {
        case 1:
        case 8: return std::string(kEightBitNames[at]);
        case 16: return std::string(kSixteenBitNames[at]);
        case 32:
            if (mode == plugInModeGrayScale) return "Gray32Mode";
            if (mode == plugInModeRGBColor) return "RGB96Mode";
            return "";
        default: return "";
    }
}

bool offersSaveAs(const PluginInfo& info, std::string_view enableMode) {
    if (enableMode.empty()) return false;
    if (info.enableCondition) {
        auto modes = enabledModes(*info.enableCondition);
        if (!modes) return false;
        return modes->every || std::find(modes->named.begin(), modes->named.end(), enableMode) != modes->named.end();
    }
    if (!info.modes) return false;
    for (const std::string& flag : *info.modes) {
        auto named = std::find(std::begin(kPiplModeNames), std::end(kPiplModeNames), flag);
        if (named != std::end(kPiplModeNames) &&
            kFlagModeNames[static_cast<size_t>(named - std::begin(kPiplModeNames))] == enableMode)
            return true;
    }
    return false;
}

}  // namespace nebulite::host
