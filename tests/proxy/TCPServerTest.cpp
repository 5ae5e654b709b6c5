#include "proxy/TCPServer.h"

#include "proxy/NetExceptions.h"
#include "proxy/TCPClient.h"
#include "tests/proxy/Loopback.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace orvalis::proxy;
using namespace orvalis::proxy::testing;

namespace {

using Clock = std::chrono::steady_clock;

// Events of connection threads, in the order they happened.
class TEventLog {
public:
    void Add(std::string event) {
        std::lock_guard lock(lock_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> Events() const {
        std::lock_guard lock(lock_);
        return events_;
    }
    size_t Count() const {
        std::lock_guard lock(lock_);
        return events_.size();
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> events_;
};

// Counts the process's descriptors and threads before a test, so that the test
// can prove none is left once its server has stopped.
class Server : public ::testing::Test {
protected:
    void SetUp() override {
        descriptors_ = CountOpenDescriptors();
        threads_ = CountThreads();
    }
    void ExpectNothingLeft() {
        EXPECT_EQ(CountOpenDescriptors(), descriptors_);
        // A joined thread can stay listed for a moment while the kernel reaps
        // it, in the count before as well as in the count after.
        EXPECT_TRUE(WaitUntil([this] { return CountThreads() <= threads_; }))
            << CountThreads() << " threads, " << threads_ << " before";
    }
    static void EchoLines(TContext& context) {
        TIOHandler& io = *context.Connection->IOHandler();
        io.WriteLine(io.ReadLine());
    }
    static std::string Exchange(const std::string& ip, uint16_t port, const std::string& line) {
        int fd = ConnectRaw(ip, port);
        if (fd < 0) {
            return "refused";
        }
        SendAll(fd, line + "\r\n");
        std::string answer = ReceiveSome(fd, 1000);
        CloseRaw(fd);
        return answer;
    }

private:
    int descriptors_ = 0;
    int threads_ = 0;
};

TEST_F(Server, EchoesOnIPv4AndIPv6Bindings) {
    {
        TTCPServer server;
        server.OnExecute = EchoLines;
        server.Bindings.Add().IP = "127.0.0.1";
        const bool ipv6 = TStack::SupportsIPv6();
        if (ipv6) {
            TSocketHandle& binding = server.Bindings.Add();
            binding.IP = "::1";
            binding.SetIPVersion(TIPVersion::IPv6);
        }
        server.SetActive(true);
        ASSERT_TRUE(server.Active());
        ASSERT_NE(server.Bindings[0].Port, 0);
        EXPECT_EQ(Exchange("127.0.0.1", server.Bindings[0].Port, "four"), "four\r\n");
        if (ipv6) {
            EXPECT_EQ(Exchange("::1", server.Bindings[1].Port, "six"), "six\r\n");
        }
        server.SetActive(false);
        EXPECT_FALSE(server.Active());
        EXPECT_EQ(Exchange("127.0.0.1", server.Bindings[0].Port, "x"), "refused");
    }
    ExpectNothingLeft();
}

TEST_F(Server, EmptyBindingsListenOnLoopbackOnly) {
    TTCPServer server;
    server.OnExecute = EchoLines;
    server.SetDefaultPort(FreePort());
    server.SetActive(true);
    ASSERT_GE(server.Bindings.Count(), 1);
    EXPECT_EQ(server.Bindings[0].IP, "127.0.0.1");
    EXPECT_EQ(server.Bindings[0].Port, server.DefaultPort());
    if (TStack::SupportsIPv6()) {
        ASSERT_EQ(server.Bindings.Count(), 2);
        EXPECT_EQ(server.Bindings[1].IP, "0:0:0:0:0:0:0:1");
        EXPECT_EQ(server.Bindings[1].Port, server.DefaultPort());
        EXPECT_EQ(Exchange("::1", server.DefaultPort(), "v6"), "v6\r\n");
    }
    EXPECT_EQ(Exchange("127.0.0.1", server.DefaultPort(), "v4"), "v4\r\n");
}

TEST_F(Server, PortInUseLeavesItInactiveWithNoSocketOpen) {
    if (!TStack::SupportsIPv6()) {
        GTEST_SKIP() << "no IPv6 loopback";
    }
    const uint16_t port = FreePort();
    {
        TRawListener occupant(TIPVersion::IPv6, 1, port);
        const int descriptors = CountOpenDescriptors();
        TTCPServer server;
        server.OnExecute = EchoLines;
        server.SetDefaultPort(port);
        EXPECT_THROW(server.SetActive(true), ECouldNotBindSocket);
        EXPECT_FALSE(server.Active());
        // The IPv4 binding that did bind was closed again.
        EXPECT_EQ(Exchange("127.0.0.1", port, "x"), "refused");
        EXPECT_EQ(CountOpenDescriptors(), descriptors);
        ASSERT_EQ(server.Bindings.Count(), 2);
        EXPECT_EQ(server.Bindings[0].Port, port);
        EXPECT_EQ(server.Bindings[1].Port, port);
        // A new default port does not reach bindings that exist.
        server.SetDefaultPort(FreePort());
        EXPECT_THROW(server.SetActive(true), ECouldNotBindSocket);
    }
    ExpectNothingLeft();
}

TEST_F(Server, ActivationNeedsOnExecuteAndRepeatsAreHarmless) {
    {
        TTCPServer server;
        server.Bindings.Add().IP = "127.0.0.1";
        EXPECT_THROW(server.SetActive(true), ETCPNoOnExecute);
        EXPECT_FALSE(server.Active());
        server.SetActive(false);
        server.OnExecute = EchoLines;
        server.SetActive(true);
        const int threads = CountThreads();
        server.SetActive(true);
        EXPECT_LE(CountThreads(), threads);
        EXPECT_EQ(Exchange("127.0.0.1", server.Bindings[0].Port, "once"), "once\r\n");
        EXPECT_THROW(server.SetScheduler(std::make_unique<TSchedulerOfThread>()), ENetException);
    }
    ExpectNothingLeft();
}

class LimitedServer : public TTCPServer {
public:
    // Its hooks run on the server's threads: stop them before this class goes.
    ~LimitedServer() override { SetActive(false); }

    std::atomic<int> Refused{0};

protected:
    void HandleTooManyConnections(TIOHandler& AIOHandler) override {
        ++Refused;
        AIOHandler.WriteLine("busy");
    }
};

TEST_F(Server, ConnectionOverTheLimitIsClosedWithoutAThread) {
    {
        LimitedServer server;
        server.Bindings.Add().IP = "127.0.0.1";
        server.MaxConnections = 2;
        std::atomic<int> connects{0};
        server.OnConnect = [&connects](TContext&) { ++connects; };
        server.OnExecute = EchoLines;
        server.SetActive(true);
        const uint16_t port = server.Bindings[0].Port;
        int first = ConnectRaw("127.0.0.1", port);
        int second = ConnectRaw("127.0.0.1", port);
        // A place is taken before its thread runs OnConnect.
        ASSERT_TRUE(WaitUntil(
            [&server, &connects] { return server.LiveContextCount() == 2 && connects == 2; }));
        const int threads = CountThreads();
        int third = ConnectRaw("127.0.0.1", port);
        EXPECT_EQ(ReceiveAll(third), "busy\r\n");
        EXPECT_EQ(server.Refused, 1);
        EXPECT_EQ(connects, 2);
        EXPECT_LE(CountThreads(), threads);
        // A place freed is given to the next connection.
        CloseRaw(first);
        ASSERT_TRUE(WaitUntil([&server] { return server.LiveContextCount() == 1; }));
        EXPECT_EQ(Exchange("127.0.0.1", port, "in"), "in\r\n");
        CloseRaw(second);
        CloseRaw(third);
    }
    ExpectNothingLeft();
}

TEST_F(Server, BurstOfConnectionsNeverExceedsTheLimit) {
    {
        LimitedServer server;
        server.Bindings.Add().IP = "127.0.0.1";
        server.MaxConnections = 3;
        std::atomic<int> connects{0};
        server.OnConnect = [&connects](TContext&) { ++connects; };
        server.OnExecute = EchoLines;
        server.SetActive(true);
        std::vector<int> clients;
        for (int i = 0; i < 20; ++i) {
            clients.push_back(ConnectRaw("127.0.0.1", server.Bindings[0].Port));
        }
        ASSERT_TRUE(WaitUntil([&server] { return server.Refused == 17; }));
        EXPECT_EQ(server.LiveContextCount(), 3);
        EXPECT_EQ(connects, 3);
        for (int fd : clients) {
            CloseRaw(fd);
        }
    }
    ExpectNothingLeft();
}

TEST_F(Server, ExceptionFromOnExecuteFiresDisconnectThenException) {
    TEventLog log;
    {
        TTCPServer server;
        server.Bindings.Add().IP = "127.0.0.1";
        server.OnConnect = [&log](TContext&) { log.Add("connect"); };
        server.OnExecute = [&log](TContext&) {
            log.Add("execute");
            throw std::runtime_error("boom");
        };
        server.OnDisconnect = [&log](TContext&) { log.Add("disconnect"); };
        server.OnException = [&log](TContext&, const std::exception& error) {
            log.Add(std::string("exception ") + error.what());
        };
        server.SetActive(true);
        int fd = ConnectRaw("127.0.0.1", server.Bindings[0].Port);
        EXPECT_TRUE(PeerClosed(fd));
        CloseRaw(fd);
        ASSERT_TRUE(WaitUntil([&log] { return log.Count() == 4; }));
    }
    EXPECT_EQ(log.Events(),
              (std::vector<std::string>{"connect", "execute", "disconnect", "exception boom"}));
    ExpectNothingLeft();
}

TEST_F(Server, ExceptionFromOnConnectFiresExceptionAlone) {
    TEventLog log;
    {
        TTCPServer server;
        server.Bindings.Add().IP = "127.0.0.1";
        server.OnConnect = [&log](TContext&) {
            log.Add("connect");
            throw EReadTimeout();
        };
        server.OnExecute = [&log](TContext&) { log.Add("execute"); };
        server.OnDisconnect = [&log](TContext&) { log.Add("disconnect"); };
        server.OnException = [&log, &server](TContext&, const std::exception& error) {
            log.Add(std::string("exception ") + error.what());
            log.Add("live " + std::to_string(server.LiveContextCount()));
        };
        server.SetActive(true);
        int fd = ConnectRaw("127.0.0.1", server.Bindings[0].Port);
        EXPECT_TRUE(PeerClosed(fd));
        CloseRaw(fd);
        ASSERT_TRUE(WaitUntil([&log] { return log.Count() == 3; }));
    }
    EXPECT_EQ(log.Events(),
              (std::vector<std::string>{"connect", "exception Read timed out.", "live 0"}));
    ExpectNothingLeft();
}

TEST_F(Server, PeerCloseEndsTheConnectionQuietly) {
    TEventLog log;
    {
        TTCPServer server;
        server.Bindings.Add().IP = "127.0.0.1";
        server.OnExecute = EchoLines;
        server.OnDisconnect = [&log](TContext&) { log.Add("disconnect"); };
        server.OnException = [&log](TContext&, const std::exception& error) {
            log.Add(error.what());
        };
        server.SetActive(true);
        EXPECT_EQ(Exchange("127.0.0.1", server.Bindings[0].Port, "hi"), "hi\r\n");
        ASSERT_TRUE(WaitUntil([&log] { return log.Count() >= 1; }));
        ASSERT_TRUE(WaitUntil([&server] { return server.LiveContextCount() == 0; }));
    }
    // The close is seen either by the connected test after a cycle (no
    // exception) or by the next read.
    std::vector<std::string> events = log.Events();
    ASSERT_GE(events.size(), 1u);
    EXPECT_EQ(events[0], "disconnect");
    if (events.size() > 1) {
        EXPECT_EQ(events,
                  (std::vector<std::string>{"disconnect", "Connection Closed Gracefully."}));
    }
}

TEST_F(Server, DeactivationEndsThreadsBlockedOnEitherSocket) {
    {
        // Connection 1 waits for a request line; connection 2 waits on an origin
        // that accepted but says nothing; connection 3 waits on an origin whose
        // accept queue is full, so its connect never completes.
        TRawListener silentOrigin;
        TRawListener fullOrigin(TIPVersion::IPv4, 0);
        std::vector<int> fillers;
        for (int i = 0; i < 4; ++i) {
            fillers.push_back(ConnectRawPending("127.0.0.1", fullOrigin.Port()));
        }
        TEventLog log;
        std::vector<int> browsers;
        {
            TTCPServer server;
            server.Bindings.Add().IP = "127.0.0.1";
            server.OnExecute = [&](TContext& context) {
                TIOHandler& io = *context.Connection->IOHandler();
                std::string line = io.ReadLine();
                log.Add("read " + line);
                TTCPClient origin;
                origin.SocketGroup = &context.Sockets;
                origin.SetHost("127.0.0.1");
                origin.SetPort(line == "silent" ? silentOrigin.Port() : fullOrigin.Port());
                origin.Connect();
                log.Add("connected");
                origin.IOHandler()->ReadLine();
            };
            server.OnException = [&log](TContext&, const std::exception&) { log.Add("ended"); };
            server.SetActive(true);
            for (const char* request : {"", "silent\n", "full\n"}) {
                browsers.push_back(ConnectRaw("127.0.0.1", server.Bindings[0].Port));
                SendAll(browsers.back(), request);
            }
            ASSERT_TRUE(WaitUntil([&log] { return log.Count() == 3; }));
            int origin = silentOrigin.Accept();
            ASSERT_GE(origin, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(server.LiveContextCount(), 3);

            auto start = Clock::now();
            server.SetActive(false);
            EXPECT_LT(MillisecondsSince(start), 5000);
            EXPECT_EQ(server.LiveContextCount(), 0);
            EXPECT_EQ(log.Count(), 6u);
            for (int fd : browsers) {
                EXPECT_TRUE(PeerClosed(fd));
            }
            EXPECT_TRUE(PeerClosed(origin));
            CloseRaw(origin);
        }
        for (int fd : browsers) {
            CloseRaw(fd);
        }
        for (int fd : fillers) {
            CloseRaw(fd);
        }
    }
    ExpectNothingLeft();
}

TEST_F(Server, ListenersStopWithoutWaitingForAConnection) {
    {
        TTCPServer server;
        server.OnExecute = EchoLines;
        server.Bindings.Add().IP = "127.0.0.1";
        for (int round = 0; round < 3; ++round) {
            server.SetActive(true);
            auto start = Clock::now();
            server.SetActive(false);
            // Generous: a stop must not wait for the listener's slice to run out
            // over and over, nor for a fixed shutdown poll.
            EXPECT_LT(MillisecondsSince(start), 2000);
        }
    }
    ExpectNothingLeft();
}

TEST_F(Server, ManyShortConnectionsLeaveNothingBehind) {
    {
        TTCPServer server;
        server.OnExecute = EchoLines;
        server.Bindings.Add().IP = "127.0.0.1";
        server.SetActive(true);
        std::vector<std::thread> clients;
        std::atomic<int> echoed{0};
        for (int c = 0; c < 8; ++c) {
            clients.emplace_back([&server, &echoed] {
                for (int i = 0; i < 20; ++i) {
                    TTCPClient client;
                    client.SetHost("127.0.0.1");
                    client.SetPort(server.Bindings[0].Port);
                    client.Connect();
                    client.IOHandler()->WriteLine("ping");
                    if (client.IOHandler()->ReadLine() == "ping") {
                        ++echoed;
                    }
                }
            });
        }
        for (auto& client : clients) {
            client.join();
        }
        EXPECT_EQ(echoed, 160);
        server.SetActive(false);
        EXPECT_EQ(server.Scheduler(), nullptr);
    }
    ExpectNothingLeft();
}

} // namespace
