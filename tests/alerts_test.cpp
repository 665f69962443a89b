// Text helpers of the alerts: decimal formatting and placeholder substitution.
#include <gtest/gtest.h>

#include <string>

#include "shell/alerts.h"

using namespace nebulite;

namespace {

PascalString pstr(const std::string& text) {
    PascalString s;
    clearPString(s);
    appendPString(s, text);
    return s;
}

}  // namespace

TEST(FormatDecimal, Cases) {
    struct Case {
        double x;
        int decimals;
        const char* expected;
    } cases[] = {
        {2.5, 1, "2.5"},  {3.0, 1, "3.0"}, {2.50, 2, "2.5"}, {7.0, 3, "7.0"},
        {0.0, 1, "0.0"},  {2.46, 1, "2.5"}, {12.25, 2, "12.25"}, {9.96, 1, "10.0"},
        {1.2, 1, "1.2"},  {3.3, 1, "3.3"}, {4.1, 1, "4.1"},    {0.05, 1, "0.1"},
        {7.0, 0, "7.0"},
    };
    for (const Case& c : cases) {
        PascalString out;
        formatDecimal(c.x, c.decimals, out);
        EXPECT_EQ(std::string(out.view()), c.expected) << c.x << " with " << c.decimals;
        EXPECT_EQ(out.text()[out.length()], '\0');
    }
}

TEST(FormatInteger, Cases) {
    for (int32_t v : {0, 7, -12, 2147483647, -2147483647 - 1}) {
        PascalString out;
        formatInteger(v, out);
        EXPECT_EQ(std::string(out.view()), std::to_string(v));
    }
}

TEST(SubstitutePlaceholders, Cases) {
    PascalString one = pstr("2.5");
    PascalString two = pstr("X");
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"requires ^1 or later", "requires 2.5 or later"},
        {"no placeholder", "no placeholder"},
        {"ends in ^", "ends in ^"},
        {"^^1", "^2.5"},                 // only the second caret is taken
        {"^3 and 1", "^3 and 1"},        // unknown digit, digit without caret
        {"^0 absent", " absent"},        // an absent argument is empty
        {"^2^1", "X2.5"},
    };
    for (const Case& c : cases) {
        PascalString text = pstr(c.text);
        substitutePlaceholders(text, nullptr, &one, &two);
        EXPECT_EQ(std::string(text.view()), c.expected) << c.text;
    }
}

TEST(SubstitutePlaceholders, CutsAt254Characters) {
    PascalString longArg = pstr(std::string(200, 'a'));
    PascalString text = pstr(std::string(100, 'b') + "^1" + std::string(50, 'c'));
    substitutePlaceholders(text, nullptr, &longArg, nullptr);
    EXPECT_EQ(text.length(), 254u);
    EXPECT_EQ(text.text()[254], '\0');
    EXPECT_EQ(std::string(text.view()), std::string(100, 'b') + std::string(154, 'a'));
}

TEST(PascalStringTest, AppendKeepsAtMost254) {
    PascalString s = pstr(std::string(300, 'z'));
    EXPECT_EQ(s.length(), 254u);
    EXPECT_EQ(s.bytes[255], 0);
}

TEST(PowerOfTen, Values) {
    EXPECT_EQ(powerOfTen(0), 1.0);
    EXPECT_EQ(powerOfTen(3), 1000.0);
}
