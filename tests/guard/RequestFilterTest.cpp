#include "guard/RequestFilter.h"

#include <gtest/gtest.h>
#include <regex>
#include <thread>

using namespace orvalis;
using guard::TRequestFilter;
using proxy::THTTPProxyServerContext;

namespace {

class RequestFilterTest : public ::testing::Test {
protected:
    RequestFilterTest() {
        rules.MainPageList.Publish(guard::BuildMainPageList());
        rules.HostSuffixList.Publish(guard::BuildHostSuffixList());
    }

    // Judges one request; the target is taken from the Host header as a
    // relay would, unless the test gives one.
    bool Allowed(const std::string& host, const std::string& document = "/",
                 const std::string& referer = "", const char* command = "GET") {
        THTTPProxyServerContext context;
        context.Command = command;
        context.Target = context.Command == "CONNECT" ? host : "http://" + host + document;
        context.Document = document;
        if (!host.empty()) {
            context.Headers.Add("Host: " + host);
        }
        if (!referer.empty()) {
            context.Headers.Add("Referer: " + referer);
        }
        filter.FirewallHTTPBeforeCommand(context);
        return !context.Blocked;
    }

    // Judges a request whose target is given as the browser wrote it.
    bool AllowedTarget(const std::string& target, const std::string& host) {
        THTTPProxyServerContext context;
        context.Command = "GET";
        context.Target = target;
        context.Headers.Add("Host: " + host);
        filter.FirewallHTTPBeforeCommand(context);
        return !context.Blocked;
    }

    std::string Log() {
        return display.Access([](app::TDisplayFields& f) { return f.LogText; });
    }
    int Count() {
        return display.Access([](app::TDisplayFields& f) { return f.BlockedCount; });
    }

