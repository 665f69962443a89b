// The host's view of a module before it runs any of it: the plug-in property
// list (PiPL) read from the library file, decoded, and the search of a
// folder for the module that claims a file type.
//
// On Windows the PiPL is the resource PIPL 16000 (read with the library
// mapped as data); on POSIX systems it is the ELF section .pipl, read
// from the file. Either way no code of the module runs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nebulite::host {

// A four-character code as stored: a 32-bit integer, first character in the
// high byte, written little-endian.
std::string fourCharCode(uint32_t code);
constexpr uint32_t makeCode(const char (&text)[5]) {
    return uint32_t{static_cast<uint8_t>(text[0])} << 24 |
           uint32_t{static_cast<uint8_t>(text[1])} << 16 |
           uint32_t{static_cast<uint8_t>(text[2])} << 8 | uint32_t{static_cast<uint8_t>(text[3])};
}

struct PiplProperty {
    uint32_t vendor = 0;
    uint32_t key = 0;
    int32_t id = 0;
    std::vector<uint8_t> data;  // propertyLength bytes, without the padding
};

// The version of the property list layout hosts read today.
constexpr int32_t kPropertyListVersion = 0;

// The property that names the entry point of code for this host's own
// architecture, the only one it calls: '8664' for x86-64, 'wx86' for x86.
inline constexpr uint32_t kOwnCodeProperty = sizeof(void*) == 8 ? makeCode("8664") : makeCode("wx86");

struct PropertyList {
    int16_t reserved = 1;
    int32_t version = kPropertyListVersion;
    std::vector<PiplProperty> properties;

    // The first property with this vendor and key, or null.
    const PiplProperty* find(uint32_t key, uint32_t vendor = makeCode("8BIM")) const;
};

// Null, with `error` set, when the bytes are not a whole property list:
// another header, a count that does not match, a length that runs past the
// end, non-zero padding or bytes after the last property.
std::optional<PropertyList> parsePropertyList(std::span<const uint8_t> bytes, std::string* error);

// The host's image modes in the order the `mode` bits and `mxch` follow.
inline constexpr std::string_view kPiplModeNames[] = {
    "Bitmap", "Grayscale", "Indexed", "RGB",     "CMYK",  "HSL",
    "HSB",    "Multichannel", "Duotone", "Lab", "Gray16", "RGB48"};
inline constexpr std::string_view kFormatFlagNames[] = {
    "reads all types", "saves image resources", "can read", "can write", "can write if read"};

struct Terminology {
    int32_t version = 0;
    uint32_t classId = 0;
    uint32_t eventId = 0;
    int16_t resourceId = 0;
    std::string scope;
};

// What a format module says about itself, decoded from its property list.
// Properties it does not have stay empty.
struct PluginInfo {
    std::optional<uint32_t> kind;
    std::optional<std::string> name;
    std::optional<uint32_t> version;  // major in the high 16 bits
    // The entry point this host calls: the one under kOwnCodeProperty.
    std::optional<std::string> entryPoint;
    // Every code property the module has, in its order: key and entry point.
    std::vector<std::pair<uint32_t, std::string>> codeProperties;
    std::optional<Terminology> terminology;
    std::optional<std::vector<std::string>> modes;  // the modes whose flag is set
    std::optional<std::string> enableCondition;
    std::optional<std::pair<uint32_t, uint32_t>> fileTypeCreator;      // fmTC
    std::optional<std::vector<std::pair<uint32_t, uint32_t>>> fileTypes;  // fftT
    // Extension codes as the editor reads them: each a 32-bit little-endian
    // integer whose high byte is the first character, blanks at either end
    // dropped.
    std::optional<std::vector<std::string>> readExtensions;      // RdEx
    std::optional<std::vector<std::string>> writeExtensions;     // WrEx
    std::optional<std::vector<std::string>> filteredExtensions;  // fftE: offered through FilterFile
    std::optional<uint8_t> formatFlagBits;
    std::optional<std::vector<std::string>> formatFlags;  // the flags set
    std::optional<std::pair<int16_t, int16_t>> maxSize;   // rows, columns
    std::optional<std::pair<int32_t, int32_t>> maxSize32; // ms32: rows, columns with 32-bit geometry
    std::optional<int32_t> fileSizeLimitGB;               // fslm
    std::optional<std::vector<int16_t>> maxChannels;      // by mode, in host order
    std::vector<std::string> problems;                    // malformed properties

    // A format module ('8BIF') that reads files with this extension
    // (case-insensitive), directly or through FilterFile.
    bool claimsExtension(std::string_view extension) const;
};

PluginInfo decodePluginInfo(const PropertyList& list);

// The listing `nebulite modules` prints for one module.
std::string describePluginInfo(const PluginInfo& info);

// The raw bytes of section `name` of an ELF file, or null (with `error` set
// when the file is not ELF or is malformed; left empty when the file is ELF
// and has no such section).
std::optional<std::vector<uint8_t>> readElfSection(const std::string& path, std::string_view name,
                                                   std::string* error);

// The module file's property list bytes: the .pipl section on POSIX
// systems, the PIPL 16000 resource on Windows.
std::optional<std::vector<uint8_t>> readModulePipl(const std::string& path, std::string* error);

struct ModuleListing {
    std::string path;
    PluginInfo info;
};

// The module files in `dir` (*.so on POSIX systems, *.8bi on Windows) that
// carry a property list, by file name. Files without one are left out.
std::vector<ModuleListing> findModules(const std::string& dir);

// The first module in `dir` that claims FITS files, or null.
std::optional<ModuleListing> findFitsModule(const std::string& dir);

}  // namespace nebulite::host
