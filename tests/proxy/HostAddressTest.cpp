#include "proxy/HostAddress.h"

#include <gtest/gtest.h>

using namespace orvalis::proxy;

namespace {

using TKind = TContactHost::TKind;

TEST(HostAddress, FourDecimalNumbersAreContactedAsWrittenInDecimal) {
    for (const auto& [host, address] :
         std::vector<std::pair<std::string, std::string>>{{"198.18.0230.1", "198.18.230.1"},
                                                          {"010.001.000.009", "10.1.0.9"},
                                                          {"0177.0.0.1", "177.0.0.1"},
                                                          {"198.18.230.1", "198.18.230.1"},
                                                          {"255.255.255.255", "255.255.255.255"}}) {
        const TContactHost contact = ContactHost(host);
        EXPECT_EQ(contact.Kind, TKind::Address) << host;
        EXPECT_EQ(contact.Text, address) << host;
    }
    const auto octets = DecimalIPv4("198.18.0230.1");
    ASSERT_TRUE(octets);
    EXPECT_EQ((*octets)[2], 230);
}

TEST(HostAddress, OtherNumericFormsLiteralsAndControlBytesAreRefused) {
    for (const std::string& host :
         {std::string(), std::string("0x7f.1"), std::string("127.1"), std::string("2130706433"),
          std::string("0x7f000001"), std::string("198.18.230"), std::string("1.2.3.4.5"),
          std::string("1.2.3.256"), std::string("1.2.3.0x4"), std::string("x.198.18.230.1"),
          std::string("::1"), std::string("[::1]"), std::string("fe80::1"),
          std::string("evil.example\0.velmora.com", 25), std::string("a b.example"),
          std::string("a\x7f.example"), std::string("a\t.example")}) {
        EXPECT_EQ(ContactHost(host).Kind, TKind::Refused) << host;
    }
}

TEST(HostAddress, NamesGoToTheResolverUnchanged) {
    for (const char* host : {"www.velmora.com", "1e100.example", "WWW.Velmora.COM", "a-1.b2.c3d"}) {
        const TContactHost contact = ContactHost(host);
        EXPECT_EQ(contact.Kind, TKind::Name) << host;
        EXPECT_EQ(contact.Text, host);
    }
}

} // namespace
