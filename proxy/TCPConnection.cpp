#include "proxy/TCPConnection.h"

namespace orvalis::proxy {

TTCPConnection::~TTCPConnection() {
    if (ioHandler_) {
        ioHandler_->Close();
    }
}

void TTCPConnection::SetIOHandler(TIOHandler* handler) {
    if (handler == ioHandler_) {
        return;
    }
    ownedHandler_.reset();
    ioHandler_ = handler;
}

void TTCPConnection::SetIOHandler(std::unique_ptr<TIOHandler> handler) {
    SetIOHandler(handler.get());
    ownedHandler_ = std::move(handler);
}

bool TTCPConnection::Connected() {
    return ioHandler_ && ioHandler_->Connected();
}

// A plain TCP connection has nothing to tell its peer before closing, so
// notifyPeer changes nothing here.
void TTCPConnection::Disconnect(bool /*notifyPeer*/) {
    if (ioHandler_ && ioHandler_->IsOpen()) {
        ioHandler_->Close();
        if (OnDisconnected) {
            OnDisconnected();
        }
    }
}

} // namespace orvalis::proxy
