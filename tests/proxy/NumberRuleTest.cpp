#include "proxy/NumberRule.h"

#include <gtest/gtest.h>

using orvalis::proxy::NumberOr;
using orvalis::proxy::ParseNumber;

namespace {

TEST(NumberRule, DecimalWithSignAndBlanks) {
    EXPECT_EQ(ParseNumber(" 8080 "), 8080);
    EXPECT_EQ(ParseNumber("\t+12\r"), 12);
    EXPECT_EQ(ParseNumber("-7"), -7);
    EXPECT_EQ(ParseNumber("2147483647"), 2147483647);
    EXPECT_EQ(ParseNumber("-2147483648"), INT32_MIN);
}

TEST(NumberRule, HexPrefixes) {
    EXPECT_EQ(ParseNumber("$89"), 137);
    EXPECT_EQ(ParseNumber("0x89"), 137);
    EXPECT_EQ(ParseNumber("X89"), 137);
    EXPECT_EQ(ParseNumber("0XfF"), 255);
    EXPECT_EQ(ParseNumber("$FFFFFFFF"), -1);
    EXPECT_EQ(ParseNumber("$000000001"), 1);
}

TEST(NumberRule, NotANumber) {
    for (const char* text : {"", " ", "+", "-", "$", "0x", "12a", "1 2", "2147483648",
                             "-2147483649", "99999999999999999999", "$123456789", "0x-1"}) {
        EXPECT_FALSE(ParseNumber(text).has_value()) << '"' << text << '"';
    }
    EXPECT_EQ(NumberOr("abc", 80), 80);
    EXPECT_EQ(NumberOr("81", 80), 81);
}

} // namespace
