// The card-level helpers every header byte goes through: value conversion,
// splitting and keyword matching, right-aligned values, and the alert text
// helpers. Each result is compared with a plain reference written here from
// the helper's contract (card_text.h, alerts.h), not from its code.
//
// Input: byte 0 picks small parameters (null arguments, column, decimals);
// the rest is cut into up to four pieces at the byte 0x00, each used as a
// field, a keyword, a text or a placeholder argument.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "header/card_text.h"
#include "shell/alerts.h"

namespace {

using namespace nebulite;
using fuzzing::known;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string hex(std::string_view s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void checkIntValue(std::string_view field) {
    int64_t got = intValue(field);
    size_t i = 0;
    while (i < field.size() && isSpace(field[i])) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    while (i < field.size() && field[i] == '0') ++i;
    std::string digits;
    while (i < field.size() && isDigit(field[i])) digits += field[i++];
    if (digits.size() <= 18) {
        int64_t expected = digits.empty() ? 0 : std::strtoll(digits.c_str(), nullptr, 10);
        if (negative) expected = -expected;
        FUZZ_CHECK(got == expected, "intValue of " + hex(field) + " is " + std::to_string(got));
    } else {
        // Too large for the card's purpose: saturated, never wrapped.
        FUZZ_CHECK(negative ? got <= -int64_t{100000000000000000} : got >= int64_t{100000000000000000},
                   "intValue of " + hex(field) + " is " + std::to_string(got));
    }
}

// The value field of a card is 20 columns; the comparison holds there.
void checkRealValue(std::string_view field) {
    double got = realValue(field);
    FUZZ_CHECK(!std::isnan(got), "realValue of " + hex(field) + " is NaN");
    if (field.size() > 20) return;
    // The longest prefix in the helper's grammar, as C text for strtod.
    size_t i = 0;
    while (i < field.size() && isSpace(field[i])) ++i;
    std::string text;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) text += field[i++];
    size_t digits = 0;
    while (i < field.size() && isDigit(field[i])) text += field[i++], ++digits;
    if (i < field.size() && field[i] == '.') {
        text += field[i++];
        while (i < field.size() && isDigit(field[i])) text += field[i++], ++digits;
    }
    if (digits == 0) {
        FUZZ_CHECK(got == 0.0, "realValue of " + hex(field) + " is " + std::to_string(got));
        return;
    }
    if (i < field.size() && std::strchr("EeDd", field[i]) != nullptr) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < field.size() && (field[j] == '+' || field[j] == '-')) exponent += field[j++];
        size_t expDigits = 0;
        while (j < field.size() && isDigit(field[j])) exponent += field[j++], ++expDigits;
        if (expDigits > 0) text += exponent;
    }
    double expected = std::strtod(text.c_str(), nullptr);
    // Below the normal range the helper answers 0 by contract.
    if (expected != 0.0 && std::fabs(expected) < DBL_MIN) {
        FUZZ_CHECK(std::fabs(got) < DBL_MIN, "realValue of " + hex(field));
        return;
    }
    FUZZ_CHECK(got == expected, "realValue of \"" + std::string(field) + "\" (" + hex(field) + ") is " +
                                    std::to_string(got) + ", not " + std::to_string(expected));
}

void checkSplitAndKeyword(std::string_view cardText, std::string_view name) {
    char card[80];
    std::memset(card, ' ', sizeof card);
    std::memcpy(card, cardText.data(), cardText.size() < 80 ? cardText.size() : 80);
    SplitCard split = splitCard(card);
    FUZZ_CHECK(split.keyword.data() == card && split.keyword.size() == 8, "keyword columns");
    FUZZ_CHECK(split.value.data() == card + 10 && split.value.size() == 20, "value columns");
    FUZZ_CHECK(split.rest.data() == card + 30 && split.rest.size() == 50, "rest columns");
    bool expected = false;
    if (name.size() <= 8) {
        std::string padded(name);
        padded.resize(8, ' ');
        expected = std::memcmp(card, padded.data(), 8) == 0;
    }
    FUZZ_CHECK(keywordIs(split.keyword, name) == expected,
               "keywordIs(" + hex(std::string_view(card, 8)) + ", " + hex(name) + ")");
}

void checkRightAligned(std::string_view text, int lastColumn) {
    // Exactly 80 bytes on the heap, so that a write past the card is seen.
    std::vector<char> card(80, '.');
    putRightAligned(card.data(), text, lastColumn);
    std::string_view tail = text.size() > static_cast<size_t>(lastColumn)
                                ? text.substr(text.size() - static_cast<size_t>(lastColumn))
                                : text;
    size_t first = static_cast<size_t>(lastColumn) - tail.size();
    for (size_t k = 0; k < 80; ++k) {
        char expected = k >= first && k < static_cast<size_t>(lastColumn) ? tail[k - first] : '.';
        FUZZ_CHECK(card[k] == expected, "putRightAligned of " + hex(text) + " to column " +
                                            std::to_string(lastColumn) + ", byte " + std::to_string(k));
    }
}

void checkDecimalText(int64_t value) {
    char storage[24];
    FUZZ_CHECK(decimalText(value, storage) == std::to_string(value), std::to_string(value));
}

