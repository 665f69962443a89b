// The scripting descriptor as the host keeps it: an ordered list of items,
// each a key, a kind and a value, as the editor's recorded actions hold them.
// The read suite walks these items, the write suite appends to them, and a
// descriptor handle holds them in the host's own byte format (serialize /
// parseDescriptor), which the module never looks into.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host_sdk.h"

namespace nebulite::host {

// A four-character code from its text, first character in the high byte.
constexpr uint32_t fourCharCode(std::string_view code) {
    uint32_t value = 0;
    for (char c : code) value = value << 8 | static_cast<uint8_t>(c);
    return value;
}

// The type codes getKeyProc reports (PITerminology.h's names).
namespace descriptorTypes {
inline constexpr DescriptorTypeID integer = fourCharCode("long");    // typeInteger
inline constexpr DescriptorTypeID floating = fourCharCode("doub");   // typeFloat
inline constexpr DescriptorTypeID unitFloat = fourCharCode("UntF");  // typeUnitFloat
inline constexpr DescriptorTypeID boolean = fourCharCode("bool");    // typeBoolean
inline constexpr DescriptorTypeID text = fourCharCode("TEXT");       // typeChar: text and strings
inline constexpr DescriptorTypeID alias = fourCharCode("alis");      // typeAlias
inline constexpr DescriptorTypeID classType = fourCharCode("type");  // typeType / typeClass
inline constexpr DescriptorTypeID object = fourCharCode("Objc");     // typeObject
}  // namespace descriptorTypes

// The flags getKeyProc reports (PIActions.h).
inline constexpr int32_t actionSimpleParameter = 0x00000000;
inline constexpr int32_t actionEnumeratedParameter = 0x00002000;
inline constexpr int32_t actionObjectParameter = static_cast<int32_t>(0x80000000u);

enum class ValueKind : uint8_t {
    integer,     // putIntegerProc / getIntegerProc, 'long'
    floating,    // putFloatProc / getFloatProc, 'doub'
    unitFloat,   // a float with its unit, 'UntF'
    boolean,     // 'bool'
    enumerated,  // an enumeration's type and value; getKeyProc reports the enumeration's type code
    text,        // putTextProc's handle bytes, 'TEXT'
    alias,       // putAliasProc's handle bytes, 'alis'
    classType,   // putClassProc / putScopedClassProc, 'type'
    object,      // a descriptor of a class, putObjectProc / putScopedObjectProc, 'Objc'
    count,       // putCountProc, reported as 'long' (an integer that counts)
    string,      // putStringProc's Pascal string (at most 255 bytes), 'TEXT'
};

std::string_view kindName(ValueKind kind);
std::optional<ValueKind> kindNamed(std::string_view name);

struct DescriptorItem {
    DescriptorKeyID key = 0;
    ValueKind kind = ValueKind::integer;
    int64_t integer = 0;            // integer (int32 range), count (uint32 range)
    double number = 0.0;            // floating, unitFloat
    DescriptorUnitID unit = 0;      // unitFloat
    bool boolean = false;
    DescriptorTypeID type = 0;      // enumerated: the enumeration; classType: the class; object: its class
    DescriptorEnumID value = 0;     // enumerated
    std::string bytes;              // text, alias, string: bytes as the module handed them
    std::vector<DescriptorItem> members;  // object

    static DescriptorItem ofInteger(DescriptorKeyID key, int32_t v);
    static DescriptorItem ofFloat(DescriptorKeyID key, double v);
    static DescriptorItem ofUnitFloat(DescriptorKeyID key, DescriptorUnitID unit, double v);
    static DescriptorItem ofBoolean(DescriptorKeyID key, bool v);
    static DescriptorItem ofEnumerated(DescriptorKeyID key, DescriptorTypeID type, DescriptorEnumID v);
    static DescriptorItem ofText(DescriptorKeyID key, std::string_view bytes);
    static DescriptorItem ofAlias(DescriptorKeyID key, std::string_view bytes);
    static DescriptorItem ofClass(DescriptorKeyID key, DescriptorTypeID type);
    static DescriptorItem ofObject(DescriptorKeyID key, DescriptorTypeID type, std::vector<DescriptorItem> members);
    static DescriptorItem ofCount(DescriptorKeyID key, uint32_t v);
    static DescriptorItem ofString(DescriptorKeyID key, std::string_view bytes);

    // What getKeyProc reports for this item.
    DescriptorTypeID typeCode() const;
    int32_t flags() const;

    // Doubles compare by their bits, so that a NaN recorded is a NaN replayed.
    bool operator==(const DescriptorItem& other) const;
};

struct Descriptor {
    std::vector<DescriptorItem> items;

    // The item of `key`, null when there is none.
    const DescriptorItem* find(DescriptorKeyID key) const;
    // Adds the item, or replaces the one of the same key in its place, as
    // the editor's descriptors (keyed records) do.
    void put(DescriptorItem item);

    bool operator==(const Descriptor&) const = default;
};

// The bytes of a descriptor handle: "NbDs", format version 1 (big-endian
// 16 bits), the item count (32 bits), then per item its key (32 bits), its
// kind (8 bits) and its value: integer, count 32 bits; floating 64 bits of
// IEEE double; unitFloat unit then double; boolean 8 bits; enumerated type
// then value; classType the class; text, alias, string a 32-bit length then
// the bytes; object its class, a 32-bit length and a descriptor in this same
// form. All numbers big-endian.
std::vector<uint8_t> serialize(const Descriptor& descriptor);
// Nothing when the bytes are not a whole descriptor of this form (objects
// nest at most 32 deep).
std::optional<Descriptor> parseDescriptor(std::span<const uint8_t> bytes);

// "'nbIm'" for messages; codes with bytes outside printable ASCII as 0x12345678.
std::string codeText(uint32_t code);

}  // namespace nebulite::host
