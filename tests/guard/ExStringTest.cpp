#include "guard/ExString.h"

#include <gtest/gtest.h>

using namespace orvalis::guard;

namespace {

TEST(SplitText, PiecesAroundEverySeparator) {
    EXPECT_EQ(SplitText("", ".", 0), TWideStringArray{""});
    EXPECT_EQ(SplitText(".a..b.", ".", 0), (TWideStringArray{"", "a", "", "b", ""}));
    EXPECT_EQ(SplitText("a.b.c", ".", 0), (TWideStringArray{"a", "b", "c"}));
    EXPECT_EQ(SplitText("a.b.c", ".", 1), (TWideStringArray{"a", "b.c"}));
    EXPECT_EQ(SplitText("a.b.c.d", ".", 2), (TWideStringArray{"a", "b", "c.d"}));
    EXPECT_EQ(SplitText("a.b", ".", -3), (TWideStringArray{"a", "b"}));
}

TEST(SplitText, SeparatorsNeverOverlap) {
    EXPECT_EQ(SplitText("a---b", "--", 0), (TWideStringArray{"a", "-b"}));
    EXPECT_EQ(SplitText("ab--", "--", 0), (TWideStringArray{"ab", ""}));
}

TEST(SplitText, BoundedPieceCountAndEmptySeparator) {
    std::string dots(5000, '.');
    TWideStringArray pieces = SplitText(dots, ".", 0);
    ASSERT_EQ(pieces.size(), 1024u);
    EXPECT_EQ(pieces.back(), std::string(5000 - 1023, '.'));
    EXPECT_EQ(SplitText("abc", "", 0), TWideStringArray{"abc"});
}

TEST(ItemFromEnd, CountsFromTheLast) {
    TWideStringArray two{"first", "second"};
    EXPECT_EQ(ItemFromEnd(two, 0), "second");
    EXPECT_EQ(ItemFromEnd(two, 1), "first");
    EXPECT_EQ(ItemFromEnd(two, 2), "");
    EXPECT_EQ(ItemFromEnd(two, -1), "");
    EXPECT_EQ(ItemFromEnd({}, 0), "");
}

TEST(ToInteger, AcceptedForms) {
    EXPECT_EQ(ToInteger(" 137"), 137);
    EXPECT_EQ(ToInteger("   +137"), 137);
    EXPECT_EQ(ToInteger("$89"), 137);
    EXPECT_EQ(ToInteger("0x89"), 137);
    EXPECT_EQ(ToInteger("x89"), 137);
    EXPECT_EQ(ToInteger("0X89"), 137);
    EXPECT_EQ(ToInteger("007"), 7);
    EXPECT_EQ(ToInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(ToInteger("$7fffffff"), INT32_MAX);
}

TEST(ToInteger, RejectedFormsGiveMinusOne) {
    for (const char* text : {"137 ", "", "1a", "12345678901", "-", "+", "$", "0x", "\t1",
                             "2147483648", "$100000000", "1.5"}) {
        EXPECT_EQ(ToInteger(text), -1) << '"' << text << '"';
    }
}

TEST(MatchesAnyEntry, OccurrenceRules) {
    TWideStringArray list{"", "velmora"};
    EXPECT_TRUE(MatchesAnyEntry("www.velmora.com", list));
    EXPECT_FALSE(MatchesAnyEntry("", list));
    EXPECT_FALSE(MatchesAnyEntry("anything", {""}));
    EXPECT_FALSE(MatchesAnyEntry("anything", {}));
    EXPECT_FALSE(MatchesAnyEntry("WWW.VELMORA.COM", list));
    EXPECT_FALSE(Occurs("", "x"));
    EXPECT_FALSE(Occurs("x", ""));
}

TEST(LowerAscii, OnlyAsciiCapitalsChange) {
    EXPECT_EQ(LowerAscii("AbZ@[\xC3\x89\xea\xb0\x80"), "abz@[\xC3\x89\xea\xb0\x80");
}

} // namespace
