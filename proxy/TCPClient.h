#pragma once

#include "proxy/TCPConnection.h"

#include <cstdint>
#include <functional>
#include <string>

namespace orvalis::proxy {

// The outbound client to an origin server: connects to Host:Port with a
// handler of its own unless it was given one.
class TTCPClient : public TTCPConnection {
public:
    const std::string& Host() const { return host_; }
    void SetHost(std::string host);
    uint16_t Port() const { return port_; }
    void SetPort(uint16_t port);
    // Milliseconds; -1 waits without limit.
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int ms);
    // Milliseconds; 0 leaves the platform's own limit, -1 none.
    int ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int ms);

    TIPVersion IPVersion = TIPVersion::IPv4;
    std::string BoundIP;
    uint16_t BoundPort = 0;
    uint16_t BoundPortMin = 0;
    uint16_t BoundPortMax = 0;
    TReuseSocket ReuseSocket = TReuseSocket::rsOSDependent;
    // Joined by the client's socket, so that the server ending a connection
    // also ends a connect, read or write blocked on the origin side.
    TSocketGroup* SocketGroup = nullptr;

    std::function<void()> OnConnected;

    // Raises EAlreadyConnected, EHostRequired or EPortRequired before trying;
    // a failed connect leaves the client without a handler of its own.
    void Connect();

private:
    std::string host_;
    uint16_t port_ = 0;
    int readTimeout_ = -1;
    int connectTimeout_ = 0;
};

} // namespace orvalis::proxy
