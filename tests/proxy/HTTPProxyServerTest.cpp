#include "proxy/HTTPProxyServer.h"

#include "proxy/NetExceptions.h"
#include "tests/proxy/Loopback.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace orvalis::proxy;
using namespace orvalis::proxy::testing;

namespace {

using Clock = std::chrono::steady_clock;

// An origin server on loopback that serves one connection by a script: it
// reads one request (header block plus a body of its Content-Length), keeps
// the exact bytes, sends `response` and then closes, resets or hangs.
class TScriptedOrigin {
public:
    enum class TEnd { Close, Reset, Hang };

    TScriptedOrigin(std::string response, TEnd end = TEnd::Close)
        : response_(std::move(response)), end_(end), thread_([this] { Serve(); }) {}
    ~TScriptedOrigin() {
        release_ = true;
        thread_.join();
    }
    uint16_t Port() const { return listener_.Port(); }
    bool Contacted() const { return contacted_; }
    std::string Request() {
        WaitUntil([this] { return served_.load(); });
        std::lock_guard lock(lock_);
        return request_;
    }

private:
    void Serve() {
        int fd = -1;
        while (fd < 0 && !release_) {
            fd = listener_.Accept(100);
        }
        if (fd < 0) {
            return;
        }
        contacted_ = true;
        std::string bytes;
        size_t head = std::string::npos;
        while (head == std::string::npos) {
            std::string piece = ReceiveSome(fd, 65536, 5000);
            if (piece.empty()) {
                break;
            }
            bytes += piece;
            head = bytes.find("\r\n\r\n");
        }
        // A body in chunks ends with an empty line after its last chunk.
        std::string lowered = bytes.substr(0, head);
        std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const bool chunked = head != std::string::npos &&
                             lowered.find("transfer-encoding:") != std::string::npos &&
                             lowered.find("chunked") != std::string::npos;
        while (chunked && !(bytes.size() > head + 4 && bytes.ends_with("\r\n\r\n"))) {
            std::string piece = ReceiveSome(fd, 65536, 5000);
            if (piece.empty()) {
                break;
            }
            bytes += piece;
        }
        size_t want =
            head == std::string::npos || chunked ? bytes.size() : head + 4 + DeclaredBody(bytes);
        while (bytes.size() < want) {
            std::string piece = ReceiveSome(fd, want - bytes.size(), 5000);
            if (piece.empty()) {
                break;
            }
            bytes += piece;
        }
        {
            std::lock_guard lock(lock_);
            request_ = bytes;
        }
        served_ = true;
        try {
            SendAll(fd, response_);
        } catch (const std::exception&) {
            // The proxy gave up on this response first.
        }
        if (end_ == TEnd::Reset) {
            linger option{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        } else if (end_ == TEnd::Hang) {
            WaitUntil([this] { return release_.load(); }, 60000);
        }
        CloseRaw(fd);
    }
    static size_t DeclaredBody(const std::string& bytes) {
        const size_t at = bytes.find("Content-Length: ");
        return at == std::string::npos ? 0 : std::stoul(bytes.substr(at + 16));
    }

    TRawListener listener_;
    std::string response_;
    TEnd end_;
    std::mutex lock_;
    std::string request_;
    std::atomic<bool> contacted_{false};
    std::atomic<bool> served_{false};
    std::atomic<bool> release_{false};
    std::thread thread_;
};

// A proxy on 127.0.0.1 of a free port; proves at the end of each test that
// no descriptor or thread is left once it has stopped.
class Proxy : public ::testing::Test {
protected:
    void SetUp() override {
        descriptors_ = CountOpenDescriptors();
        threads_ = CountThreads();
        proxy_ = std::make_unique<THTTPProxyServer>();
        TSocketHandle& binding = proxy_->Bindings.Add();
        binding.IP = "127.0.0.1";
        binding.Port = 0;
        proxy_->DefaultTransferMode = THTTPProxyTransferMode::tmStreaming;
    }
    void TearDown() override {
        proxy_.reset();
        EXPECT_EQ(CountOpenDescriptors(), descriptors_);
        EXPECT_TRUE(WaitUntil([this] { return CountThreads() <= threads_; }))
            << CountThreads() << " threads, " << threads_ << " before";
    }
    THTTPProxyServer& Server() { return *proxy_; }
    uint16_t Start() {
        proxy_->SetActive(true);
        return proxy_->Bindings[0].Port;
    }
    // Sends `request` to the proxy; everything it answers until it closes.
    std::string Exchange(const std::string& request) {
        int fd = ConnectRaw("127.0.0.1", proxy_->Bindings[0].Port);
        SendAll(fd, request);
        std::string answer = ReceiveAll(fd, 20000);
        CloseRaw(fd);
        return answer;
    }
    static std::string Get(uint16_t port, const std::string& path,
                           const std::string& method = "GET") {
        return method + " http://127.0.0.1:" + std::to_string(port) + path +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    }

private:
    int descriptors_ = 0;
    int threads_ = 0;
    std::unique_ptr<THTTPProxyServer> proxy_;
};

// `count` bytes, or fewer when the peer stops sending for long.
const std::string OkHello = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

TEST(ProxyNumbers, PortsAndLengths) {
    EXPECT_EQ(TargetPort("", 80), 80);
    EXPECT_EQ(TargetPort("ab", 80), 80);
    EXPECT_EQ(TargetPort("8081", 80), 8081);
    EXPECT_EQ(TargetPort("65535", 443), 65535);
    // Cut to 16 bits these would name port 80 and 65535.
    EXPECT_THROW(TargetPort("65616", 80), EInvalidPortRange);
    EXPECT_THROW(TargetPort("-1", 80), EInvalidPortRange);

    EXPECT_EQ(DeclaredLength(" 12 "), 12);
    EXPECT_EQ(DeclaredLength("0"), 0);
    EXPECT_EQ(DeclaredLength("3000000000"), 3000000000LL);
    for (const char* notALength :
         {"", "-5", "+5", "0x10", "$10", "1 2", "12a", "9999999999999999999999"}) {
        EXPECT_EQ(DeclaredLength(notALength), -1) << notALength;
    }
}

TEST_F(Proxy, RewritesOnlyTheRequestLine) {
    TScriptedOrigin origin(
        "HTTP/1.1 304 Not Modified\r\n..X-Back: 1\r\nETag: \"\xc3\xa9\"\r\n\r\n");
    Start();
    const std::string port = std::to_string(origin.Port());
    const std::string answer =
        Exchange("get  http://127.0.0.1:" + port + "/a/b.asp?x=1&y=2   HTTP/1.1\r\n" +
                 "Host: 127.0.0.1:" + port + "\r\n..X-Dots: 1\r\nCookie: \xed\x95\x9c=\xff\r\n" +
                 "Connection: keep-alive\r\n\r\n");
    EXPECT_EQ(origin.Request(), "GET /a/b.asp?x=1&y=2 HTTP/1.0\r\nHost: 127.0.0.1:" + port +
                                    "\r\n.X-Dots: 1\r\nCookie: \xed\x95\x9c=\xff\r\n"
                                    "Connection: keep-alive\r\n\r\n");
    EXPECT_EQ(answer, "HTTP/1.1 304 Not Modified\r\n.X-Back: 1\r\nETag: \"\xc3\xa9\"\r\n\r\n");
}

TEST_F(Proxy, EqualsSignWithoutQuestionMarkBecomesQuery) {
    TScriptedOrigin origin(OkHello);
    Start();
    EXPECT_EQ(Exchange(Get(origin.Port(), "/a=b")), OkHello);
    EXPECT_TRUE(origin.Request().starts_with("GET /a?b HTTP/1.0\r\n"));
}

TEST_F(Proxy, RequestBodyFollowsContentLengthOnly) {
    struct Case {
        std::string lengthHeader;
        std::string body;
        std::string forwarded;
    };
    const Case cases[] = {
        {"Content-Length: 12\r\n", "twelve bytes and more", "twelve bytes"},
        {"Content-Length: 0\r\n", "ignored", ""},
        {"", "ignored", ""},
        // Not a decimal length: no body, not 16 bytes.
        {"Content-Length: 0x10\r\n", "0123456789abcdef", ""},
        // Large enough to move socket to socket in the kernel: still exact.
        {"Content-Length: 300000\r\n", std::string(300000, 'p') + "and more",
         std::string(300000, 'p')},
    };
    Start();
    for (const Case& c : cases) {
        TScriptedOrigin origin(OkHello);
        const std::string head = "POST http://127.0.0.1:" + std::to_string(origin.Port()) +
                                 "/form HTTP/1.1\r\nHost: h\r\n" + c.lengthHeader + "\r\n";
        EXPECT_EQ(Exchange(head + c.body), OkHello);
        const std::string forwardedHead =
            "POST /form HTTP/1.0\r\nHost: h\r\n" + c.lengthHeader + "\r\n";
        EXPECT_EQ(origin.Request(), forwardedHead + c.forwarded) << c.lengthHeader;
    }
}

TEST_F(Proxy, ChunkedRequestBodyKeepsItsFramingUpToItsEnd) {
    struct Case {
        std::string headers;
        std::string body;
        std::string forwarded;
    };
    const std::string chunks = "5\r\nhello\r\n6;name=value\r\n world\r\n0\r\n";
    const Case cases[] = {
        {"Transfer-Encoding: chunked\r\n", chunks + "\r\nBEYOND", chunks + "\r\n"},
        {"Transfer-Encoding: gzip, Chunked\r\n", chunks + "X-Sum: 11\r\n\r\n",
         chunks + "X-Sum: 11\r\n\r\n"},
        // The framing, not the length beside it, tells where the body ends.
        {"Content-Length: 3\r\nTransfer-Encoding: chunked\r\n", chunks + "\r\n", chunks + "\r\n"},
        // A chunk of 40,000 bytes crosses the proxy's read size.
        {"Transfer-Encoding: chunked\r\n", "9c40\r\n" + std::string(40000, 'x') + "\r\n0\r\n\r\n",
         "9c40\r\n" + std::string(40000, 'x') + "\r\n0\r\n\r\n"},
    };
    Start();
    for (const Case& c : cases) {
        TScriptedOrigin origin(OkHello);
        const std::string head = "POST http://127.0.0.1:" + std::to_string(origin.Port()) +
                                 "/form HTTP/1.1\r\nHost: h\r\n" + c.headers + "\r\n";
        EXPECT_EQ(Exchange(head + c.body), OkHello) << c.headers;
        // Chunks are HTTP/1.1 framing: the request leaves under that version,
        // asking the origin to close after its response.
        EXPECT_EQ(origin.Request(), "POST /form HTTP/1.1\r\nHost: h\r\n" + c.headers +
                                        "Connection: close\r\n\r\n" + c.forwarded)
            << c.headers;
    }
}

TEST_F(Proxy, MalformedChunkEndsTheRelayAfterTheHead) {
    Start();
    for (const std::string body : {"zz\r\nhello\r\n0\r\n\r\n", "5\r\nhelloXX\r\n0\r\n\r\n"}) {
        TScriptedOrigin origin(OkHello);
        const std::string head = "POST http://127.0.0.1:" + std::to_string(origin.Port()) +
                                 "/form HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
        EXPECT_EQ(Exchange(head + body), "") << body;
        EXPECT_EQ(origin.Request().substr(0, 19), "POST /form HTTP/1.1") << body;
        EXPECT_EQ(origin.Request().find("0\r\n\r\n"), std::string::npos) << body;
    }
}

TEST_F(Proxy, ResponseBodyByLengthOrUntilClose) {
    struct Case {
        std::string response;
        std::string relayed;
    };
    const std::string big(100000, 'b');
    const std::string huge(2000000, 'h');
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello and more", OkHello},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nextra",
         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
        {"HTTP/1.0 200 OK\r\n\r\n" + big, "HTTP/1.0 200 OK\r\n\r\n" + big},
        {"HTTP/1.0 200 OK\r\ncontent-length: -5\r\n\r\nall of it",
         "HTTP/1.0 200 OK\r\ncontent-length: -5\r\n\r\nall of it"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2000000\r\n\r\n" + huge + "tail",
         "HTTP/1.1 200 OK\r\nContent-Length: 2000000\r\n\r\n" + huge},
    };
    Start();
    for (const Case& c : cases) {
        TScriptedOrigin origin(c.response);
        EXPECT_EQ(Exchange(Get(origin.Port(), "/")), c.relayed);
    }
}

TEST_F(Proxy, BodilessResponsesEndWithTheirHeaderBlock) {
    Start();
    // The origin keeps its connection open: only the header block ends these.
    TScriptedOrigin head("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n",
                         TScriptedOrigin::TEnd::Hang);
    EXPECT_EQ(Exchange(Get(head.Port(), "/", "HEAD")),
              "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
    TScriptedOrigin noContent("HTTP/1.1 204 No Content\r\n\r\n", TScriptedOrigin::TEnd::Hang);
    EXPECT_EQ(Exchange(Get(noContent.Port(), "/")), "HTTP/1.1 204 No Content\r\n\r\n");
}

TEST_F(Proxy, EventsSeeTheRequestAndARefusalSendsNothing) {
    std::mutex lock;
    std::vector<std::string> seen;
    Server().OnHTTPBeforeCommand = [&](THTTPProxyServerContext& AContext) {
        std::lock_guard guard(lock);
        seen.push_back(AContext.Command + " " + AContext.OriginClient->Host() + ":" +
                       std::to_string(AContext.OriginClient->Port()) + " " + AContext.Document +
                       " " + AContext.Headers.ValueOf("Host") +
                       (AContext.OriginClient->Connected() ? " connected" : ""));
        AContext.Blocked = true;
    };
    TScriptedOrigin origin(OkHello);
    Start();
    const std::string port = std::to_string(origin.Port());
    EXPECT_EQ(Exchange(Get(origin.Port(), "/p?q") + "body never read"), "");
    EXPECT_EQ(Exchange("CONNECT 127.0.0.1:" + port + " HTTP/1.1\r\nHost: x:1\r\n\r\n"), "");
    EXPECT_EQ(Exchange("GET http://other/ HTTP/1.1\r\n\r\n"), "");
    EXPECT_FALSE(origin.Contacted());
    std::lock_guard guard(lock);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"GET 127.0.0.1:" + port + " /p?q 127.0.0.1",
                                        "CONNECT 127.0.0.1:" + port + "  x:1", "GET other:80 / "}));
}

