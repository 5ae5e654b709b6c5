#include "proxy/Buffer.h"
#include "proxy/NetExceptions.h"
#include "proxy/Stack.h"
#include "proxy/Stream.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace orvalis::proxy;

namespace {

std::string MessageOf(int code) {
    try {
        TStack::RaiseSocketError(code);
    } catch (const ESocketError& error) {
        EXPECT_EQ(error.Code(), code);
        return error.what();
    }
    return "not raised";
}

TEST(Stack, IPv4AddressTest) {
    EXPECT_TRUE(TStack::IsIP("127.0.0.1"));
    EXPECT_TRUE(TStack::IsIP("0.0.0.0"));
    EXPECT_TRUE(TStack::IsIP("255.255.255.255"));
    for (const char* text : {"127.0.0", "127.0.0.1.5", "256.1.1.1", "localhost", "1..1.1",
                             "1.1.1.1.", "", "1.1.1.-1", "1.1.1.1a", "1234.1.1.1"}) {
        EXPECT_FALSE(TStack::IsIP(text)) << text;
    }
}

TEST(Stack, ErrorsCarryTheirCodeAndText) {
    EXPECT_EQ(MessageOf(10061), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(MessageOf(11001), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(MessageOf(11002), "Socket Error # 11002\r\n");
    EXPECT_THROW(TStack::RaiseSocketError(10038), ENotASocket);
    EXPECT_EQ(TStack::TranslateError(ECONNREFUSED), 10061);
    EXPECT_EQ(TStack::TranslateError(EADDRINUSE), 10048);
    EXPECT_EQ(TStack::TranslateError(ECONNRESET), 10054);
    // Unmapped numbers keep their own value and get no text.
    EXPECT_EQ(TStack::TranslateError(ENOENT), ENOENT);
    EXPECT_EQ(TStack::ErrorText(ENOENT), "");
}

TEST(Stack, ResolvesLocalNamesWithoutTheResolver) {
    EXPECT_EQ(TStack::ResolveHost("LocalHost", TIPVersion::IPv4), "127.0.0.1");
    EXPECT_EQ(TStack::ResolveHost("10.1.2.3", TIPVersion::IPv4), "10.1.2.3");
    EXPECT_EQ(TStack::ResolveHost("::1", TIPVersion::IPv6), "0:0:0:0:0:0:0:1");
    EXPECT_EQ(TStack::MakeCanonicalIPv6Address("fe80::0a:BC00:1"), "fe80:0:0:0:0:a:bc00:1");
    EXPECT_EQ(TStack::MakeCanonicalIPv6Address("127.0.0.1"), "");
    // An empty label is refused by the platform's resolver without a query.
    try {
        TStack::ResolveHost("no..such..host", TIPVersion::IPv4);
        FAIL() << "resolved";
    } catch (const ESocketError& error) {
        EXPECT_EQ(error.Code(), 11001);
    }
}

TEST(Buffer, ExtractsAndSearchesFromItsHead) {
    TBuffer buffer;
    EXPECT_EQ(buffer.IndexOf("x"), -1);
    buffer.Write("abc\r\ndef");
    EXPECT_EQ(buffer.IndexOf("\r\n"), 3);
    EXPECT_EQ(buffer.IndexOf("d", 4), 5);
    EXPECT_EQ(buffer.Extract(5), "abc\r\n");
    EXPECT_EQ(buffer.IndexOf("d"), 0);
    EXPECT_THROW(buffer.IndexOf(""), ENetException);
    EXPECT_THROW(buffer.IndexOf("d", 3), ENetException);
    try {
        buffer.Extract(5);
        FAIL() << "extracted";
    } catch (const ENotEnoughDataInBuffer& error) {
        EXPECT_STREQ(error.what(), "Not enough data in buffer. (5/3)");
    }
    std::string target = "x";
    buffer.ExtractToBytes(target, 1, true);
    EXPECT_EQ(target, "xd");
    buffer.ExtractToBytes(target, -1, false);
    EXPECT_EQ(target, "ef");
    EXPECT_TRUE(buffer.IsEmpty());
}

TEST(Buffer, CompactsOnlyAfterLongConsumption) {
    TBuffer buffer;
    buffer.Write(std::string(10000, 'a'));
    buffer.Write("b");
    const int grown = buffer.Capacity();
    EXPECT_GE(grown, 10001);
    buffer.Remove(2000);
    EXPECT_EQ(buffer.Capacity(), grown);
    buffer.Remove(100);
    EXPECT_EQ(buffer.Size(), 7901);
    EXPECT_LE(buffer.Capacity(), 7901 + TBuffer::GrowthStep);
    EXPECT_EQ(buffer.View().back(), 'b');
}

TEST(Buffer, EncodingsPassOrReplaceHighBytes) {
    const std::string high = "caf\xc3\xa9 \xff";
    EXPECT_EQ(EncodeText(high, TEncoding::Bit8), high);
    EXPECT_EQ(EncodeText(high, TEncoding::UTF8), high);
    EXPECT_EQ(DecodeBytes(high, TEncoding::USASCII), "caf?? ?");
}

TEST(MemoryStream, SizeAndPosition) {
    TMemoryStream stream;
    stream.Write("hello", 5);
    stream.SetSize(10);
    EXPECT_EQ(stream.Position(), 5);
    stream.SetSize(3);
    EXPECT_EQ(stream.Position(), 3);
    stream.SetPosition(0);
    char bytes[8] = {};
    EXPECT_EQ(stream.Read(bytes, 8), 3);
    EXPECT_STREQ(bytes, "hel");
    EXPECT_EQ(stream.Read(bytes, 8), 0);
}

} // namespace
