// Arbitrary bytes as a browser's request to the running firewall (real
// request filter and rule lists). The client sends the bytes, closes its
// sending side and reads until the proxy closes: every input must end the
// connection, with nothing crashing and no connection left behind. Requests
// the filter lets through are sent to a local origin instead of the host they
// name, so that no input makes the proxy reach beyond loopback.
#include "guard/Firewall.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace orvalis;

namespace {

int ListenOnLoopback(uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        abort();
    }
    port = ntohs(address.sin_port);
    return fd;
}

// libFuzzer's time limits arrive as signals, which interrupt the client's
// own calls; those are resumed, not taken for failures.
template <typename Call> auto Resumed(Call call) {
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

// An interrupted connect goes on in the background; this waits for its outcome.
bool ConnectTo(int fd, const sockaddr_in& address) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINTR) {
        return false;
    }
    pollfd waiting{fd, POLLOUT, 0};
    if (Resumed([&] { return poll(&waiting, 1, 10000); }) != 1) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

void SendAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = Resumed([&] { return send(fd, data, size, MSG_NOSIGNAL); });
        if (sent <= 0) {
            return;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
}

// Reads until the peer closes or `ms` pass without data.
void Drain(int fd, int ms) {
    char buffer[65536];
    pollfd waiting{fd, POLLIN, 0};
    while (Resumed([&] { return poll(&waiting, 1, ms); }) > 0 &&
           Resumed([&] { return recv(fd, buffer, sizeof buffer, 0); }) > 0) {
    }
}

// Answers every connection with a short response once its request has paused.
class TLocalOrigin {
public:
    TLocalOrigin() : listener_(ListenOnLoopback(port_)), thread_([this] { Serve(); }) {}
    uint16_t Port() const { return port_; }

private:
    void Serve() {
        for (;;) {
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            Drain(fd, 20);
            static constexpr std::string_view response =
                "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
            send(fd, response.data(), response.size(), MSG_NOSIGNAL);
            close(fd);
        }
    }

    uint16_t port_ = 0;
    int listener_;
    std::thread thread_;
};

struct TFirewallUnderTest {
    TFirewallUnderTest() {
        rules.MainPageList.Publish(guard::BuildMainPageList());
        rules.HostSuffixList.Publish(guard::BuildHostSuffixList());
        uint16_t probe = 0;
        close(ListenOnLoopback(probe));
        port = probe;
        guard::ConfigureFirewall(firewall, port, filter);
        firewall.OnHTTPBeforeCommand = [this](proxy::THTTPProxyServerContext& AContext) {
            filter.FirewallHTTPBeforeCommand(AContext);
            if (!AContext.Blocked) {
                AContext.OriginClient->SetHost("127.0.0.1");
                AContext.OriginClient->SetPort(origin.Port());
            }
        };
        firewall.SetActive(true);
    }

    guard::TSiteRules rules;
    guard::TLocationCopy location;
    app::TDisplayState display;
    guard::TRequestFilter filter{rules, location, display};
    TLocalOrigin origin;
    proxy::THTTPProxyServer firewall;
    uint16_t port = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: the origin's thread serves until the process ends.
    static TFirewallUnderTest* under = new TFirewallUnderTest;
    static std::atomic<int> runs{0};
    // The first byte chooses whether a portal page is shown (everything allowed).
    if (size > 0) {
        under->location.Set(data[0] & 1 ? "http://www.velmora.com/main" : "");
        ++data;
        --size;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // The client closes its side first, so each run leaves its local port in
    // TIME_WAIT for a minute; at thousands of runs one source address runs out
    // of ephemeral ports. Spreading the runs over 127.1.0.0/16 never does.
    const int run = runs.load();
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr =
        htonl((127u << 24) | (1u << 16) | (run % 250 + 1) << 8 | (run / 250 % 250 + 1));
    int no_port = 1;
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &no_port, sizeof no_port);
    bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(under->port);
    if (!ConnectTo(fd, address)) {
        perror("connecting to the firewall");
        abort();
    }
    SendAll(fd, data, size);
    shutdown(fd, SHUT_WR);
    Drain(fd, 8000);
    close(fd);
    if (++runs % 1000 == 0) {
        under->display.ClearLog();
    }
    return 0;
}