TEST_F(Proxy, ClientReconnectingTheMomentItIsClosedFindsItsPlaceFree) {
    Server().MaxConnections = 1;
    Server().OnHTTPBeforeCommand = [](THTTPProxyServerContext& AContext) {
        AContext.Blocked = true;
    };
    Start();
    // The client sees its connection close while the proxy's thread is still
    // ending it; the place must already be free for the next connection.
    int refused = 0;
    for (int i = 0; i < 300; ++i) {
        if (!Exchange(Get(FreePort(), "/")).empty()) {
            ++refused;
        }
    }
    EXPECT_EQ(refused, 0);
}

TEST_F(Proxy, FullDocumentModeOffersBodiesToTheHandlers) {
    Server().DefaultTransferMode = THTTPProxyTransferMode::tmFullDocument;
    Server().OnHTTPResponse = [](THTTPProxyServerContext& AContext) {
        const std::string length = AContext.Headers.ValueOf("Content-Length");
        AContext.Headers.Clear();
        AContext.Headers.Add("HTTP/1.0 200 Rewritten");
        AContext.Headers.Add("Content-Length: " + length);
    };
    Server().OnHTTPDocument = [](THTTPProxyServerContext& AContext,
                                 std::unique_ptr<TStream>& VStream) {
        std::string bytes(static_cast<size_t>(VStream->Size()), '\0');
        VStream->Read(bytes.data(), VStream->Size());
        if (AContext.TransferDirection == THTTPProxyTransferDirection::tdFromBrowser) {
            for (char& c : bytes) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        VStream = std::make_unique<TMemoryStream>(bytes);
    };
    // A forged length does not reserve memory: the body is read as it comes.
    TScriptedOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\nhello");
    Start();
    EXPECT_EQ(Exchange("POST http://127.0.0.1:" + std::to_string(origin.Port()) +
                       "/ HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"),
              "HTTP/1.0 200 Rewritten\r\nContent-Length: 2000000000\r\n\r\n");
    EXPECT_EQ(origin.Request(), "POST / HTTP/1.0\r\nContent-Length: 3\r\n\r\nABC");
}

TEST_F(Proxy, HelpUnknownMethodsAndEmptyLines) {
    Start();
    int fd = ConnectRaw("127.0.0.1", Server().Bindings[0].Port);
    // Nothing is sent before the first line: the greeting is cleared.
    EXPECT_EQ(ReceiveSome(fd, 100, 300), "");
    SendAll(fd, "\r\nhelp\r\n");
    const std::string help = "100 Help follows\r\nCONNECT\r\n\r\nGET\r\n\r\nHEAD\r\n\r\nHelp\r\n"
                             "  Displays commands that the servers supports.\r\n\r\nPOST\r\n\r\n"
                             ".\r\n";
    std::string got;
    WaitUntil([&] {
        got += ReceiveSome(fd, 4096, 200);
        return got.size() >= help.size();
    });
    EXPECT_EQ(got, help);
    SendAll(fd, "PUT http://h/ HTTP/1.1\r\nHost: h\r\n\r\nDELETE / HTTP/1.1\r\n");
    const std::string unknown =
        "400 PUT http://h/ HTTP/1.1\r\n400 Host: h\r\n400 DELETE / HTTP/1.1\r\n";
    got.clear();
    WaitUntil([&] {
        got += ReceiveSome(fd, 4096, 200);
        return got.size() >= unknown.size();
    });
    EXPECT_EQ(got, unknown);
    // Still open: a method without its target then ends it without a reply.
    SendAll(fd, "GET\r\n\r\n");
    EXPECT_EQ(ReceiveAll(fd), "");
    CloseRaw(fd);
}

TEST_F(Proxy, TunnelRepliesThenCopiesBothWaysAndDeliversLastBytes) {
    TRawListener target;
    Start();
    int fd = ConnectRaw("127.0.0.1", Server().Bindings[0].Port);
    SendAll(fd, "CONNECT 127.0.0.1:" + std::to_string(target.Port()) +
                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Not-Forwarded: 1\r\n\r\n");
    int server = target.Accept();
    ASSERT_GE(server, 0);
    const std::string reply =
        "HTTP/1.0 200 Connection established\r\nProxy-agent: Orvalis-Proxy/1.1\r\n\r\n";
    std::string got;
    WaitUntil([&] {
        got += ReceiveSome(fd, 4096, 200);
        return got.size() >= reply.size();
    });
    EXPECT_EQ(got, reply);
    SendAll(fd, "client hello");
    EXPECT_EQ(ReceiveSome(server, 100), "client hello");
    // The server speaks, then closes at once: its last bytes still arrive.
    SendAll(server, std::string(50000, 's'));
    CloseRaw(server);
    EXPECT_EQ(ReceiveAll(fd), std::string(50000, 's'));
    CloseRaw(fd);
}

TEST_F(Proxy, TunnelCarriesBothDirectionsAtOnceWithoutStalling) {
    TRawListener target;
    Start();
    int fd = ConnectRaw("127.0.0.1", Server().Bindings[0].Port);
    SendAll(fd, "CONNECT 127.0.0.1:" + std::to_string(target.Port()) + " HTTP/1.1\r\n\r\n");
    int server = target.Accept();
    ASSERT_GE(server, 0);
    EXPECT_EQ(ReceiveSome(fd, 71).size(), 71U);
    // Both ends write far more than the socket buffers hold before reading:
    // a tunnel that blocks in one direction would stall the other for good.
    const std::string up(8 << 20, 'u');
    const std::string down(8 << 20, 'd');
    std::thread serverSide([&] {
        SendAll(server, down);
        EXPECT_EQ(ReceiveExactly(server, up.size()).size(), up.size());
        CloseRaw(server);
    });
    std::thread clientSide([&] { SendAll(fd, up); });
    const std::string got = ReceiveExactly(fd, down.size());
    clientSide.join();
    serverSide.join();
    EXPECT_EQ(got, down);
    CloseRaw(fd);
}

TEST_F(Proxy, TunnelTargetsAndFailures) {
    TRawListener target;
    Start();
    // An unreachable target: nothing at all comes back.
    EXPECT_EQ(Exchange("CONNECT 127.0.0.1:" + std::to_string(FreePort()) + " HTTP/1.1\r\n\r\n"),
              "");
    EXPECT_EQ(Exchange("CONNECT 127.0.0.1:70000 HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Exchange("CONNECT :443 HTTP/1.1\r\n\r\n"), "");
    // The browser closes its side: the target's connection ends too.
    int fd = ConnectRaw("127.0.0.1", Server().Bindings[0].Port);
    SendAll(fd, "CONNECT 127.0.0.1:" + std::to_string(target.Port()) + " HTTP/1.0\r\n\r\nearly");
    int server = target.Accept();
    ASSERT_GE(server, 0);
    EXPECT_EQ(ReceiveSome(server, 5), "early");
    CloseRaw(fd);
    EXPECT_TRUE(PeerClosed(server));
    CloseRaw(server);
}

TEST_F(Proxy, OriginFaultsEndTheConnectionAfterWhatArrived) {
    Start();
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n";
    TScriptedOrigin shortBody(head + "0123456789");
    EXPECT_EQ(Exchange(Get(shortBody.Port(), "/")), head + "0123456789");
    TScriptedOrigin reset(head + "0123456789", TScriptedOrigin::TEnd::Reset);
    const std::string got = Exchange(Get(reset.Port(), "/"));
    EXPECT_TRUE(got.starts_with(head)) << got;
    EXPECT_LE(got.size(), head.size() + 10);
    // A large body cut short arrives as far as it came, then the close.
    const std::string bigHead = "HTTP/1.1 200 OK\r\nContent-Length: 3000000\r\n\r\n";
    TScriptedOrigin cut(bigHead + std::string(1000000, 'c'));
    EXPECT_EQ(Exchange(Get(cut.Port(), "/")), bigHead + std::string(1000000, 'c'));
    // Refused port, a name that does not resolve, port 0, a port beyond 16 bits.
    EXPECT_EQ(Exchange(Get(FreePort(), "/")), "");
    EXPECT_EQ(Exchange("GET http://no-such-host.invalid/ HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Exchange("GET http://127.0.0.1:0/ HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(Exchange("GET http://127.0.0.1:65616/ HTTP/1.1\r\n\r\n"), "");
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }));
}

TEST_F(Proxy, OriginSilentBeyondTheReadTimeoutIsGivenUp) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n";
    TScriptedOrigin silent("", TScriptedOrigin::TEnd::Hang);
    TScriptedOrigin stopsMidBody(head + "0123", TScriptedOrigin::TEnd::Hang);
    Server().OriginReadTimeout = 300;
    Start();
    const auto start = Clock::now();
    EXPECT_EQ(Exchange(Get(silent.Port(), "/")), "");
    EXPECT_EQ(Exchange(Get(stopsMidBody.Port(), "/")), head + "0123");
    // Each gives up after its own silence, not after the 20 s the client waits.
    EXPECT_LT(MillisecondsSince(start), 10000);
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }));
}

