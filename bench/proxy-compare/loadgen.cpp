// Load generator of the proxy comparison: blocking sockets, one thread per
// client, a fresh connection per request, results as one line of key=value.
//
//   loadgen http   --port P [--proxy Q] --path /1k --concurrency C --seconds S
//   loadgen bulk   --port P [--proxy Q] --path /8m --concurrency C --seconds S
//   loadgen setup  --port P [--proxy Q] --count N
//   loadgen rtt    --port P [--proxy Q] --size B --count N --seconds S
//   loadgen stream --port P [--proxy Q] --seconds S
//   loadgen echo   [--port P]      (prints "PORT n", echoes until killed)
//
// P is the origin's (or echo server's) port on 127.0.0.1; with --proxy the
// request goes through the HTTP proxy on 127.0.0.1:Q (absolute URL for http
// and bulk, a CONNECT tunnel for setup, rtt and stream) naming the origin as
// --host H (default 127.0.0.1; the firewall refuses local addresses, so its
// runs name a host that resolves to loopback). Without it the client talks
// to the origin directly.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string mode;
    int port = 0;
    int proxy = 0;
    std::string host = "127.0.0.1";
    std::string path = "/";
    int concurrency = 1;
    double seconds = 3;
    int count = 1000;
    size_t size = 64;
};

Options ParseOptions(int argc, char** argv) {
    if (argc < 2) {
        throw std::runtime_error("usage: loadgen MODE [--option value]...");
    }
    Options options;
    options.mode = argv[1];
    std::map<std::string, std::string> values;
    for (int i = 2; i + 1 < argc; i += 2) {
        values[argv[i]] = argv[i + 1];
    }
    auto get = [&](const char* name, auto& field, auto convert) {
        if (auto it = values.find(name); it != values.end()) {
            field = convert(it->second);
        }
    };
    auto toInt = [](const std::string& s) { return std::stoi(s); };
    get("--port", options.port, toInt);
    get("--proxy", options.proxy, toInt);
    get("--host", options.host, [](const std::string& s) { return s; });
    get("--path", options.path, [](const std::string& s) { return s; });
    get("--concurrency", options.concurrency, toInt);
    get("--seconds", options.seconds, [](const std::string& s) { return std::stod(s); });
    get("--count", options.count, toInt);
    get("--size", options.size, [](const std::string& s) { return std::stoul(s); });
    return options;
}

