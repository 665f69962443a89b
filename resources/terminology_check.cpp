// The terminology resource is written from resources/definition.py; the keys
// the module reads and writes are the option model's table
// (options/descriptor_keys.h). This file holds the two to each other when the
// module is built: a property or an enumeration value that one has and the
// other has not, or has with another name, type or description, stops the
// build here. Nothing in it ends up in the module.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "options/descriptor_keys.h"

namespace nebulite::resources_check {

using options::FourCharCode;

struct TerminologyProperty {
    std::string_view name;
    FourCharCode key;
    FourCharCode type;
    std::string_view description;
    uint16_t flags;
};

struct TerminologyValue {
    FourCharCode enumeration;
    std::string_view name;
    FourCharCode code;
    std::string_view description;
};

#include "terminology_table.inc"

// The host's flags for a single read-write property, and for one whose value
// is taken from an enumeration.
inline constexpr uint16_t kFlagsSingle = 0x1000;
inline constexpr uint16_t kFlagsEnumerated = 0x3000;
inline constexpr FourCharCode kInheritanceKey = options::fourCharCode("c@#^");
inline constexpr FourCharCode kFormatClass = options::fourCharCode("Fmt ");

constexpr std::size_t propertyCount() { return sizeof kTerminologyProperties / sizeof kTerminologyProperties[0]; }
constexpr std::size_t valueCount() { return sizeof kTerminologyValues / sizeof kTerminologyValues[0]; }

constexpr bool sameProperty(const TerminologyProperty& p, const options::KeyEntry& k) {
    bool enumerated = k.type == options::ValueType::enumerated;
    return p.key == k.key && p.name == k.name && p.description == k.description &&
           p.type == options::terminologyType(k) && p.flags == (enumerated ? kFlagsEnumerated : kFlagsSingle);
}

// The index of the first key of the table the terminology does not declare
// exactly once and exactly as the table says, or -1. The inheritance comes
// first; the order of the rest is the definition's.
constexpr int firstPropertyMismatch() {
    if (propertyCount() != options::kDescriptorKeys.size() + 1) return 1000;
    const TerminologyProperty& inheritance = kTerminologyProperties[0];
    if (inheritance.key != kInheritanceKey || inheritance.type != kFormatClass) return 999;
    for (std::size_t i = 0; i < options::kDescriptorKeys.size(); ++i) {
        int found = 0;
        for (std::size_t j = 1; j < propertyCount(); ++j)
            if (kTerminologyProperties[j].key == options::kDescriptorKeys[i].key) {
                if (!sameProperty(kTerminologyProperties[j], options::kDescriptorKeys[i])) return static_cast<int>(i);
                ++found;
            }
        if (found != 1) return static_cast<int>(i);
    }
    return -1;
}

// The index (over all enumerations' values in the table's order) of the
// first value that differs, or -1: the definition lists each enumeration's
// values in the order of the option model's tables.
constexpr int firstValueMismatch() {
    if (kTerminologyEnumerationCount != options::kEnumerations.size()) return 1000;
    std::size_t at = 0;
    int index = 0;
    for (const options::EnumerationEntry& e : options::kEnumerations) {
        for (const options::EnumValueEntry& v : e.values) {
            if (at >= valueCount()) return index;
            const TerminologyValue& t = kTerminologyValues[at++];
            if (t.enumeration != e.type || t.code != v.code || t.name != v.name || t.description != v.description)
                return index;
            ++index;
        }
    }
    return at == valueCount() ? -1 : index;
}

// A mismatch names its index in the compiler's message, as the template
// argument of the failed check (e.g. PropertyAgrees<11>: kDescriptorKeys[11]).
template <int KeyIndex>
struct PropertyAgrees {
    static_assert(KeyIndex == -1,
                  "resources/definition.py's terminology properties disagree with options/descriptor_keys.h");
    static constexpr bool value = true;
};
template <int ValueIndex>
struct EnumerationValueAgrees {
    static_assert(ValueIndex == -1,
                  "resources/definition.py's enumerations disagree with options/option_words.h "
                  "(the index counts values across kEnumerations)");
    static constexpr bool value = true;
};
static_assert(PropertyAgrees<firstPropertyMismatch()>::value);
static_assert(EnumerationValueAgrees<firstValueMismatch()>::value);

}  // namespace nebulite::resources_check