TEST_F(Proxy, OverlongHeaderLineContactsNobody) {
    TScriptedOrigin origin(OkHello);
    Start();
    const std::string line = "X-Long: " + std::string(16385 - 8, 'x');
    EXPECT_EQ(Exchange(Get(origin.Port(), "/").substr(0, 40) + "\r\n" + line + "\r\n\r\n").size(),
              0U);
    EXPECT_FALSE(origin.Contacted());
}

TEST_F(Proxy, ClientAbortingMidResponseEndsTheRelay) {
    TScriptedOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 50000000\r\n\r\n" +
                           std::string(20000000, 'z'));
    Start();
    int fd = ConnectRaw("127.0.0.1", Server().Bindings[0].Port);
    SendAll(fd, Get(origin.Port(), "/"));
    EXPECT_FALSE(ReceiveSome(fd, 1000).empty());
    CloseRaw(fd);
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }, 20000));
}

TEST_F(Proxy, DeactivationEndsRelaysAndTunnelsInFlight) {
    TScriptedOrigin silent("", TScriptedOrigin::TEnd::Hang);
    TRawListener target;
    Start();
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(ConnectRaw("127.0.0.1", Server().Bindings[0].Port));
    }
    SendAll(clients[0], Get(silent.Port(), "/hang"));
    SendAll(clients[1], "CONNECT 127.0.0.1:" + std::to_string(target.Port()) + " HTTP/1.1\r\n\r\n");
    SendAll(clients[2], "GET http://127.0.0.1/ HTTP/1.1\r\n"); // headers never end
    int tunnelEnd = target.Accept();
    ASSERT_GE(tunnelEnd, 0);
    const std::string established = "HTTP/1.0 200 Connection established\r\n";
    std::string reply;
    WaitUntil([&] {
        reply += ReceiveSome(clients[1], 4096, 200);
        return reply.size() >= established.size() + 34;
    });
    ASSERT_TRUE(reply.starts_with(established));
    ASSERT_TRUE(WaitUntil([&] { return silent.Contacted(); }));
    ASSERT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 3; }));
    const auto start = Clock::now();
    Server().SetActive(false);
    EXPECT_LT(MillisecondsSince(start), 1000);
    for (int fd : clients) {
        EXPECT_TRUE(PeerClosed(fd, 5000));
        CloseRaw(fd);
    }
    CloseRaw(tunnelEnd);
}