// A connected socket, closed with a reset so that a benchmark opening tens of
// thousands of connections leaves no TIME_WAIT behind on the client side.
class Socket {
public:
    explicit Socket(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (fd_ < 0) {
            throw std::runtime_error("socket");
        }
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval timeout{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd_);
            throw std::runtime_error("connect");
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        linger reset{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(fd_);
    }

    void SendAll(const char* data, size_t size) const {
        while (size > 0) {
            ssize_t sent = send(fd_, data, size, MSG_NOSIGNAL);
            if (sent <= 0) {
                throw std::runtime_error("send");
            }
            data += sent;
            size -= static_cast<size_t>(sent);
        }
    }
    void SendAll(const std::string& text) const { SendAll(text.data(), text.size()); }
    // 0 at the peer's close.
    size_t Receive(char* buffer, size_t size) const {
        ssize_t got = recv(fd_, buffer, size, 0);
        if (got < 0) {
            throw std::runtime_error("recv");
        }
        return static_cast<size_t>(got);
    }
    void ReceiveExactly(char* buffer, size_t size) const {
        while (size > 0) {
            size_t got = Receive(buffer, size);
            if (got == 0) {
                throw std::runtime_error("closed early");
            }
            buffer += got;
            size -= got;
        }
    }
    // Reads up to and including the empty line after a header block; returns
    // the block and leaves what followed it in `rest`.
    std::string ReadHead(std::string& rest) const {
        std::string data;
        char buffer[4096];
        size_t end;
        while ((end = data.find("\r\n\r\n")) == std::string::npos) {
            size_t got = Receive(buffer, sizeof buffer);
            if (got == 0) {
                throw std::runtime_error("closed in header");
            }
            data.append(buffer, got);
        }
        rest = data.substr(end + 4);
        data.resize(end + 4);
        return data;
    }

private:
    int fd_;
};

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double Percentile(std::vector<double>& values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    size_t rank = static_cast<size_t>(fraction * static_cast<double>(values.size()));
    return values[std::min(rank, values.size() - 1)];
}

// One GET with a fresh connection; returns the body size, throws on failure.
size_t Fetch(const Options& options, std::vector<char>& buffer) {
    Socket socket(options.proxy != 0 ? options.proxy : options.port);
    const std::string host = options.host + ":" + std::to_string(options.port);
    const std::string target = options.proxy != 0 ? "http://" + host + options.path : options.path;
    socket.SendAll("GET " + target + " HTTP/1.1\r\nHost: " + host +
                   "\r\nUser-Agent: loadgen\r\nAccept: */*\r\nConnection: close\r\n\r\n");
    std::string rest;
    const std::string head = socket.ReadHead(rest);
    if (head.compare(9, 3, "200") != 0) {
        throw std::runtime_error("status " + head.substr(0, head.find('\r')));
    }
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    long long length = -1;
    const char* name = "\r\ncontent-length:";
    if (size_t at = lower.find(name); at != std::string::npos) {
        length = std::atoll(head.c_str() + at + std::strlen(name));
    }
    size_t received = rest.size();
    while (length < 0 || received < static_cast<size_t>(length)) {
        size_t got = socket.Receive(buffer.data(), buffer.size());
        if (got == 0) {
            if (length >= 0) {
                throw std::runtime_error("short body");
            }
            break;
        }
        received += got;
    }
    return received;
}

// Runs `concurrency` clients fetching until the time is up.
void RunFetches(const Options& options, bool reportLatency) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(options.seconds);
    std::vector<std::vector<double>> latencies(options.concurrency);
    std::vector<size_t> bytes(options.concurrency, 0);
    std::atomic<int> errors{0};
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < options.concurrency; ++c) {
        clients.emplace_back([&, c] {
            std::vector<char> buffer(reportLatency ? 16384 : 262144);
            while (Clock::now() < deadline) {
                const auto begin = Clock::now();
                try {
                    bytes[c] += Fetch(options, buffer);
                    latencies[c].push_back(Micros(Clock::now() - begin));
                } catch (const std::exception&) {
                    ++errors;
                }
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    size_t total = 0;
    for (int c = 0; c < options.concurrency; ++c) {
        all.insert(all.end(), latencies[c].begin(), latencies[c].end());
        total += bytes[c];
    }
    if (reportLatency) {
        std::printf("ok=%zu errors=%d rps=%.0f p50_us=%.0f p99_us=%.0f\n", all.size(),
                    errors.load(), static_cast<double>(all.size()) / elapsed, Percentile(all, 0.50),
                    Percentile(all, 0.99));
    } else {
        std::printf("ok=%zu errors=%d mib_s=%.0f\n", all.size(), errors.load(),
                    static_cast<double>(total) / elapsed / (1024.0 * 1024.0));
    }
}

// A connection to the echo server, through a CONNECT tunnel when proxied.
std::unique_ptr<Socket> OpenPipe(const Options& options) {
    if (options.proxy == 0) {
        return std::make_unique<Socket>(options.port);
    }
    auto socket = std::make_unique<Socket>(options.proxy);
    const std::string target = options.host + ":" + std::to_string(options.port);
    socket->SendAll("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
    std::string rest;
    const std::string head = socket->ReadHead(rest);
    if (head.compare(9, 3, "200") != 0 || !rest.empty()) {
        throw std::runtime_error("tunnel refused");
    }
    return socket;
}

void RunSetup(const Options& options) {
    std::vector<double> times;
    int errors = 0;
    for (int i = 0; i < options.count; ++i) {
        const auto begin = Clock::now();
        try {
            OpenPipe(options);
            times.push_back(Micros(Clock::now() - begin));
        } catch (const std::exception&) {
            ++errors;
        }
    }
    std::printf("ok=%zu errors=%d p50_us=%.0f p99_us=%.0f\n", times.size(), errors,
                Percentile(times, 0.50), Percentile(times, 0.99));
}

void RunRoundTrips(const Options& options) {
    auto pipe = OpenPipe(options);
    std::vector<char> out(options.size, 'r');
    std::vector<char> in(options.size);
    for (int i = 0; i < 20; ++i) {
        pipe->SendAll(out.data(), out.size());
        pipe->ReceiveExactly(in.data(), in.size());
    }
    const auto deadline = Clock::now() + std::chrono::duration<double>(options.seconds);
    std::vector<double> times;
    for (int i = 0; i < options.count && Clock::now() < deadline; ++i) {
        const auto begin = Clock::now();
        pipe->SendAll(out.data(), out.size());
        pipe->ReceiveExactly(in.data(), in.size());
        times.push_back(Micros(Clock::now() - begin));
    }
    std::printf("ok=%zu p50_us=%.0f p99_us=%.0f\n", times.size(), Percentile(times, 0.50),
                Percentile(times, 0.99));
}

// Sends for the given time while another thread reads the echo back; counts
// what came back. The write side is never half-closed: a tunnel may end at
// that, before the echo of the last bytes is back.
void RunStream(const Options& options) {
    auto pipe = OpenPipe(options);
    std::atomic<size_t> sent{0};
    std::atomic<bool> done{false};
    size_t received = 0;
    const auto start = Clock::now();
    std::thread reader([&] {
        std::vector<char> buffer(262144);
        try {
            while (!done || received < sent) {
                size_t got = pipe->Receive(buffer.data(), buffer.size());
                if (got == 0) {
                    break;
                }
                received += got;
            }
        } catch (const std::exception&) {
            // A stalled or broken tunnel: report what came back.
        }
    });
    const auto deadline = start + std::chrono::duration<double>(options.seconds);
    std::vector<char> chunk(65536, 's');
    try {
        while (Clock::now() < deadline) {
            pipe->SendAll(chunk.data(), chunk.size());
            sent += chunk.size();
        }
    } catch (const std::exception&) {
        // As above; the reader ends at its receive time-out at the latest.
    }
    done = true;
    reader.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("sent=%zu received=%zu mib_s=%.0f\n", sent.load(), received,
                static_cast<double>(received) / elapsed / (1024.0 * 1024.0));
}

void RunEcho(const Options& options) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 512) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("echo: cannot listen");
    }
    std::printf("PORT %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    while (true) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([fd] {
            std::vector<char> buffer(65536);
            ssize_t got;
            while ((got = recv(fd, buffer.data(), buffer.size(), 0)) > 0) {
                for (ssize_t off = 0, n; off < got; off += n) {
                    n = send(fd, buffer.data() + off, static_cast<size_t>(got - off), MSG_NOSIGNAL);
                    if (n <= 0) {
                        close(fd);
                        return;
                    }
                }
            }
            close(fd);
        }).detach();
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        const Options options = ParseOptions(argc, argv);
        if (options.mode == "http" || options.mode == "bulk") {
            RunFetches(options, options.mode == "http");
        } else if (options.mode == "setup") {
            RunSetup(options);
        } else if (options.mode == "rtt") {
            RunRoundTrips(options);
        } else if (options.mode == "stream") {
            RunStream(options);
        } else if (options.mode == "echo") {
            RunEcho(options);
        } else {
            throw std::runtime_error("unknown mode " + options.mode);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "loadgen: %s\n", error.what());
        std::printf("failed=1\n");
        return 1;
    }
    return 0;
}
