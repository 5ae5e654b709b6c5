#pragma once

#include "proxy/IOHandler.h"

#include <functional>
#include <memory>

namespace orvalis::proxy {

// One TCP connection: an I/O handler that it owns or borrows. Used by one
// thread at a time.
class TTCPConnection {
public:
    TTCPConnection() = default;
    TTCPConnection(const TTCPConnection&) = delete;
    TTCPConnection& operator=(const TTCPConnection&) = delete;
    // Closes the handler first.
    virtual ~TTCPConnection();

    TIOHandler* IOHandler() const { return ioHandler_; }
    // The handler as a socket handler, when it is one.
    TIOHandlerSocket* Socket() const { return dynamic_cast<TIOHandlerSocket*>(ioHandler_); }
    bool OwnsIOHandler() const { return ownedHandler_ != nullptr; }
    // Borrows `handler`; a previously owned handler is freed.
    void SetIOHandler(TIOHandler* handler);
    // Takes `handler` over.
    void SetIOHandler(std::unique_ptr<TIOHandler> handler);

    // False without a handler, else the handler's answer.
    bool Connected();
    // Closes an open handler and fires OnDisconnected; nothing without one.
    void Disconnect(bool notifyPeer = true);

    std::function<void()> OnDisconnected;

private:
    TIOHandler* ioHandler_ = nullptr;
    std::unique_ptr<TIOHandler> ownedHandler_;
};

} // namespace orvalis::proxy