TEST_F(Proxy, FloodOfConnectionsIsServedOrRefusedCleanly) {
    TRawListener origin(TIPVersion::IPv4, 256);
    Server().MaxConnections = 50;
    Start();
    std::vector<int> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(ConnectRaw("127.0.0.1", Server().Bindings[0].Port));
    }
    for (int fd : clients) {
        if (fd >= 0) {
            SendAll(fd, "HELP\r\n");
        }
    }
    int answered = 0;
    for (int fd : clients) {
        if (fd >= 0 && !ReceiveSome(fd, 3, 20000).empty()) {
            ++answered;
        }
        CloseRaw(fd);
    }
    EXPECT_EQ(answered, 200);
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }, 20000));
}

// Sends `line` over and over (at most `limit` bytes) until the peer stops taking it.
void SendUntilRefused(int fd, const std::string& line, size_t limit) {
    try {
        for (size_t sent = 0; sent < limit; sent += line.size()) {
            SendAll(fd, line);
        }
    } catch (const std::runtime_error&) {
        // The proxy closed the connection: what it was meant to do.
    }
}

// A request head of `size` bytes: the request line for `port`, filler
// header lines, the empty line.
std::string HeadOfSize(uint16_t port, size_t size) {
    std::string head = "GET http://127.0.0.1:" + std::to_string(port) + "/ HTTP/1.1\r\n";
    while (head.size() + 2 < size) {
        const size_t room = size - head.size() - 2;
        head += room > 1000 ? "X-Fill: " + std::string(990, 'f') + "\r\n"
                            : std::string(std::max<size_t>(room, 6) - 4, 'Y') + ":\r\n";
    }
    return head + "\r\n";
}

