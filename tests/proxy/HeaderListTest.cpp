#include "proxy/HeaderList.h"

#include <gtest/gtest.h>

using orvalis::proxy::THeaderList;

namespace {

THeaderList Lines(std::initializer_list<const char*> lines) {
    THeaderList list;
    for (const char* line : lines) {
        list.Add(line);
    }
    return list;
}

TEST(HeaderList, LookupIsCaseInsensitiveAndFirstWins) {
    THeaderList list = Lines({"Host: a", "host: b", "Referer: http://x/"});
    EXPECT_EQ(list.ValueOf("HOST"), "a");
    EXPECT_EQ(list.IndexOfHeader("host"), 0);
    EXPECT_EQ(list.ValueOf("referer"), "http://x/");
    EXPECT_EQ(list.ValueOf("Cookie"), "");
    EXPECT_EQ(list.IndexOfHeader("Cookie"), -1);
}

TEST(HeaderList, NamesKeepTheirBlanks) {
    THeaderList list = Lines({"Host : x", "HTTP/1.1 200 OK"});
    EXPECT_EQ(list.IndexOfHeader("Host"), -1);
    EXPECT_EQ(list.ValueOf("Host "), "x");
    EXPECT_EQ(list.Names(0), "Host ");
    // A line without a colon has an empty name and never matches a real one.
    EXPECT_EQ(list.Names(1), "");
    EXPECT_EQ(list.IndexOfHeader("HTTP/1.1 200 OK"), -1);
    EXPECT_EQ(list.IndexOfHeader(""), 1);
}

TEST(HeaderList, ValuesAreTrimmedAndContinuationsJoinedWithOneSpace) {
    THeaderList list =
        Lines({"Content-Length:  512 ", "X-A: one  ", "\t two", "  three ", "Next: n"});
    EXPECT_EQ(list.ValueOf("Content-Length"), "512");
    EXPECT_EQ(list.ValueOf("X-A"), "one two three");
    EXPECT_EQ(list.ValueOf("Next"), "n");
    EXPECT_EQ(list.ValueFromIndex(-1), "");
    EXPECT_EQ(list.ValueFromIndex(5), "");
}

TEST(HeaderList, ValueKeepsBytesAboveAscii) {
    THeaderList list = Lines({"Cookie: n=\xea\xb0\x80\xff", "Empty:", ":odd"});
    EXPECT_EQ(list.ValueOf("cookie"), "n=\xea\xb0\x80\xff");
    EXPECT_EQ(list.ValueOf("Empty"), "");
    EXPECT_EQ(list.ValueOf(""), "odd");
}

} // namespace