    guard::TSiteRules rules;
    guard::TLocationCopy location;
    app::TDisplayState display;
    TRequestFilter filter{rules, location, display};
};

TEST_F(RequestFilterTest, SiteAndPartnerHostsAreAllowed) {
    for (const char* host :
         {"www.velmora.com", "a.b.velmora.com", "www.velmora.com:8080", "WWW.VELMORA.COM",
          "www.velmora.co.kr", "x.adverra.co.kr", "ads.clickvane.com", "www.lumenet.com",
          "s.lumesearch.com", "i1.lumeimg.com", "velmora.com", "velmora.co.kr", "VELMORA.COM"}) {
        EXPECT_TRUE(Allowed(host)) << host;
    }
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(Count(), 0);
}

TEST_F(RequestFilterTest, LookAlikesAndForeignHostsAreRefused) {
    for (const char* host :
         {"evilvelmora.com", "velmora.com.evil.example", "www.velmora.com.evil.example",
          "www.velmora.co.kr:8080", "velmora.com:8080", "lumenet.com", "adverra.co.kr",
          "www.velmora.community", "foreign.example", "velmora.co", "x.velmora.co.kr.evil"}) {
        EXPECT_FALSE(Allowed(host)) << host;
    }
    EXPECT_EQ(Count(), 11);
}

TEST_F(RequestFilterTest, AddressBlocksAtAndBeyondTheirBounds) {
    EXPECT_TRUE(Allowed("198.18.228.1"));
    EXPECT_TRUE(Allowed("198.18.245.254"));
    EXPECT_FALSE(Allowed("198.18.227.1"));
    EXPECT_FALSE(Allowed("198.18.246.1"));
    EXPECT_TRUE(Allowed("198.19.253.7"));
    EXPECT_TRUE(Allowed("198.19.255.7"));
    EXPECT_FALSE(Allowed("198.19.252.7"));
    EXPECT_FALSE(Allowed("198.19.256.7"));
    // The block of one range does not carry over to the other.
    EXPECT_FALSE(Allowed("198.19.230.1"));
    EXPECT_FALSE(Allowed("198.18.254.1"));
    // Leading zeros in the third octet only; a port after the last octet is ignored.
    EXPECT_TRUE(Allowed("198.18.0230.1"));
    EXPECT_FALSE(Allowed("198.018.230.1"));
    EXPECT_FALSE(Allowed("0198.18.230.1"));
    EXPECT_TRUE(Allowed("198.18.230.1:8080"));
    // A name ending in numbers is no address of the block.
    EXPECT_FALSE(Allowed("x.198.18.230.1"));
    EXPECT_FALSE(Allowed("198.18.x.1"));
    EXPECT_FALSE(Allowed("18.230.1"));
}

TEST_F(RequestFilterTest, MusicStreamAndFlashVideo) {
    EXPECT_TRUE(Allowed("stream.example:9575", "/_music128?id=1"));
    EXPECT_TRUE(Allowed("stream.example:9575", "/_MUSIC128?id=1"));
    EXPECT_FALSE(Allowed("stream.example:9576", "/_music128?id=1"));
    EXPECT_TRUE(Allowed("cdn.example", "/v/clip.mp4?key=1", "http://x.example/player.swf"));
    EXPECT_TRUE(Allowed("cdn.example", "/v/clip.MP4?KEY=1", "http://x.example/PLAYER.SWF?a"));
    EXPECT_FALSE(Allowed("cdn.example", "/v/clip.mp4?key=1"));
    EXPECT_FALSE(Allowed("cdn.example", "/v/clip.mp4?key=1", "http://x.example/page.html"));
    EXPECT_FALSE(Allowed("cdn.example", "/v/clip.flv?key=1", "http://x.example/player.swf"));
}

TEST_F(RequestFilterTest, FragmentShapesCountOnlyWhereTheyBelong) {
    EXPECT_FALSE(Allowed("evil.example", "/x?:9575/_music128?"));
    EXPECT_FALSE(Allowed("evil.example:9575", "/x?/_music128?"));
    EXPECT_FALSE(Allowed("evil.example", "/x?a=.mp4?key=1", "http://x.example/player.swf"));
    EXPECT_FALSE(Allowed("evil.example", "/x.mp4?a=1&key=1", "http://x.example/player.swf"));
    EXPECT_FALSE(Allowed("evil.example", "/v/clip.mp4?key=1", "http://x.example/p?m=.swf"));
    EXPECT_TRUE(Allowed("cdn.example", "/v/clip.mp4?key=1", "http://x.example/player.swf?v=3"));
    EXPECT_EQ(Count(), 5);
}

TEST_F(RequestFilterTest, OnlyAbsoluteHttpTargetsPassEvenOnPortalPages) {
    location.Set("http://www.velmora.com/main");
    for (const char* target :
         {"/http://evil.example/x", "/x?u=http://evil.example/y", "https://www.velmora.com/",
          "ftp://www.velmora.com/", "www.velmora.com/", ""}) {
        EXPECT_FALSE(AllowedTarget(target, "www.velmora.com")) << target;
    }
    EXPECT_TRUE(AllowedTarget("HTTP://www.velmora.com/", "www.velmora.com"));
    EXPECT_EQ(Count(), 6);
    EXPECT_NE(Log().find("차단됨: http://www.velmora.com"), std::string::npos);
}

TEST_F(RequestFilterTest, ThisMachineAndControlBytesAreRefusedEvenOnPortalPages) {
    location.Set("http://www.velmora.com/main");
    for (const std::string& host :
         {std::string("localhost"), std::string("LocalHost:8080"), std::string("a.localhost"),
          std::string("localhost."), std::string("127.0.0.1"), std::string("127.1.2.3:80"),
          std::string("0.0.0.0"), std::string("[::1]:80"), std::string("[::]"),
          std::string("2130706433"), std::string("evil.example\0.velmora.com", 25),
          std::string("a\x7f.velmora.com")}) {
        EXPECT_FALSE(Allowed(host)) << host;
    }
    EXPECT_TRUE(Allowed("foreign.example"));
    EXPECT_EQ(Count(), 12);
}

TEST_F(RequestFilterTest, PortalPageLetsEverythingThrough) {
    location.Set("http://WWW.VELMORA.COM/main/index.html");
    EXPECT_TRUE(Allowed("ads.foreign.example"));
    EXPECT_TRUE(Allowed(""));
    location.Set("http://www.velmora.com/other?from=news.velmora.com");
    EXPECT_TRUE(Allowed("foreign.example"));
    location.Set("http://www.velmora.com/other");
    EXPECT_FALSE(Allowed("foreign.example"));
    EXPECT_EQ(Count(), 1);
}

TEST_F(RequestFilterTest, RefusalIsLoggedWithReceivedCaseStatusAndCount) {
    EXPECT_FALSE(Allowed("Foreign.EXAMPLE", "/Path/A.gif?Q=1"));
    std::string log = Log();
    EXPECT_TRUE(std::regex_match(
        log,
        std::regex(
            R"(\[\d{4}.\d\d.\d\d \d\d.\d\d.\d\d\] 차단됨: http://Foreign\.EXAMPLE/Path/A\.gif\?Q=1)")))
        << log;
    display.Access([](app::TDisplayFields& f) {
        EXPECT_EQ(f.StatusText, "차단됨.");
        EXPECT_EQ(f.StatusColor, app::TStatusColor::Highlight);
        EXPECT_TRUE(f.StatusFresh);
        EXPECT_EQ(f.BlockedCount, 1);
        EXPECT_TRUE(f.BlockedCountChanged);
    });
}

TEST_F(RequestFilterTest, MissingHostIsJudgedByDocumentAlone) {
    EXPECT_FALSE(Allowed("", "/a/b.html"));
    EXPECT_NE(Log().find("] 차단됨: http:///a/b.html"), std::string::npos);
    EXPECT_TRUE(Allowed("", "/x.mp4?key=2", "http://h/a.swf"));
}

TEST_F(RequestFilterTest, TunnelIsJudgedByHostWithPort) {
    EXPECT_TRUE(Allowed("www.velmora.com:443", "", "", "CONNECT"));
    EXPECT_FALSE(Allowed("www.velmora.co.kr:443", "", "", "CONNECT"));
    EXPECT_NE(Log().find("차단됨: http://www.velmora.co.kr:443"), std::string::npos);
}

TEST_F(RequestFilterTest, RecentRefusalsAreKnownByTheirAddress) {
    EXPECT_FALSE(Allowed("Foreign.EXAMPLE", "/a?b=1"));
    EXPECT_FALSE(Allowed("www.velmora.co.kr:443", "", "", "CONNECT"));
    EXPECT_TRUE(Allowed("www.velmora.com", "/a"));
    EXPECT_TRUE(filter.RecentlyRefused("http://foreign.example/a?b=1#top"));
    EXPECT_TRUE(filter.RecentlyRefused("https://www.velmora.co.kr/any"));
    EXPECT_FALSE(filter.RecentlyRefused("http://foreign.example/a"));
    EXPECT_FALSE(filter.RecentlyRefused("http://www.velmora.com/a"));
    // Only the last ones are kept.
    for (size_t i = 0; i < TRequestFilter::RefusalsKept; ++i) {
        Allowed("foreign.example", "/" + std::to_string(i));
    }
    EXPECT_FALSE(filter.RecentlyRefused("http://foreign.example/a?b=1"));
    EXPECT_TRUE(filter.RecentlyRefused("http://foreign.example/0"));
}

TEST_F(RequestFilterTest, UnlistedRulesMatchNothingUntilPublished) {
    guard::TSiteRules empty;
    TRequestFilter early(empty, location, display);
    THTTPProxyServerContext context;
    context.Target = "http://www.velmora.com/";
    context.Headers.Add("Host: www.velmora.com");
    early.FirewallHTTPBeforeCommand(context);
    EXPECT_TRUE(context.Blocked);
}

// The relay contacts the target of its request line; a Host header naming
// another host or port must not decide for it.
class TargetMismatchTest : public RequestFilterTest {
protected:
    bool AllowedWithTarget(const std::string& hostHeader, const std::string& targetHost,
                           uint16_t targetPort, const char* command = "GET") {
        THTTPProxyServerContext context;
        context.Command = command;
        context.Target = context.Command == "CONNECT"
                             ? targetHost + ':' + std::to_string(targetPort)
                             : "http://" + targetHost + ':' + std::to_string(targetPort) + '/';
        context.Headers.Add("Host: " + hostHeader);
        context.OriginClient = std::make_unique<proxy::TTCPClient>();
        context.OriginClient->SetHost(targetHost);
        context.OriginClient->SetPort(targetPort);
        filter.FirewallHTTPBeforeCommand(context);
        return !context.Blocked;
    }
};

TEST_F(TargetMismatchTest, HostAndPortMustNameTheTarget) {
    EXPECT_TRUE(AllowedWithTarget("www.velmora.com", "www.velmora.com", 80));
    EXPECT_TRUE(AllowedWithTarget("WWW.Velmora.com", "www.VELMORA.com", 80));
    EXPECT_TRUE(AllowedWithTarget("www.velmora.com:8080", "www.velmora.com", 8080));
    EXPECT_FALSE(AllowedWithTarget("www.velmora.com", "evil.example", 80));
    EXPECT_FALSE(AllowedWithTarget("www.velmora.com", "www.velmora.com", 8080));
    EXPECT_FALSE(AllowedWithTarget("www.velmora.com:80", "www.velmora.com", 25));
    EXPECT_FALSE(AllowedWithTarget("www.velmora.com:x", "www.velmora.com", 80));
    EXPECT_EQ(Count(), 4);
}

TEST_F(TargetMismatchTest, TunnelDefaultsTo443) {
    EXPECT_TRUE(AllowedWithTarget("www.velmora.com", "www.velmora.com", 443, "CONNECT"));
    EXPECT_TRUE(AllowedWithTarget("www.velmora.com:443", "www.velmora.com", 443, "CONNECT"));
    EXPECT_FALSE(AllowedWithTarget("www.velmora.com", "www.velmora.com", 80, "CONNECT"));
    EXPECT_FALSE(AllowedWithTarget("www.velmora.com:443", "evil.example", 443, "CONNECT"));
}

TEST_F(TargetMismatchTest, RefusedTunnelIsLoggedWithItsTargetPort) {
    EXPECT_FALSE(AllowedWithTarget("evil.example", "evil.example", 8443, "CONNECT"));
    EXPECT_FALSE(AllowedWithTarget("evil.example:443", "evil.example", 443, "CONNECT"));
    EXPECT_NE(Log().find("차단됨: http://evil.example:8443\r\n"), std::string::npos) << Log();
    EXPECT_NE(Log().find("차단됨: http://evil.example:443"), std::string::npos) << Log();
    // A page naming this machine as a tunnel's target is refused too.
    location.Set("http://news.velmora.com/");
    EXPECT_FALSE(AllowedWithTarget("www.velmora.com", "127.0.0.1", 443, "CONNECT"));
}

TEST_F(TargetMismatchTest, MatchingHelperCases) {
    using guard::HostHeaderMatchesTarget;
    EXPECT_TRUE(HostHeaderMatchesTarget("[::1]:81", "::1", 81, false));
    EXPECT_TRUE(HostHeaderMatchesTarget("[::1]", "::1", 80, false));
    EXPECT_FALSE(HostHeaderMatchesTarget("[::1", "::1", 80, false));
    EXPECT_FALSE(HostHeaderMatchesTarget("[::1]x", "::1", 80, false));
    EXPECT_TRUE(HostHeaderMatchesTarget("h:", "h", 80, false));
    EXPECT_FALSE(HostHeaderMatchesTarget("h:99999999999", "h", 80, false));
    EXPECT_FALSE(HostHeaderMatchesTarget("h:65616", "h", 80, false));
}

TEST_F(TargetMismatchTest, PortalPageStillLetsEverythingThrough) {
    location.Set("http://news.velmora.com/");
    EXPECT_TRUE(AllowedWithTarget("www.velmora.com", "evil.example", 80));
}

TEST_F(RequestFilterTest, ConcurrentBlocksLoseNoCountOrLine) {
    constexpr int threads = 16;
    constexpr int perThread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([this, t] {
            for (int i = 0; i < perThread; ++i) {
                THTTPProxyServerContext context;
                context.Headers.Add("Host: t" + std::to_string(t) + ".example");
                context.Document = "/r" + std::to_string(i);
                filter.FirewallHTTPBeforeCommand(context);
                EXPECT_TRUE(context.Blocked);
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    EXPECT_EQ(Count(), threads * perThread);
    std::string log = Log();
    std::regex line(R"(\[[^\]]+\] 차단됨: http://t(\d+)\.example/r(\d+))");
    std::vector<std::vector<int>> seen(threads, std::vector<int>(perThread, 0));
    size_t start = 0;
    int lines = 0;
    while (start <= log.size()) {
        size_t end = log.find("\r\n", start);
        std::string one =
            log.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(one, m, line)) << one;
        ++seen[std::stoi(m[1])][std::stoi(m[2])];
        ++lines;
        if (end == std::string::npos) {
            break;
        }
        start = end + 2;
    }
    EXPECT_EQ(lines, threads * perThread);
    for (const auto& perT : seen) {
        for (int n : perT) {
            EXPECT_EQ(n, 1);
        }
    }
}

} // namespace