TEST_F(Proxy, HeadsAreBoundedBothWaysWithoutGrowingMemory) {
    Start();
    {
        TScriptedOrigin origin(OkHello);
        EXPECT_EQ(Exchange(HeadOfSize(origin.Port(), 60 * 1024)), OkHello);
    }
    const std::string filler = "X-Fill: " + std::string(1000, 'f') + "\r\n";
    const int64_t peakBefore = PeakResidentKiB();
    {
        // 19 MiB of header lines from the browser: closed unanswered, nobody contacted.
        TScriptedOrigin origin(OkHello);
        int fd = ConnectRaw("127.0.0.1", Server().Bindings[0].Port);
        SendUntilRefused(fd, Get(origin.Port(), "/").substr(0, 40) + "\r\n", 100);
        SendUntilRefused(fd, filler, 19 << 20);
        EXPECT_TRUE(PeerClosed(fd));
        CloseRaw(fd);
        EXPECT_FALSE(origin.Contacted());
    }
    {
        // An origin whose header block never ends: the browser gets no byte.
        TRawListener origin;
        std::thread serve([&] {
            int fd = origin.Accept();
            ReceiveSome(fd, 65536);
            SendUntilRefused(fd, "HTTP/1.1 200 OK\r\n", 100);
            SendUntilRefused(fd, filler, 30 << 20);
            CloseRaw(fd);
        });
        EXPECT_EQ(Exchange(Get(origin.Port(), "/")), "");
        serve.join();
    }
    EXPECT_LT(PeakResidentKiB() - peakBefore, 8 * 1024);
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }));
}

