#include "proxy/Splice.h"

#include "proxy/NetExceptions.h"
#include "tests/proxy/Loopback.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

using namespace orvalis::proxy;
using namespace orvalis::proxy::testing;

namespace {

// Two ends of one loopback TCP connection.
struct TLink {
    TLink() {
        TRawListener listener;
        near = ConnectRaw("127.0.0.1", listener.Port());
        far = listener.Accept();
    }
    ~TLink() {
        CloseRaw(near);
        CloseRaw(far);
    }
    int near = -1;
    int far = -1;
};

// Bytes that show any loss, repetition or reordering.
std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + seed + i / 4099) & 0xFF);
    }
    return bytes;
}

TSplicePipe NewPipe() {
    std::optional<TSplicePipe> pipe = TSplicePipe::Open();
    EXPECT_TRUE(pipe.has_value());
    return std::move(*pipe);
}

} // namespace

// Source link: the test writes on `near`, the splice reads `far`. Destination
// link: the splice writes `near`, the test reads `far`.
TEST(Splice, MovesExactlyTheDeclaredBytesBothWaysAndLeavesTheRest) {
    TLink in;
    TLink out;
    TLink back;
    TLink backOut;
    const std::string body = Pattern(3 << 20, 1);
    const std::string answer = Pattern(1 << 20, 7);
    std::thread writer([&] { SendAll(in.near, body + "NEXT"); });
    std::thread answerer([&] {
        SendAll(back.near, answer);
        ::shutdown(back.near, SHUT_WR);
    });
    std::thread reverse([&] {
        TSplicePipe pipe = NewPipe();
        SpliceBody(back.far, backOut.near, -1, pipe, 10000, 10000);
        ::shutdown(backOut.near, SHUT_WR);
    });
    TSplicePipe pipe = NewPipe();
    SpliceBody(in.far, out.near, static_cast<int64_t>(body.size()), pipe, 10000, 10000);
    const std::string got = ReceiveExactly(out.far, body.size());
    writer.join();
    answerer.join();
    EXPECT_TRUE(got == body);
    // What follows the body stays in the source for its next reader.
    EXPECT_EQ(ReceiveSome(in.far, 100), "NEXT");
    // Until the source closes when no length is known.
    EXPECT_TRUE(ReceiveAll(backOut.far) == answer);
    reverse.join();
}

TEST(Splice, SlowReaderGetsEveryByteAndAStalledOneTimesOut) {
    TLink in;
    TLink out;
    int small = 4096;
    ::setsockopt(out.near, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::string body = Pattern(600000, 3);
    std::thread writer([&] { SendAll(in.near, body); });
    std::string got;
    std::thread reader([&] {
        // Small reads with pauses: the splice meets many short writes.
        while (got.size() < body.size()) {
            std::string piece = ReceiveSome(out.far, 1000, 10000);
            if (piece.empty()) {
                break;
            }
            got += piece;
            if (got.size() % 50 == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    TSplicePipe pipe = NewPipe();
    SpliceBody(in.far, out.near, static_cast<int64_t>(body.size()), pipe, 10000, 10000);
    reader.join();
    writer.join();
    EXPECT_TRUE(got == body);

    // A destination that takes nothing: the write time limit ends the move.
    SendAll(in.near, Pattern(1 << 20, 5));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(SpliceBody(in.far, out.near, 1 << 20, pipe, 10000, 300), ESocketError);
    EXPECT_LT(MillisecondsSince(start), 5000);
}

TEST(Splice, SourceClosingOrFallingSilentMidBody) {
    {
        TLink in;
        TLink out;
        const std::string part = Pattern(300000, 9);
        std::thread writer([&] {
            SendAll(in.near, part);
            CloseRaw(in.near);
            in.near = -1;
        });
        TSplicePipe pipe = NewPipe();
        // What arrived before the close is delivered, then the shortfall raises.
        EXPECT_THROW(SpliceBody(in.far, out.near, 1 << 20, pipe, 10000, 10000),
                     EConnClosedGracefully);
        writer.join();
        ::shutdown(out.near, SHUT_WR);
        EXPECT_TRUE(ReceiveAll(out.far) == part);
    }
    {
        TLink in;
        TLink out;
        SendAll(in.near, "partial");
        TSplicePipe pipe = NewPipe();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(SpliceBody(in.far, out.near, 100, pipe, 200, 10000), EReadTimeout);
        EXPECT_GE(MillisecondsSince(start), 150);
        EXPECT_EQ(ReceiveSome(out.far, 100), "partial");
    }
}
