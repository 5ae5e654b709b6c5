#include "proxy/TCPClient.h"

#include "proxy/NetExceptions.h"

namespace orvalis::proxy {

void TTCPClient::SetHost(std::string host) {
    host_ = std::move(host);
    if (IOHandler()) {
        IOHandler()->Host = host_;
    }
}

void TTCPClient::SetPort(uint16_t port) {
    port_ = port;
    if (IOHandler()) {
        IOHandler()->Port = port_;
    }
}

void TTCPClient::SetReadTimeout(int ms) {
    readTimeout_ = ms;
    if (IOHandler()) {
        IOHandler()->ReadTimeout = ms;
    }
}

void TTCPClient::SetConnectTimeout(int ms) {
    connectTimeout_ = ms;
    if (IOHandler()) {
        IOHandler()->ConnectTimeout = ms;
    }
}

void TTCPClient::Connect() {
    if (Connected()) {
        throw EAlreadyConnected();
    }
    if (host_.empty()) {
        throw EHostRequired();
    }
    if (port_ == 0) {
        throw EPortRequired();
    }
    if (!IOHandler()) {
        SetIOHandler(std::make_unique<TIOHandlerStack>());
    }
    TIOHandler& handler = *IOHandler();
    handler.Host = host_;
    handler.Port = port_;
    handler.ConnectTimeout = connectTimeout_;
    handler.ReadTimeout = readTimeout_;
    if (TIOHandlerSocket* socket = Socket()) {
        socket->BoundIP = BoundIP;
        socket->BoundPort = BoundPort;
        socket->BoundPortMin = BoundPortMin;
        socket->BoundPortMax = BoundPortMax;
        socket->IPVersion = IPVersion;
        socket->ReuseSocket = ReuseSocket;
        socket->SocketGroup = SocketGroup;
    }
    try {
        handler.Open();
        if (OnConnected) {
            OnConnected();
        }
    } catch (...) {
        handler.Close();
        if (OwnsIOHandler()) {
            SetIOHandler(nullptr);
        }
        throw;
    }
}

} // namespace orvalis::proxy