TEST_F(Proxy, SlowHeadsAndBrowsersThatDoNotReadGiveTheirPlacesBack) {
    Server().RequestHeadTimeout = 500;
    Server().BrowserWriteTimeout = 500;
    Start();
    const uint16_t port = Server().Bindings[0].Port;
    int idle = ConnectRaw("127.0.0.1", port);
    int lineOnly = ConnectRaw("127.0.0.1", port);
    SendAll(lineOnly, "GET http://127.0.0.1:9/ HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    // A byte every 100 ms never completes a head in time.
    int trickle = ConnectRaw("127.0.0.1", port);
    bool trickleClosed = false;
    for (int i = 0; i < 100 && !trickleClosed; ++i) {
        try {
            SendAll(trickle, "X");
            trickleClosed = PeerClosed(trickle, 100);
        } catch (const std::runtime_error&) {
            trickleClosed = true;
        }
    }
    EXPECT_TRUE(trickleClosed);
    EXPECT_TRUE(PeerClosed(idle));
    EXPECT_TRUE(PeerClosed(lineOnly));
    for (int fd : {idle, lineOnly, trickle}) {
        CloseRaw(fd);
    }
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }));
    // A browser that takes no byte of a long response is dropped.
    TScriptedOrigin origin("HTTP/1.1 200 OK\r\nContent-Length: 32000000\r\n\r\n" +
                           std::string(32000000, 'b'));
    int reader = ConnectRaw("127.0.0.1", port);
    SendAll(reader, Get(origin.Port(), "/"));
    ASSERT_TRUE(WaitUntil([&] { return origin.Contacted(); }));
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }, 20000));
    CloseRaw(reader);
}

