#include "export/tiled/checksum.h"

namespace nebulite::tiledsave {

namespace {

uint32_t fold(uint64_t sum) {
    while (sum >> 32) sum = (sum & 0xffffffffu) + (sum >> 32);
    return static_cast<uint32_t>(sum);
}

// Punctuation between the digits and the letters, which the text avoids.
constexpr bool excluded(int c) { return (c >= 0x3a && c <= 0x40) || (c >= 0x5b && c <= 0x60); }

}  // namespace

void OnesSum::add(std::span<const uint8_t> bytes, uint64_t offset) {
    // Pieces of 1 MiB keep the plain 64-bit sum of their words from
    // overflowing whatever the span's length.
    constexpr size_t kPiece = size_t{1} << 20;
    while (bytes.size() > kPiece) {
        add(bytes.first(kPiece), offset);
        bytes = bytes.subspan(kPiece);
        offset += kPiece;
    }
    uint64_t sum = 0;
    size_t i = 0;
    // Bytes before the first word boundary, then whole words, then the rest.
    for (; i < bytes.size() && (offset + i) % 4 != 0; ++i)
        sum += uint64_t{bytes[i]} << (8 * (3 - (offset + i) % 4));
    for (; i + 4 <= bytes.size(); i += 4)
        sum += uint64_t{bytes[i]} << 24 | uint64_t{bytes[i + 1]} << 16 | uint64_t{bytes[i + 2]} << 8 | bytes[i + 3];
    for (; i < bytes.size(); ++i) sum += uint64_t{bytes[i]} << (8 * (3 - (offset + i) % 4));
    sum_ = uint64_t{fold(sum_ + fold(sum))};
}

void OnesSum::add(uint32_t other) { sum_ = uint64_t{fold(sum_ + other)}; }

uint32_t OnesSum::value() const { return fold(sum_); }

void checksumText(uint32_t sum, char (&text)[16]) {
    const uint32_t value = ~sum;
    char spread[16];
    for (int i = 0; i < 4; ++i) {
        // Each byte of the value is shared out over four characters that
        // add up to it, each at least '0'.
        const int byte = static_cast<int>(value >> (24 - 8 * i) & 0xff);
        int c[4];
        for (int j = 0; j < 4; ++j) c[j] = byte / 4 + '0';
        c[0] += byte % 4;
        // Move units between pairs until none is punctuation: the pairs'
        // sums, and so the total, stay the same.
        for (bool moved = true; moved;) {
            moved = false;
            for (int j = 0; j < 4; j += 2) {
                if (excluded(c[j]) || excluded(c[j + 1])) {
                    ++c[j];
                    --c[j + 1];
                    moved = true;
                }
            }
        }
        for (int j = 0; j < 4; ++j) spread[4 * j + i] = static_cast<char>(c[j]);
    }
    // Rotated one place to the right, so that the text lines up with the
    // words of the card it sits in (it starts in column 12).
    for (int i = 0; i < 16; ++i) text[i] = spread[(i + 15) % 16];
}

}  // namespace nebulite::tiledsave
