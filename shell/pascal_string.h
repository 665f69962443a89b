// The length-prefixed string of the host's world: byte 0 holds the length
// (at most 254), the characters follow, and a NUL follows them so the text
// can be handed to calls that want a C string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nebulite {

struct PascalString {
    static constexpr size_t kMaxLength = 254;
    uint8_t bytes[256];

    size_t length() const { return bytes[0]; }
    const char* text() const { return reinterpret_cast<const char*>(bytes + 1); }
    std::string_view view() const { return {text(), length()}; }
};

inline void clearPString(PascalString& s) {
    s.bytes[0] = 0;
    s.bytes[1] = 0;
}

// Appends what fits; anything beyond 254 characters is dropped.
inline void appendPString(PascalString& s, const char* chars, size_t count) {
    size_t length = s.length();
    for (size_t i = 0; i < count && length < PascalString::kMaxLength; ++i)
        s.bytes[1 + length++] = static_cast<uint8_t>(chars[i]);
    s.bytes[0] = static_cast<uint8_t>(length);
    s.bytes[1 + length] = 0;
}

inline void appendPString(PascalString& s, std::string_view text) {
    appendPString(s, text.data(), text.size());
}

}  // namespace nebulite