TEST_F(Proxy, NoBusyLoopWhenATunnelSideFailsOrDescriptorsRunOut) {
    using namespace std::chrono_literals;
    TRawListener target;
    Start();
    const uint16_t port = Server().Bindings[0].Port;
    int browser = ConnectRaw("127.0.0.1", port);
    SendAll(browser, "CONNECT 127.0.0.1:" + std::to_string(target.Port()) + " HTTP/1.1\r\n\r\n");
    int server = target.Accept();
    ASSERT_GE(server, 0);
    EXPECT_EQ(ReceiveSome(browser, 71).size(), 71U);
    // The target sends until nothing more fits, the browser reading nothing,
    // then resets its connection.
    const std::string chunk(65536, 'd');
    for (int refused = 0; refused < 10;) {
        if (send(server, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            ++refused;
            std::this_thread::sleep_for(50ms);
        }
    }
    linger reset{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    CloseRaw(server);
    double before = ProcessorSeconds();
    std::this_thread::sleep_for(2s);
    EXPECT_LT(ProcessorSeconds() - before, 0.2);
    CloseRaw(browser);
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }));

    // A connection waits to be accepted while every descriptor is taken.
    rlimit original{};
    getrlimit(RLIMIT_NOFILE, &original);
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    rlimit tight = original;
    tight.rlim_cur = static_cast<rlim_t>(client + 16);
    setrlimit(RLIMIT_NOFILE, &tight);
    std::vector<int> taken;
    for (int fd = dup(0); fd >= 0; fd = dup(0)) {
        taken.push_back(fd);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    before = ProcessorSeconds();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(ProcessorSeconds() - before, 0.1);
    for (int fd : taken) {
        CloseRaw(fd);
    }
    setrlimit(RLIMIT_NOFILE, &original);
    SendAll(client, "HELP\r\n");
    EXPECT_FALSE(ReceiveSome(client, 3).empty());
    CloseRaw(client);
    EXPECT_TRUE(WaitUntil([this] { return Server().LiveContextCount() == 0; }));
}

} // namespace
