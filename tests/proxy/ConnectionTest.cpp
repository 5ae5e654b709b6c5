#include "proxy/HeaderList.h"
#include "proxy/NetExceptions.h"
#include "proxy/Stream.h"
#include "proxy/TCPClient.h"
#include "proxy/TCPStream.h"
#include "tests/proxy/Loopback.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace orvalis::proxy;
using namespace orvalis::proxy::testing;

namespace {

using Clock = std::chrono::steady_clock;

// A client connected to a raw peer socket that the test drives.
class Connection : public ::testing::Test {
protected:
    void SetUp() override {
        client.SetHost("127.0.0.1");
        client.SetPort(listener.Port());
        client.Connect();
        peer = listener.Accept();
        ASSERT_GE(peer, 0);
    }
    void TearDown() override { CloseRaw(peer); }

    TIOHandler& io() { return *client.IOHandler(); }
    void ClosePeer() {
        CloseRaw(peer);
        peer = -1;
    }

    TRawListener listener;
    TTCPClient client;
    int peer = -1;
};

TEST_F(Connection, LinesEndAtTheirTerminator) {
    SendAll(peer, "abc\r\nabc\nx\ny\r\n\r\n");
    EXPECT_EQ(io().ReadLine(), "abc");
    EXPECT_EQ(io().ReadLine(), "abc");
    // With CR LF given, a lone LF belongs to the line.
    EXPECT_EQ(io().ReadLine("\r\n"), "x\ny");
    EXPECT_EQ(io().ReadLine(), "");
}

TEST_F(Connection, TerminatorSplitAcrossSendsIsFound) {
    std::thread writer([this] {
        SendAll(peer, "first part ");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SendAll(peer, "second\r");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SendAll(peer, "\nrest");
    });
    EXPECT_EQ(io().ReadLine("\r\n"), "first part second");
    writer.join();
    EXPECT_EQ(io().InputStore().View(), "rest");
}

TEST_F(Connection, LineBytesPassUnchangedByDefault) {
    std::string line = "Cookie: name=\xea\xb9\x80; x=\x80\xff\x01";
    SendAll(peer, line + "\r\n" + line + "\r\n");
    EXPECT_EQ(io().ReadLine(), line);
    EXPECT_EQ(io().ReadLine("\n", -1, -1, TEncoding::USASCII), "Cookie: name=???; x=??\x01");
}

TEST_F(Connection, MaxLineLengthAcceptsTheLimitAndRefusesOneMore) {
    SendAll(peer, std::string(16384, 'a') + "\n" + std::string(16385, 'b') + "\n");
    EXPECT_EQ(io().ReadLine().size(), 16384u);
    EXPECT_THROW(io().ReadLine(), EReadLnMaxLineLengthExceeded);
}

TEST_F(Connection, MaxLineLengthSplitsWhenAsked) {
    io().MaxLineAction = TMaxLineAction::maSplit;
    SendAll(peer, std::string(16385, 'b') + "\nnext\n");
    EXPECT_EQ(io().ReadLine(), std::string(16384, 'b'));
    EXPECT_TRUE(io().LastLineWasSplit());
    EXPECT_EQ(io().ReadLine(), "b");
    EXPECT_FALSE(io().LastLineWasSplit());
    EXPECT_EQ(io().ReadLine(), "next");
}

TEST_F(Connection, UnterminatedLineBeforeCloseIsNotReturned) {
    SendAll(peer, "GET /");
    ClosePeer();
    EXPECT_THROW(io().ReadLine(), EConnClosedGracefully);
    // The fragment still counts as unread input.
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(io().InputStore().View(), "GET /");
}

TEST_F(Connection, ReadLineTimesOutWithEmptyText) {
    auto start = Clock::now();
    EXPECT_EQ(io().ReadLine("\n", 100), "");
    EXPECT_TRUE(io().LastReadTimedOut());
    EXPECT_GE(MillisecondsSince(start), 90);
    SendAll(peer, "late\n");
    EXPECT_EQ(io().ReadLine("\n", 5000), "late");
    EXPECT_FALSE(io().LastReadTimedOut());
}

TEST_F(Connection, ReadLinesUntilCapturesAHeaderBlock) {
    SendAll(peer, "Host: a\r\n..Dots: b\r\nX: y\r\n\r\nBODY");
    THeaderList headers;
    EXPECT_EQ(io().ReadLinesUntil(headers, "", true), 3);
    ASSERT_EQ(headers.Count(), 3);
    EXPECT_EQ(headers[1], ".Dots: b");
    EXPECT_EQ(headers.ValueOf("x"), "y");
    EXPECT_EQ(io().InputStore().View(), "BODY");

    SendAll(peer, "a\r\nb\r\n.\r\n");
    TMemoryStream stream;
    EXPECT_EQ(io().ReadLinesUntil(stream), 2);
    EXPECT_EQ(stream.Bytes(), "BODYa\r\nb\r\n");
}

TEST_F(Connection, ReadLinesUntilHonoursTheCollectLimit) {
    io().LineCollectLimit = 2;
    SendAll(peer, "1\r\n2\r\n3\r\n4\r\n\r\n");
    THeaderList headers;
    EXPECT_THROW(io().ReadLinesUntil(headers, ""), EMaxCaptureLineExceeded);
    EXPECT_EQ(headers.Count(), 3);
}

TEST_F(Connection, ReadBlockOfUnknownSizeWaitsOnlyTheReadTimeout) {
    io().ReadTimeout = 100;
    std::string bytes = "old";
    auto start = Clock::now();
    io().ReadBlock(bytes, -1);
    EXPECT_EQ(bytes, "");
    EXPECT_GE(MillisecondsSince(start), 90);
    SendAll(peer, "data");
    ASSERT_TRUE(WaitUntil([this] { return io().PollForData(50) || !io().IsInputEmpty(); }));
    io().ReadBlock(bytes, -1, true);
    EXPECT_EQ(bytes, "data");
}

TEST_F(Connection, ReadBlockOfUnknownSizeRaisesAfterCloseDespiteBufferedBytes) {
    io().ReadTimeout = 100;
    SendAll(peer, "tail");
    ClosePeer();
    ASSERT_TRUE(WaitUntil([this] {
        client.Connected();
        return io().PeerHasClosed();
    }));
    std::string bytes;
    EXPECT_THROW(io().ReadBlock(bytes, -1), EConnClosedGracefully);
    EXPECT_EQ(io().InputStore().View(), "tail");
}

TEST_F(Connection, ReadBlockOfACountWaitsForAllOfIt) {
    std::thread writer([this] {
        SendAll(peer, "12");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SendAll(peer, "345678");
    });
    std::string bytes;
    io().ReadBlock(bytes, 5);
    writer.join();
    EXPECT_EQ(bytes, "12345");
    io().ReadBlock(bytes, 3, true);
    EXPECT_EQ(bytes, "12345678");
}

TEST_F(Connection, ReadIntoStreamUntilDisconnectTakesEverything) {
    std::string body;
    for (int i = 0; i < 20000; ++i) {
        body += std::to_string(i % 10);
    }
    SendAll(peer, "HEAD\r\n" + body);
    ClosePeer();
    EXPECT_EQ(io().ReadLine(), "HEAD");
    TMemoryStream stream;
    EXPECT_EQ(io().ReadIntoStream(stream, -1, true), static_cast<int64_t>(body.size()));
    EXPECT_EQ(stream.Bytes(), body);
}

TEST_F(Connection, ReadIntoStreamWithACountRaisesWhenThePeerClosesEarly) {
    SendAll(peer, "12345");
    ClosePeer();
    TMemoryStream stream;
    EXPECT_THROW(io().ReadIntoStream(stream, 10), EConnClosedGracefully);
    // The pre-sized stream is cut back to what was written.
    EXPECT_EQ(stream.Size(), stream.Position());
}

TEST_F(Connection, ReadIntoStreamWithACountStopsThere) {
    SendAll(peer, "0123456789extra");
    TMemoryStream stream;
    EXPECT_EQ(io().ReadIntoStream(stream, 10), 10);
    EXPECT_EQ(stream.Bytes(), "0123456789");
    EXPECT_EQ(io().ReadLine("\n", 200), "");
    EXPECT_EQ(io().InputStore().View(), "extra");
}

TEST_F(Connection, ConnectedWhileUnreadBytesRemainAfterAClose) {
    SendAll(peer, "xyz");
    ClosePeer();
    ASSERT_TRUE(WaitUntil([this] {
        client.Connected();
        return io().PeerHasClosed();
    }));
    EXPECT_EQ(io().InputStore().View(), "xyz");
    EXPECT_TRUE(client.Connected());
    std::string bytes;
    io().ReadBlock(bytes, 3);
    EXPECT_EQ(bytes, "xyz");
    EXPECT_FALSE(client.Connected());
    EXPECT_THROW(io().ReadLine(), EConnClosedGracefully);
}

TEST_F(Connection, WritesOfTextAndLines) {
    io().Write("");
    io().WriteLine();
    io().WriteLine("GET / HTTP/1.0");
    io().Write(std::vector<std::string>{"Host: h", "X: \xc3\xa9"});
    io().Write("end");
    client.Disconnect();
    EXPECT_EQ(ReceiveAll(peer), "\r\nGET / HTTP/1.0\r\nHost: h\r\nX: \xc3\xa9\r\nend");
}

TEST_F(Connection, BufferedWritesWaitForTheirFlush) {
    io().BeginBufferedWrite(4);
    io().WriteBytes("abcdef");
    EXPECT_EQ(ReceiveSome(peer, 100), "abcd");
    io().WriteBytes("g");
    EXPECT_EQ(ReceiveSome(peer, 100, 50), "");
    io().EndBufferedWrite();
    EXPECT_FALSE(io().WriteBufferingActive());
    EXPECT_EQ(ReceiveSome(peer, 100), "efg");

    io().BeginBufferedWrite();
    io().WriteBytes("dropped");
    io().CancelBufferedWrite();
    io().WriteBytes("direct");
    EXPECT_EQ(ReceiveSome(peer, 100), "direct");
}

TEST_F(Connection, StreamsTravelBothWays) {
    std::string body(100000, 'q');
    body[77777] = '!';
    TMemoryStream source(body);
    source.SetPosition(500);
    // Size 0 sends the whole stream from its start.
    io().Write(source);
    EXPECT_EQ(source.Position(), static_cast<int64_t>(body.size()));
    TTCPStream remote(client);
    remote.Write("tail", 4);
    client.Disconnect();
    EXPECT_EQ(ReceiveAll(peer), body + "tail");

    TMemoryStream empty;
    EXPECT_THROW(io().Write(empty, 5), ENoDataToRead);
}

TEST_F(Connection, TCPStreamReadsExactCounts) {
    SendAll(peer, "0123456789");
    TTCPStream remote(client);
    char bytes[8] = {};
    EXPECT_EQ(remote.Read(bytes, 4), 4);
    EXPECT_EQ(std::string(bytes, 4), "0123");
    EXPECT_EQ(remote.Position(), 0);
}

TEST_F(Connection, WritingToAClosedPeerRaisesWithoutSignal) {
    ClosePeer();
    EXPECT_THROW(
        {
            for (int i = 0; i < 1000; ++i) {
                io().WriteBytes(std::string(65536, 'x'));
            }
        },
        ENetException);
}

TEST_F(Connection, ClientCanConnectAgainAfterDisconnect) {
    EXPECT_THROW(client.Connect(), EAlreadyConnected);
    client.Disconnect();
    EXPECT_FALSE(client.Connected());
    client.Connect();
    int second = listener.Accept();
    ASSERT_GE(second, 0);
    io().WriteLine("again");
    EXPECT_EQ(ReceiveSome(second, 100), "again\r\n");
    CloseRaw(second);
}

TEST(Client, RefusesToConnectWithoutHostOrPort) {
    TTCPClient client;
    EXPECT_THROW(client.Connect(), EHostRequired);
    client.SetHost("127.0.0.1");
    EXPECT_THROW(client.Connect(), EPortRequired);
}

TEST(Client, FailedConnectsRaiseMappedErrorsAndDropTheHandler) {
    const int descriptors = CountOpenDescriptors();
    uint16_t closedPort;
    {
        TRawListener probe;
        closedPort = probe.Port();
    }
    TTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(closedPort);
    try {
        client.Connect();
        FAIL() << "connected";
    } catch (const ESocketError& error) {
        EXPECT_EQ(error.Code(), 10061);
        EXPECT_STREQ(error.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_EQ(client.IOHandler(), nullptr);

    client.SetHost("no..such..host");
    try {
        client.Connect();
        FAIL() << "connected";
    } catch (const ESocketError& error) {
        EXPECT_EQ(error.Code(), 11001);
        EXPECT_STREQ(error.what(), "Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_EQ(client.IOHandler(), nullptr);
    // The failed lookup ran on a resolver thread, and under ThreadSanitizer the
    // count once settled a moment later: a leak is a descriptor that stays.
    EXPECT_TRUE(WaitUntil([descriptors] { return CountOpenDescriptors() == descriptors; }, 2000));

    TRawListener listener;
    client.SetHost("LOCALHOST");
    client.SetPort(listener.Port());
    client.Connect();
    EXPECT_EQ(client.Socket()->Binding()->PeerIP, "127.0.0.1");
    EXPECT_EQ(client.Socket()->Binding()->PeerPort, listener.Port());
}

TEST(Client, ConnectTimeLimitGivesUp) {
    // A listener that never accepts, its queue filled: further connects hang.
    TRawListener listener(TIPVersion::IPv4, 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(ConnectRawPending("127.0.0.1", listener.Port()));
    }
    const int descriptors = CountOpenDescriptors();
    const int threads = CountThreads();
    TTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(listener.Port());
    client.SetConnectTimeout(200);
    auto start = Clock::now();
    EXPECT_THROW(client.Connect(), EConnectTimeout);
    EXPECT_GE(MillisecondsSince(start), 190);
    EXPECT_LT(MillisecondsSince(start), 10000);
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_EQ(CountOpenDescriptors(), descriptors);
    EXPECT_TRUE(WaitUntil([threads] { return CountThreads() <= threads; }));
    for (int fd : fillers) {
        CloseRaw(fd);
    }
}

TEST(Client, IPv6PeerAddressIsWrittenInFull) {
    if (!TStack::SupportsIPv6()) {
        GTEST_SKIP() << "no IPv6 loopback";
    }
    TRawListener listener(TIPVersion::IPv6);
    TTCPClient client;
    client.IPVersion = TIPVersion::IPv6;
    client.SetHost("::1");
    client.SetPort(listener.Port());
    client.Connect();
    EXPECT_EQ(client.Socket()->Binding()->PeerIP, "0:0:0:0:0:0:0:1");
    EXPECT_EQ(client.Socket()->Binding()->IP, "0:0:0:0:0:0:0:1");
}

} // namespace