void checkFormatDecimal(double x, int decimals) {
    PascalString out;
    formatDecimal(x, decimals, out);
    std::string_view text = out.view();
    FUZZ_CHECK(out.bytes[1 + out.length()] == 0, "formatDecimal leaves no NUL");
    size_t dot = text.find('.');
    FUZZ_CHECK(dot != std::string_view::npos && dot > 0 && dot + 1 < text.size(),
               "formatDecimal(" + std::to_string(x) + ", " + std::to_string(decimals) + ") = " +
                   std::string(text));
    for (size_t k = 0; k < text.size(); ++k)
        FUZZ_CHECK(k == dot || isDigit(text[k]), "formatDecimal: " + std::string(text));
    FUZZ_CHECK(text.size() - dot - 1 <= static_cast<size_t>(decimals < 1 ? 1 : decimals),
               "formatDecimal(" + std::to_string(x) + ", " + std::to_string(decimals) + ") = " +
                   std::string(text));
    // Rounded half up at `decimals`, trailing zeros not shown: the shown
    // value is within half a unit of the last decimal of the rounded one.
    double clamped = !(x >= 0.0) ? 0.0 : x > 2147483647.0 ? 2147483647.0 : x;
    double scale = std::pow(10.0, decimals);
    double rounded = std::floor(clamped * scale + 0.5) / scale;
    double shown = std::strtod(std::string(text).c_str(), nullptr);
    double tolerance = 0.5 / scale + 1e-15 * (clamped > 1 ? clamped : 1);
    FUZZ_CHECK(std::fabs(shown - rounded) <= tolerance,
               "formatDecimal(" + std::to_string(x) + ", " + std::to_string(decimals) + ") = " +
                   std::string(text));
}

PascalString pstring(std::string_view text) {
    PascalString s;
    clearPString(s);
    appendPString(s, text.data(), text.size());
    return s;
}

void checkPlaceholders(std::string_view text, std::string_view a1, std::string_view a2, unsigned nulls) {
    PascalString message = pstring(text);
    PascalString arg1 = pstring(a1);
    PascalString arg2 = pstring(a2);
    const PascalString* p1 = (nulls & 1) ? nullptr : &arg1;
    const PascalString* p2 = (nulls & 2) ? nullptr : &arg2;
    std::string before(message.view());
    substitutePlaceholders(message, nullptr, p1, p2);
    FUZZ_CHECK(message.length() <= PascalString::kMaxLength, "length");
    FUZZ_CHECK(message.bytes[1 + message.length()] == 0, "no NUL after the text");
    // With plain arguments the result is the text with each ^0, ^1, ^2
    // replaced by its argument (nothing for a null one), cut at 254.
    if (before.find('^') == std::string::npos) {
        FUZZ_CHECK(message.view() == before, "text without placeholders changed");
        return;
    }
    if (a1.find('^') != std::string_view::npos || a2.find('^') != std::string_view::npos) return;
    std::string expected;
    bool emptyThenCaret = false;
    bool cutOnTheWay = false;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] == '^' && i + 1 < before.size() && before[i + 1] >= '0' && before[i + 1] <= '2') {
            const PascalString* arg = before[i + 1] == '0' ? nullptr : before[i + 1] == '1' ? p1 : p2;
            if (arg != nullptr) expected += std::string(arg->view());
            ++i;
            // The text is cut at 254 as it is built, so a tail cut by one
            // substitution is not brought back when a later one shrinks it.
            if (expected.size() + (before.size() - i - 1) > PascalString::kMaxLength) cutOnTheWay = true;
            if ((arg == nullptr || arg->length() == 0) && i + 1 < before.size() && before[i + 1] == '^')
                emptyThenCaret = true;
        } else {
            expected += before[i];
        }
    }
    if (expected.size() > PascalString::kMaxLength || cutOnTheWay) return;  // where the cut falls is not promised
    // Known fault "placeholder-after-empty": after an empty substitution the
    // scan resumes one character late and misses a placeholder right there.
    if (emptyThenCaret && known("placeholder-after-empty")) return;
    FUZZ_CHECK(message.view() == expected, "substitutePlaceholders(" + hex(before) + ", " +
                                               (p1 ? hex(a1) : "null") + ", " + (p2 ? hex(a2) : "null") +
                                               ") = " + hex(message.view()) + ", not " + hex(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t control = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string_view> pieces;
    while (pieces.size() < 3) {
        size_t cut = rest.find('\0');
        if (cut == std::string_view::npos) break;
        pieces.push_back(rest.substr(0, cut));
        rest.remove_prefix(cut + 1);
    }
    pieces.push_back(rest);
    // Missing pieces are empty views into the input, never views of null:
    // callers in the module always pass text that exists.
    while (pieces.size() < 4) pieces.push_back(rest.substr(rest.size()));

    checkIntValue(pieces[0]);
    checkRealValue(pieces[0]);
    checkSplitAndKeyword(pieces[0], pieces[1].substr(0, 9));
    checkRightAligned(pieces[1].substr(0, 90), 1 + control % 80);

    int64_t integer = 0;
    double real = 0.0;
    if (pieces[0].size() >= 8) {
        std::memcpy(&integer, pieces[0].data(), 8);
        std::memcpy(&real, pieces[0].data(), 8);
    }
    checkDecimalText(integer);
    // Alerts format version numbers; more than nine decimals is outside
    // what the helper is for (the scaled value no longer fits 64 bits).
    checkFormatDecimal(real, 1 + control % 9);
    checkFormatDecimal(realValue(pieces[0]), 1 + (control >> 4) % 9);

    checkPlaceholders(pieces[1].substr(0, 254), pieces[2].substr(0, 254), pieces[3].substr(0, 254),
                      control >> 6);
    return 0;
}
