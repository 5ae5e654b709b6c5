#include "tests/proxy/Loopback.h"

#include "proxy/Stack.h"

#include <arpa/inet.h>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace orvalis::proxy::testing {

namespace {

int CountEntries(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    // The directory stream itself held one descriptor while it was counted.
    return std::strcmp(folder, "/proc/self/fd") == 0 ? count - 1 : count;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

} // namespace

TRawListener::TRawListener(TIPVersion ipVersion, int backlog, uint16_t port) {
    fd_ = TStack::NewSocket(ipVersion);
    TStack::Bind(fd_, ipVersion == TIPVersion::IPv4 ? "127.0.0.1" : "::1", port, ipVersion);
    TStack::Listen(fd_, backlog);
    port_ = TStack::GetSocketName(fd_).Port;
}

TRawListener::~TRawListener() {
    close(fd_);
}

int TRawListener::Accept(int timeoutMs) {
    if (!WaitReadable(fd_, timeoutMs)) {
        return -1;
    }
    return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

int ConnectRaw(const std::string& ip, uint16_t port) {
    TIPVersion version = ip.find(':') == std::string::npos ? TIPVersion::IPv4 : TIPVersion::IPv6;
    int fd = TStack::NewSocket(version);
    try {
        TStack::Connect(fd, ip, port, version);
    } catch (const std::exception&) {
        close(fd);
        return -1;
    }
    return fd;
}

int ConnectRawPending(const std::string& ip, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            throw std::runtime_error("send failed");
        }
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
}

std::string ReceiveAll(int fd, int timeoutMs) {
    auto start = std::chrono::steady_clock::now();
    std::string all;
    char chunk[65536];
    while (MillisecondsSince(start) < timeoutMs) {
        if (!WaitReadable(fd, 100)) {
            continue;
        }
        ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            break;
        }
        all.append(chunk, static_cast<size_t>(got));
    }
    return all;
}

std::string ReceiveSome(int fd, size_t count, int timeoutMs) {
    if (!WaitReadable(fd, timeoutMs)) {
        return {};
    }
    std::string bytes(count, '\0');
    ssize_t got = recv(fd, bytes.data(), count, 0);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

std::string ReceiveExactly(int fd, size_t count) {
    std::string got;
    while (got.size() < count) {
        std::string piece = ReceiveSome(fd, count - got.size(), 20000);
        if (piece.empty()) {
            break;
        }
        got += piece;
    }
    return got;
}

bool PeerClosed(int fd, int timeoutMs) {
    if (!WaitReadable(fd, timeoutMs)) {
        return false;
    }
    char byte;
    ssize_t got = recv(fd, &byte, 1, 0);
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

void CloseRaw(int fd) {
    if (fd >= 0) {
        close(fd);
    }
}

uint16_t FreePort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        TRawListener probe;
        uint16_t port = probe.Port();
        if (!TStack::SupportsIPv6()) {
            return port;
        }
        try {
            TRawListener v6(TIPVersion::IPv6, 1, port);
            return port;
        } catch (const std::exception&) {
        }
    }
    throw std::runtime_error("no free port");
}

int CountOpenDescriptors() {
    return CountEntries("/proc/self/fd");
}

int CountThreads() {
    // Some runtimes (the thread sanitizer's) add a helper thread at the first
    // thread start: make sure it exists before anything is counted.
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    static_cast<void>(warmedUp);
    return CountEntries("/proc/self/task");
}

int64_t PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmHWM:")) {
            return std::stoll(line.substr(6));
        }
    }
    return -1;
}

double ProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (MillisecondsSince(start) > timeoutMs) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace orvalis::proxy::testing
