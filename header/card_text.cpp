#include "header/card_text.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace nebulite {

SplitCard splitCard(const char* card) {
    return {std::string_view(card, 8), std::string_view(card + 10, 20),
            std::string_view(card + 30, 50)};
}

bool keywordIs(std::string_view keyword, std::string_view name) {
    if (keyword.size() != 8 || name.size() > 8) return false;
    for (size_t i = 0; i < 8; ++i) {
        char expected = i < name.size() ? name[i] : ' ';
        if (keyword[i] != expected) return false;
    }
    return true;
}

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int64_t intValue(std::string_view field) {
    size_t i = 0;
    while (i < field.size() && isSpace(field[i])) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    // Exact over the whole 64-bit range (BLANK of 64-bit data may be its
    // smallest value); beyond it saturate rather than wrap.
    const uint64_t limit = negative ? uint64_t{INT64_MAX} + 1 : uint64_t{INT64_MAX};
    uint64_t magnitude = 0;
    while (i < field.size() && isDigit(field[i])) {
        auto digit = static_cast<uint64_t>(field[i] - '0');
        magnitude = magnitude <= (limit - digit) / 10 ? magnitude * 10 + digit : limit;
        ++i;
    }
    if (!negative) return static_cast<int64_t>(magnitude);
    return magnitude == limit ? INT64_MIN : -static_cast<int64_t>(magnitude);
}

double realValue(std::string_view field) {
    size_t i = 0;
    while (i < field.size() && isSpace(field[i])) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    // Copy the longest prefix that is a decimal number, with FITS's D
    // exponent read as E, and let from_chars do the exact conversion.
    char number[32];
    size_t n = 0;
    size_t digits = 0;
    while (i < field.size() && isDigit(field[i]) && n < sizeof number - 1) {
        number[n++] = field[i++];
        ++digits;
    }
    if (i < field.size() && field[i] == '.' && n < sizeof number - 1) {
        number[n++] = field[i++];
        while (i < field.size() && isDigit(field[i]) && n < sizeof number - 1) {
            number[n++] = field[i++];
            ++digits;
        }
    }
    if (digits == 0) return 0.0;
    if (i < field.size() && (field[i] == 'E' || field[i] == 'e' || field[i] == 'D' || field[i] == 'd')) {
        size_t j = i + 1;
        char exponent[8];
        size_t e = 0;
        exponent[e++] = 'e';
        if (j < field.size() && (field[j] == '+' || field[j] == '-')) exponent[e++] = field[j++];
        size_t expDigits = 0;
        // Leading zeros say nothing; more than five significant digits is far
        // beyond any double and reads as such.
        while (j < field.size() && field[j] == '0') {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0 && (j >= field.size() || !isDigit(field[j]))) exponent[e++] = '0';
        while (j < field.size() && isDigit(field[j])) {
            if (e < 7) exponent[e++] = field[j];
            else exponent[6] = '9';
            ++j;
            ++expDigits;
        }
        if (expDigits > 0 && n + e < sizeof number) {
            std::memcpy(number + n, exponent, e);
            n += e;
        }
    }
    double value = 0.0;
    auto [end, error] = std::from_chars(number, number + n, value);
    if (error == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow and underflow.
        const char* ePos = static_cast<const char*>(std::memchr(number, 'e', n));
        bool tiny = ePos != nullptr && ePos + 1 < number + n && ePos[1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    (void)end;
    return negative ? -value : value;
}

std::string_view stringValue(const char* card) {
    size_t i = 10;
    while (i < kCardBytes && card[i] == ' ') ++i;
    if (i >= kCardBytes || card[i] != '\'') return {};
    const size_t from = ++i;
    while (i < kCardBytes && card[i] != '\'') ++i;
    size_t to = i;
    while (to > from && card[to - 1] == ' ') --to;
    return {card + from, to - from};
}

std::string_view wordValue(const char* card) {
    size_t i = 10;
    while (i < kCardBytes && card[i] == ' ') ++i;
    if (i < kCardBytes && card[i] == '\'') return stringValue(card);
    const size_t from = i;
    while (i < kCardBytes && card[i] != ' ' && card[i] != '/') ++i;
    return {card + from, i - from};
}

bool logicalTrue(const char* card) {
    const std::string_view value = splitCard(card).value;
    size_t i = 0;
    while (i < value.size() && value[i] == ' ') ++i;
    return i < value.size() && value[i] == 'T';
}

void putRightAligned(char* card, std::string_view text, int lastColumn) {
    size_t length = text.size();
    if (length > static_cast<size_t>(lastColumn)) {
        text = text.substr(length - static_cast<size_t>(lastColumn));
        length = text.size();
    }
    std::memcpy(card + lastColumn - static_cast<int>(length), text.data(), length);
}

std::string_view decimalText(int64_t value, char (&storage)[24]) {
    auto [end, error] = std::to_chars(storage, storage + sizeof storage, value);
    (void)error;
    return {storage, static_cast<size_t>(end - storage)};
}

void setCardText(char* card, std::string_view text) {
    std::memset(card, ' ', kCardBytes);
    if (!text.empty()) std::memcpy(card, text.data(), text.size() < kCardBytes ? text.size() : kCardBytes);
}

bool isSimpleCard(const char* card) {
    return std::memcmp(card, "SIMPLE  =", 9) == 0;
}

void cleanReadCard(char* card) {
    if (card[0] == '\0') {
        std::memset(card, ' ', kCardBytes);
        return;
    }
    for (int i = 0; i < 8; ++i)
        if (card[i] == '\0') card[i] = ' ';
}

void conformSimpleCard(char* card) {
    constexpr std::string_view kSimple = "SIMPLE  =                    T";
    if (std::memcmp(card, kSimple.data(), kSimple.size()) == 0) return;
    // The comment is what follows the first slash after the value indicator;
    // a logical value holds none.
    char comment[kCardBytes];
    size_t length = 0;
    if (const auto* slash = static_cast<const char*>(std::memchr(card + 10, '/', kCardBytes - 10))) {
        const char* from = slash + 1;
        const char* end = card + kCardBytes;
        while (from < end && *from == ' ') ++from;
        while (end > from && end[-1] == ' ') --end;
        length = static_cast<size_t>(end - from);
        std::memcpy(comment, from, length);
    }
    setCardText(card, kSimple);
    if (length == 0) return;
    std::memcpy(card + 30, " / ", 3);
    std::memcpy(card + 33, comment, length < kCardBytes - 33 ? length : kCardBytes - 33);
}

int axisNumber(std::string_view keyword) {
    if (keyword.size() != 8 || keyword.substr(0, 5) != "NAXIS" || keyword[5] < '1' || keyword[5] > '9')
        return 0;
    int n = 0;
    size_t i = 5;
    for (; i < 8 && isDigit(keyword[i]); ++i) n = n * 10 + (keyword[i] - '0');
    for (; i < 8; ++i)
        if (keyword[i] != ' ') return 0;
    return n;
}

}  // namespace nebulite
