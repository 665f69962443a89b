// The scripting descriptor's keys: one table of every key the module reads
// and writes, its value type, its enumeration, and the name and line the
// terminology resource shows for it. Codes are "nb" and two more
// characters, one of them a capital: the host's own terminology has no code
// of that shape, and all-lowercase codes are reserved to the system.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "options/four_char_code.h"
#include "options/option_words.h"

namespace nebulite::options {

enum class ValueType : uint8_t { integer, floating, boolean, enumerated, text };

// Which descriptor a key belongs to. Retired keys are the terminology's
// from before there were options: kept so that recorded actions and the
// resource keep their meaning, and read as nothing.
enum class KeyFace : uint8_t { open, save, both, retired };

namespace keys {
inline constexpr FourCharCode image = fourCharCode("nbIm");
inline constexpr FourCharCode extname = fourCharCode("nbXN");
inline constexpr FourCharCode extver = fourCharCode("nbXV");
inline constexpr FourCharCode planes = fourCharCode("nbPl");
inline constexpr FourCharCode plane1 = fourCharCode("nbP1");
inline constexpr FourCharCode plane2 = fourCharCode("nbP2");
inline constexpr FourCharCode plane3 = fourCharCode("nbP3");
inline constexpr FourCharCode orientation = fourCharCode("nbOr");
inline constexpr FourCharCode stretch = fourCharCode("nbSt");
inline constexpr FourCharCode interval = fourCharCode("nbIv");
inline constexpr FourCharCode percent = fourCharCode("nbPr");
inline constexpr FourCharCode black = fourCharCode("nbBk");
inline constexpr FourCharCode white = fourCharCode("nbWh");
inline constexpr FourCharCode midtone = fourCharCode("nbMd");
inline constexpr FourCharCode depth = fourCharCode("nbDp");
inline constexpr FourCharCode debayer = fourCharCode("nbDb");
inline constexpr FourCharCode demosaic = fourCharCode("nbDm");
inline constexpr FourCharCode floatBitpix = fourCharCode("nbFB");
inline constexpr FourCharCode compression = fourCharCode("nbCm");
inline constexpr FourCharCode tileRows = fourCharCode("nbRw");
inline constexpr FourCharCode tileColumns = fourCharCode("nbCl");
inline constexpr FourCharCode quantize = fourCharCode("nbQz");
inline constexpr FourCharCode retiredFoo = fourCharCode("fooB");
inline constexpr FourCharCode retiredBar = fourCharCode("barF");
}  // namespace keys

namespace enumTypes {
inline constexpr FourCharCode planes = fourCharCode("nbTP");
inline constexpr FourCharCode orientation = fourCharCode("nbTO");
inline constexpr FourCharCode stretch = fourCharCode("nbTS");
inline constexpr FourCharCode interval = fourCharCode("nbTI");
inline constexpr FourCharCode depth = fourCharCode("nbTD");
inline constexpr FourCharCode debayer = fourCharCode("nbTB");
inline constexpr FourCharCode demosaic = fourCharCode("nbTM");
inline constexpr FourCharCode floatBitpix = fourCharCode("nbTF");
inline constexpr FourCharCode compression = fourCharCode("nbTC");
}  // namespace enumTypes

// The host's codes for the plain value types, as the terminology names them.
namespace valueTypes {
inline constexpr FourCharCode integer = fourCharCode("long");
inline constexpr FourCharCode floating = fourCharCode("doub");
inline constexpr FourCharCode boolean = fourCharCode("bool");
inline constexpr FourCharCode text = fourCharCode("TEXT");
}  // namespace valueTypes

// The value type of what the host's getKeyProc reports: its plain type
// codes, and for an enumerated key the enumeration's own type code.
constexpr ValueType valueTypeOfHostType(FourCharCode hostType) {
    if (hostType == valueTypes::integer) return ValueType::integer;
    if (hostType == valueTypes::floating) return ValueType::floating;
    if (hostType == valueTypes::boolean) return ValueType::boolean;
    if (hostType == valueTypes::text) return ValueType::text;
    return ValueType::enumerated;
}

struct KeyEntry {
    FourCharCode key;
    ValueType type;
    FourCharCode enumType;  // enumerated keys only
    KeyFace face;
    std::string_view name;
    std::string_view description;
};

inline constexpr std::array<KeyEntry, 24> kDescriptorKeys = {{
    {keys::image, ValueType::integer, 0, KeyFace::open, "image", "HDU number of the image, 0 the primary"},
    {keys::extname, ValueType::text, 0, KeyFace::open, "extension name", "EXTNAME of the image's HDU"},
    {keys::extver, ValueType::integer, 0, KeyFace::open, "extension version", "EXTVER of the image's HDU"},
    {keys::planes, ValueType::enumerated, enumTypes::planes, KeyFace::open, "planes", "which planes of a cube open"},
    {keys::plane1, ValueType::integer, 0, KeyFace::open, "first plane", "plane for grey or red, from 1"},
    {keys::plane2, ValueType::integer, 0, KeyFace::open, "second plane", "plane for green, from 1"},
    {keys::plane3, ValueType::integer, 0, KeyFace::open, "third plane", "plane for blue, from 1"},
    {keys::orientation, ValueType::enumerated, enumTypes::orientation, KeyFace::both, "orientation",
     "which row is at the top"},
    {keys::stretch, ValueType::enumerated, enumTypes::stretch, KeyFace::open, "stretch",
     "how samples become 8- or 16-bit levels"},
    {keys::interval, ValueType::enumerated, enumTypes::interval, KeyFace::open, "interval",
     "the values the stretch runs from black to white"},
    {keys::percent, ValueType::floating, 0, KeyFace::open, "central percentage", "values kept between black and white"},
    {keys::black, ValueType::floating, 0, KeyFace::open, "black point", "physical value shown black"},
    {keys::white, ValueType::floating, 0, KeyFace::open, "white point", "physical value shown white"},
    {keys::midtone, ValueType::floating, 0, KeyFace::open, "midtones balance", "mtf's midtones balance, 0 to 1"},
    {keys::depth, ValueType::enumerated, enumTypes::depth, KeyFace::open, "depth", "bits per channel of the document"},
    {keys::debayer, ValueType::enumerated, enumTypes::debayer, KeyFace::open, "debayer",
     "colour-filter pattern to demosaic"},
    {keys::demosaic, ValueType::enumerated, enumTypes::demosaic, KeyFace::open, "demosaic method",
     "how missing colours are found"},
    {keys::floatBitpix, ValueType::enumerated, enumTypes::floatBitpix, KeyFace::save, "floating point bitpix",
     "BITPIX of a 32-bit document"},
    {keys::compression, ValueType::enumerated, enumTypes::compression, KeyFace::save, "compression",
     "tile compression of the image"},
    {keys::tileRows, ValueType::integer, 0, KeyFace::save, "tile rows", "rows of a compression tile"},
    {keys::tileColumns, ValueType::integer, 0, KeyFace::save, "tile columns", "columns of a compression tile"},
    {keys::quantize, ValueType::floating, 0, KeyFace::save, "quantize level", "floating-point quantization, 0 exact"},
    {keys::retiredFoo, ValueType::boolean, 0, KeyFace::retired, "foo", "foobar"},
    {keys::retiredBar, ValueType::boolean, 0, KeyFace::retired, "bar", "foobar"},
}};

// One enumeration of the terminology: its type code and its values.
struct EnumValueEntry {
    FourCharCode code;
    std::string_view name;
    std::string_view description;
};

template <typename Enum, std::size_t N>
constexpr std::array<EnumValueEntry, N> enumValues(const std::array<OptionWord<Enum>, N>& words) {
    std::array<EnumValueEntry, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = {words[i].code, words[i].word, words[i].description};
    return out;
}

inline constexpr auto kPlaneValues = enumValues(kPlaneSelectWords);
inline constexpr auto kOrientationValues = enumValues(kOrientationWords);
inline constexpr auto kStretchValues = enumValues(kStretchWords);
inline constexpr auto kIntervalValues = enumValues(kIntervalWords);
inline constexpr auto kDepthValues = enumValues(kDepthWords);
inline constexpr auto kDebayerValues = enumValues(kDebayerWords);
inline constexpr auto kDemosaicValues = enumValues(kDemosaicWords);
inline constexpr auto kFloatBitpixValues = enumValues(kFloatBitpixWords);
inline constexpr auto kCompressionValues = enumValues(kCompressionWords);

struct EnumerationEntry {
    FourCharCode type;
    std::span<const EnumValueEntry> values;
};

inline constexpr std::array<EnumerationEntry, 9> kEnumerations = {{
    {enumTypes::planes, kPlaneValues},
    {enumTypes::orientation, kOrientationValues},
    {enumTypes::stretch, kStretchValues},
    {enumTypes::interval, kIntervalValues},
    {enumTypes::depth, kDepthValues},
    {enumTypes::debayer, kDebayerValues},
    {enumTypes::demosaic, kDemosaicValues},
    {enumTypes::floatBitpix, kFloatBitpixValues},
    {enumTypes::compression, kCompressionValues},
}};

constexpr const KeyEntry* keyEntry(FourCharCode key) {
    for (const KeyEntry& k : kDescriptorKeys)
        if (k.key == key) return &k;
    return nullptr;
}

// The type code the terminology gives a key's property.
constexpr FourCharCode terminologyType(const KeyEntry& k) {
    switch (k.type) {
        case ValueType::integer: return valueTypes::integer;
        case ValueType::floating: return valueTypes::floating;
        case ValueType::boolean: return valueTypes::boolean;
        case ValueType::text: return valueTypes::text;
        case ValueType::enumerated: break;
    }
    return k.enumType;
}

// The keys of one face, zero-terminated, as the host's read procedure wants them.
template <std::size_t N>
constexpr std::array<FourCharCode, N + 1> keysOf(KeyFace face) {
    std::array<FourCharCode, N + 1> out{};
    std::size_t n = 0;
    for (const KeyEntry& k : kDescriptorKeys)
        if ((k.face == face || k.face == KeyFace::both) && n < N) out[n++] = k.key;
    return out;
}

constexpr std::size_t keyCount(KeyFace face) {
    std::size_t n = 0;
    for (const KeyEntry& k : kDescriptorKeys)
        if (k.face == face || k.face == KeyFace::both) ++n;
    return n;
}

inline constexpr auto kOpenReadKeys = keysOf<keyCount(KeyFace::open)>(KeyFace::open);
inline constexpr auto kSaveReadKeys = keysOf<keyCount(KeyFace::save)>(KeyFace::save);

// No code is used twice among keys and enumeration types, every enumerated
// key has its enumeration, and every new code has the module's shape.
constexpr bool keyTableIsSound() {
    std::array<FourCharCode, kDescriptorKeys.size() + kEnumerations.size()> codes{};
    std::size_t n = 0;
    for (const KeyEntry& k : kDescriptorKeys) codes[n++] = k.key;
    for (const EnumerationEntry& e : kEnumerations) codes[n++] = e.type;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (codes[i] == codes[j]) return false;
    for (const KeyEntry& k : kDescriptorKeys) {
        bool found = k.type != ValueType::enumerated;
        for (const EnumerationEntry& e : kEnumerations) found = found || e.type == k.enumType;
        if (!found) return false;
        if (k.face != KeyFace::retired && (k.key >> 16) != (FourCharCode{'n'} << 8 | 'b')) return false;
    }
    return true;
}
static_assert(keyTableIsSound());

}  // namespace nebulite::options
