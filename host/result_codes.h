// Names for the numbers the module and the host exchange: result codes,
// selectors and image modes. One table each, shared by the CLI (which prints
// them) and the tests (which print them in failure messages).
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/host_sdk.h"

namespace nebulite::host {

struct CodeName {
    int16_t code;
    std::string_view name;
};

inline constexpr CodeName kResultCodes[] = {
    {noErr, "noErr"},
    {readErr, "readErr"},
    {writErr, "writErr"},
    {eofErr, "eofErr"},
    {memFullErr, "memFullErr"},
    {userCanceledErr, "userCanceledErr"},
    {paramErr, "paramErr"},
    {coercedParamErr, "coercedParamErr"},
    {errAECoercionFail, "errAECoercionFail"},
    {errMissingParameter, "errMissingParameter"},
    {formatBadParameters, "formatBadParameters"},
    {formatCannotRead, "formatCannotRead"},
    {errReportString, "errReportString"},
};

inline constexpr std::string_view kSelectorNames[] = {
    "About",          "ReadPrepare",     "ReadStart",        "ReadContinue",
    "ReadFinish",     "OptionsPrepare",  "OptionsStart",     "OptionsContinue",
    "OptionsFinish",  "EstimatePrepare", "EstimateStart",    "EstimateContinue",
    "EstimateFinish", "WritePrepare",    "WriteStart",       "WriteContinue",
    "WriteFinish",    "FilterFile",
};
static_assert(std::size(kSelectorNames) == formatSelectorFilterFile + 1);

inline constexpr std::string_view kModeNames[] = {
    "Bitmap",      "GrayScale", "IndexedColor", "RGBColor", "CMYKColor",  "HSLColor",
    "HSBColor",    "Multichannel", "Duotone",   "LabColor", "Gray16",
};
static_assert(std::size(kModeNames) == plugInModeGray16 + 1);

// "unknown" for numbers outside the tables: a module may answer anything.
constexpr std::string_view resultName(int code) {
    for (const CodeName& entry : kResultCodes)
        if (entry.code == code) return entry.name;
    return "unknown";
}

constexpr std::string_view selectorName(int selector) {
    if (selector < 0 || selector > formatSelectorFilterFile) return "unknown";
    return kSelectorNames[selector];
}

constexpr std::string_view modeName(int mode) {
    if (mode < 0 || mode > plugInModeGray16) return "unknown";
    return kModeNames[mode];
}

}  // namespace nebulite::host
