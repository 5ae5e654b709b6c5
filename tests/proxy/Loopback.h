#pragma once

// Helpers for tests over real loopback sockets: a raw peer that the code under
// test talks to, and counts of the process's descriptors and threads.

#include "proxy/URI.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace orvalis::proxy::testing {

// A raw listening socket on the loopback address of the IP version.
class TRawListener {
public:
    explicit TRawListener(TIPVersion ipVersion = TIPVersion::IPv4, int backlog = 8,
                          uint16_t port = 0);
    TRawListener(const TRawListener&) = delete;
    TRawListener& operator=(const TRawListener&) = delete;
    ~TRawListener();

    uint16_t Port() const { return port_; }
    // The next connection, or -1 when none comes within the time.
    int Accept(int timeoutMs = 10000);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A raw connected socket to ip:port; -1 when refused.
int ConnectRaw(const std::string& ip, uint16_t port);
// A connect that is started but not waited for.
int ConnectRawPending(const std::string& ip, uint16_t port);
void SendAll(int fd, std::string_view bytes);
// Everything until the peer closes (or the time runs out).
std::string ReceiveAll(int fd, int timeoutMs = 10000);
// Up to `count` bytes, waiting at most timeoutMs for the first.
std::string ReceiveSome(int fd, size_t count, int timeoutMs = 10000);
// `count` bytes, or fewer when the peer closes or stays silent for 20 s.
std::string ReceiveExactly(int fd, size_t count);
// True when the peer closed without sending anything more within the time.
bool PeerClosed(int fd, int timeoutMs = 10000);
void CloseRaw(int fd);
// A port that was free a moment ago on both loopback addresses.
uint16_t FreePort();

int CountOpenDescriptors();
int CountThreads();
// The process's peak resident memory (VmHWM) in KiB.
int64_t PeakResidentKiB();
// Processor time the whole process has used, user and system, in seconds.
double ProcessorSeconds();
// Polls `condition` until it holds or the time runs out; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
int64_t MillisecondsSince(std::chrono::steady_clock::time_point start);

} // namespace orvalis::proxy::testing
