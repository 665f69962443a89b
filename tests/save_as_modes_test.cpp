// Which documents Save As offers the module for, decided from the built
// module's PiPL as the editor decides it: the enable condition when there is
// one, else the mode flags, which cannot name 32-bit documents.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/pipl.h"
#include "host/save_as_modes.h"
#include "platform/host_sdk.h"

namespace {

using namespace nebulite::host;

PluginInfo builtModule() {
    std::string error;
    auto bytes = readModulePipl(std::string(NEBULITE_BINARY_DIR) + "/Nebulite.so", &error);
    EXPECT_TRUE(bytes) << error;
    auto list = parsePropertyList(bytes.value_or(std::vector<uint8_t>{}), &error);
    EXPECT_TRUE(list) << error;
    return list ? decodePluginInfo(*list) : PluginInfo{};
}

struct DocumentCase {
    int16_t mode;
    int16_t depth;
    const char* name;
    bool offered;
};

TEST(SaveAsModes, TheModuleIsOfferedForEveryDocumentItSaves) {
    const PluginInfo info = builtModule();
    const DocumentCase cases[] = {
        {plugInModeBitmap, 1, "BitmapMode", true},
        {plugInModeGrayScale, 8, "GrayScaleMode", true},
        {plugInModeIndexedColor, 8, "IndexedMode", true},
        {plugInModeRGBColor, 8, "RGBMode", true},
        {plugInModeLabColor, 8, "LabMode", true},
        {plugInModeGrayScale, 16, "Gray16Mode", true},
        {plugInModeGray16, 16, "Gray16Mode", true},
        {plugInModeRGBColor, 16, "RGB48Mode", true},
        {plugInModeCMYKColor, 16, "CMYK64Mode", true},
        {plugInModeMultichannel, 16, "DeepMultichannelMode", true},
        {plugInModeGrayScale, 32, "Gray32Mode", true},
        {plugInModeRGBColor, 32, "RGB96Mode", true},
        // 32 bits are grey and RGB only; the editor has no other.
        {plugInModeCMYKColor, 32, "", false},
        {plugInModeHSLColor, 16, "", false},
    };
    for (const DocumentCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " at " + std::to_string(c.depth) + " bits");
        EXPECT_EQ(enableModeName(c.mode, c.depth), c.name);
        EXPECT_EQ(offersSaveAs(info, enableModeName(c.mode, c.depth)), c.offered);
    }
}

struct ConditionCase {
    const char* condition;  // null: no enable condition, the mode flags decide
    bool gray8, gray16, gray32, rgb96;
};

TEST(SaveAsModes, ConditionsAndFlagsAsTheEditorReadsThem) {
    const ConditionCase cases[] = {
        {"true", true, true, true, true},
        {"in (PSHOP_ImageMode, GrayScaleMode, Gray16Mode, Gray32Mode)", true, true, true, false},
        {"  in(PSHOP_ImageMode,RGB96Mode )", false, false, false, true},
        // Forms this host does not evaluate offer nothing.
        {"in (GrayScaleMode, Gray32Mode)", false, false, false, false},
        {"in (PSHOP_ImageMode, Gray32Mode", false, false, false, false},
        {"in (PSHOP_ImageMode, Gray32Mode,)", false, false, false, false},
        {"PSHOP_ImageMode == Gray32Mode", false, false, false, false},
        // The flags name 8- and 16-bit modes only.
        {nullptr, true, true, false, false},
    };
    for (const ConditionCase& c : cases) {
        SCOPED_TRACE(c.condition ? c.condition : "(mode flags)");
        PluginInfo info;
        info.modes = std::vector<std::string>{"Grayscale", "RGB", "Gray16", "RGB48"};
        if (c.condition) info.enableCondition = c.condition;
        EXPECT_EQ(offersSaveAs(info, "GrayScaleMode"), c.gray8);
        EXPECT_EQ(offersSaveAs(info, "Gray16Mode"), c.gray16);
        EXPECT_EQ(offersSaveAs(info, "Gray32Mode"), c.gray32);
        EXPECT_EQ(offersSaveAs(info, "RGB96Mode"), c.rgb96);
    }
}

}  // namespace
