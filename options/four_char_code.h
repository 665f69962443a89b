// Four-character codes as the host's descriptors and terminology use them:
// a 32-bit value whose high byte is the first character.
#pragma once

#include <cstdint>
#include <string_view>

namespace nebulite::options {

using FourCharCode = uint32_t;

// Reaching this in a constant evaluation stops the build: a code of the
// wrong length is caught where it is written.
void codeIsNotFourCharacters();

consteval FourCharCode fourCharCode(std::string_view code) {
    if (code.size() != 4) codeIsNotFourCharacters();
    FourCharCode value = 0;
    for (char c : code) value = value << 8 | static_cast<uint8_t>(c);
    return value;
}

}  // namespace nebulite::options
