#include "guard/Firewall.h"

#include "tests/proxy/Loopback.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

using namespace orvalis;
using namespace orvalis::proxy::testing;

namespace {

// The firewall as the program configures it, on a free port, with the real
// request filter and rule lists.
class Firewall : public ::testing::Test {
protected:
    void SetUp() override {
        rules.MainPageList.Publish(guard::BuildMainPageList());
        rules.HostSuffixList.Publish(guard::BuildHostSuffixList());
        port = FreePort();
        guard::ConfigureFirewall(firewall, port, filter);
        firewall.SetActive(true);
    }
    std::string LogText() {
        return display.Access([](app::TDisplayFields& f) { return f.LogText; });
    }
    int BlockedCount() {
        return display.Access([](app::TDisplayFields& f) { return f.BlockedCount; });
    }

    guard::TSiteRules rules;
    guard::TLocationCopy location;
    app::TDisplayState display;
    guard::TRequestFilter filter{rules, location, display};
    proxy::THTTPProxyServer firewall;
    uint16_t port = 0;
};

TEST_F(Firewall, ListensOnLoopbackOnlyWithTheProgramsSettings) {
    EXPECT_EQ(firewall.MaxConnections, 50);
    EXPECT_EQ(firewall.DefaultTransferMode, proxy::THTTPProxyTransferMode::tmStreaming);
    ASSERT_GE(firewall.Bindings.Count(), 1);
    EXPECT_EQ(firewall.Bindings[0].IP, "127.0.0.1");
    EXPECT_EQ(firewall.Bindings[0].Port, port);
    if (proxy::TStack::SupportsIPv6()) {
        ASSERT_EQ(firewall.Bindings.Count(), 2);
        EXPECT_EQ(firewall.Bindings[1].IPVersion(), proxy::TIPVersion::IPv6);
        EXPECT_EQ(firewall.Bindings[1].Port, port);
        int fd = ConnectRaw("::1", port);
        EXPECT_GE(fd, 0);
        CloseRaw(fd);
    }
    // The queue the kernel keeps for each listening socket (reported in
    // tcpi_sacked): room for a page's burst of connections.
    for (int i = 0; i < firewall.Bindings.Count(); ++i) {
        tcp_info info{};
        socklen_t size = sizeof info;
        ASSERT_EQ(getsockopt(firewall.Bindings[i].Handle(), IPPROTO_TCP, TCP_INFO, &info, &size),
                  0);
        EXPECT_EQ(info.tcpi_sacked, 128u);
    }
}

TEST_F(Firewall, RefusesForeignHostsAndHostHeadersNamingAnotherTarget) {
    TRawListener origin;
    const std::string target = "127.0.0.1:" + std::to_string(origin.Port());
    for (const std::string& request :
         {"GET http://" + target + "/x HTTP/1.1\r\nHost: " + target + "\r\n\r\n",
          "GET http://" + target + "/y HTTP/1.1\r\nHost: www.velmora.com\r\n\r\n",
          "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n"}) {
        int fd = ConnectRaw("127.0.0.1", port);
        SendAll(fd, request);
        EXPECT_TRUE(PeerClosed(fd)) << request;
        CloseRaw(fd);
    }
    EXPECT_EQ(origin.Accept(200), -1);
    EXPECT_EQ(BlockedCount(), 3);
    const std::string log = LogText();
    EXPECT_NE(log.find("차단됨: http://" + target + "/x"), std::string::npos) << log;
    EXPECT_NE(log.find("차단됨: http://www.velmora.com/y"), std::string::npos) << log;
}

TEST_F(Firewall, FiftyFirstConnectionIsTurnedAway) {
    std::vector<int> held;
    for (int i = 0; i < 50; ++i) {
        held.push_back(ConnectRaw("127.0.0.1", port));
    }
    ASSERT_TRUE(WaitUntil([this] { return firewall.LiveContextCount() == 50; }, 30000));
    int extra = ConnectRaw("127.0.0.1", port);
    EXPECT_EQ(ReceiveAll(extra), "300 Too many connections. Try again later.\r\n");
    CloseRaw(extra);
    for (int fd : held) {
        CloseRaw(fd);
    }
}

} // namespace
