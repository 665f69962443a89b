// Card text: value conversion, keyword matching and right-aligned values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "header/card_text.h"

using namespace nebulite;

namespace {

std::string card(const std::string& text) {
    std::string c = text;
    c.resize(80, ' ');
    return c;
}

}  // namespace

TEST(CardText, IntegerValueAnywhereInTheValueField) {
    struct Case {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"NAXIS1  =                   16 / fixed format", 16},
        {"NAXIS1  = 16                   / free format", 16},
        {"NAXIS1  =                  -32", -32},
        {"NAXIS1  =                 +7", 7},
        {"NAXIS1  =                      16", 0},  // value begins after column 30
        {"NAXIS1  =         12abc", 12},
        {"NAXIS1  = ", 0},
    };
    for (const Case& c : cases) {
        std::string text = card(c.text);
        EXPECT_EQ(intValue(splitCard(text.data()).value), c.expected) << c.text;
    }
}

TEST(CardText, HugeIntegersSaturateInsteadOfWrapping) {
    std::string text = card("NAXIS1  = 99999999999999999999");
    EXPECT_GT(intValue(splitCard(text.data()).value), int64_t{100000000000000000});
    text = card("NAXIS1  = -99999999999999999999");
    EXPECT_LT(intValue(splitCard(text.data()).value), -int64_t{100000000000000000});
}

TEST(CardText, TheWhole64BitRangeReadsExactly) {
    struct Case {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"BLANK   = -9223372036854775808", INT64_MIN},
        {"BLANK   =  9223372036854775807", INT64_MAX},
        {"BLANK   =  9223372036854775808", INT64_MAX},  // saturated
        {"BLANK   = -9223372036854775809", INT64_MIN},
        {"BLANK   =  1000000000000000000", 1000000000000000000},
    };
    for (const Case& c : cases) {
        std::string text = card(c.text);
        EXPECT_EQ(intValue(splitCard(text.data()).value), c.expected) << c.text;
    }
}

TEST(CardText, RealValueFormats) {
    struct Case {
        const char* field;
        double expected;
    } cases[] = {
        {"             32768.0", 32768.0}, {"1.5E2", 150.0},       {"  -2.5d-1", -0.25},
        {"  .5", 0.5},                     {"3.", 3.0},            {"  1e", 1.0},
        {"abc", 0.0},                      {"", 0.0},              {" 1.0E+400", INFINITY},
        {"1.0E-400", 0.0},                 {"+12 / comment", 12.0},
        {"1.0E+0000002", 100.0},           {"1.0E-0000001", 0.1},   {"2E000", 2.0},
        {"1E1234567", INFINITY},           {"1E-1234567", 0.0},
    };
    for (const Case& c : cases) EXPECT_EQ(realValue(c.field), c.expected) << c.field;
}

TEST(CardText, KeywordMatchIsWholeAndCaseSensitive) {
    std::string naxis1 = card("NAXIS1  = 3");
    std::string naxis = card("NAXIS   = 3");
    std::string lower = card("naxis   = 3");
    EXPECT_TRUE(keywordIs(splitCard(naxis.data()).keyword, "NAXIS"));
    EXPECT_FALSE(keywordIs(splitCard(naxis1.data()).keyword, "NAXIS"));
    EXPECT_FALSE(keywordIs(splitCard(naxis.data()).keyword, "NAXIS1"));
    EXPECT_FALSE(keywordIs(splitCard(lower.data()).keyword, "NAXIS"));
}

TEST(CardText, SimpleCardTest) {
    EXPECT_TRUE(isSimpleCard(card("SIMPLE  =                    T").data()));
    EXPECT_TRUE(isSimpleCard(card("SIMPLE  =                    F").data()));
    EXPECT_FALSE(isSimpleCard(card("SIMPLE =                     T").data()));
    EXPECT_FALSE(isSimpleCard(card("simple  =                    T").data()));
    EXPECT_FALSE(isSimpleCard(card("XTENSION= 'IMAGE   '").data()));
}

TEST(CardText, RightAlignedValuesEndInColumn30) {
    for (int64_t value : {1, 640, 30000, 2147483647}) {
        std::string c(80, ' ');
        char digits[24];
        putRightAligned(c.data(), decimalText(value, digits), 30);
        std::string expected = std::to_string(value);
        EXPECT_EQ(c.substr(30 - expected.size(), expected.size()), expected);
        EXPECT_EQ(c.find_first_not_of(' '), 30 - expected.size());
        EXPECT_EQ(c.find_last_not_of(' '), 29u);
    }
}
