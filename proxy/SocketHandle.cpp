#include "proxy/SocketHandle.h"

#include "proxy/NetExceptions.h"

#include <algorithm>
#include <cstdio>
#include <sys/socket.h>

namespace orvalis::proxy {

void TSocketGroup::Add(TSocketHandle& handle) {
    std::lock_guard lock(lock_);
    handles_.push_back(&handle);
    if (shutDown_) {
        handle.Shutdown();
    }
}

void TSocketGroup::Remove(TSocketHandle& handle) {
    std::lock_guard lock(lock_);
    std::erase(handles_, &handle);
}

void TSocketGroup::ShutdownAll() {
    std::lock_guard lock(lock_);
    shutDown_ = true;
    for (TSocketHandle* handle : handles_) {
        handle->Shutdown();
    }
}

bool TSocketGroup::IsShutDown() const {
    std::lock_guard lock(lock_);
    return shutDown_;
}

TSocketHandle::~TSocketHandle() {
    CloseSocket();
}

void TSocketHandle::SetIPVersion(TIPVersion ipVersion) {
    if (ipVersion == ipVersion_) {
        return;
    }
    if (HandleAllocated()) {
        throw ECannotSetIPVersionWhenConnected();
    }
    ipVersion_ = ipVersion;
}

void TSocketHandle::Attach(TSocket handle) {
    {
        std::lock_guard lock(lock_);
        handle_ = handle;
    }
    if (group_) {
        group_->Add(*this);
    }
}

void TSocketHandle::AllocateSocket() {
    CloseSocket();
    Attach(TStack::NewSocket(ipVersion_));
}

void TSocketHandle::Bind() {
    if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
        try {
            TStack::Bind(handle_, IP, Port, ipVersion_);
        } catch (const ESocketError&) {
            throw ECouldNotBindSocket();
        }
    } else {
        char range[32];
        std::snprintf(range, sizeof range, "(%d - %d)", ClientPortMin, ClientPortMax);
        if (ClientPortMax < ClientPortMin) {
            throw EInvalidPortRange(std::string("Invalid Port Range ") + range);
        }
        bool bound = false;
        for (int port = ClientPortMax; port >= ClientPortMin && !bound; --port) {
            try {
                TStack::Bind(handle_, IP, static_cast<uint16_t>(port), ipVersion_);
                bound = true;
            } catch (const ESocketError&) {
            }
        }
        if (!bound) {
            throw ECanNotBindPortInRange(std::string("Can not bind in port range ") + range);
        }
    }
    UpdateBindingLocal();
}

void TSocketHandle::Listen(int backlog) {
    TStack::Listen(handle_, backlog);
}

bool TSocketHandle::Accept(TSocket listening) {
    TSocketAddress peer;
    TSocket accepted = TStack::Accept(listening, peer);
    if (accepted == InvalidSocket) {
        return false;
    }
    CloseSocket();
    ipVersion_ = peer.IPVersion;
    Attach(accepted);
    UpdateBindingLocal();
    PeerIP = peer.IP;
    PeerPort = peer.Port;
    return true;
}

void TSocketHandle::Connect() {
    TStack::Connect(handle_, PeerIP, PeerPort, ipVersion_);
}

void TSocketHandle::SetPeer(const std::string& ip, uint16_t port, TIPVersion ipVersion) {
    PeerIP = ip;
    PeerPort = port;
    SetIPVersion(ipVersion);
}

void TSocketHandle::CloseSocket() {
    if (group_) {
        group_->Remove(*this);
    }
    std::lock_guard lock(lock_);
    if (handle_ != InvalidSocket) {
        TStack::Disconnect(handle_);
        handle_ = InvalidSocket;
    }
}

void TSocketHandle::Shutdown() {
    std::lock_guard lock(lock_);
    if (handle_ != InvalidSocket) {
        shutdown(handle_, SHUT_RDWR);
    }
}

void TSocketHandle::Reset() {
    IP.clear();
    Port = 0;
    PeerIP.clear();
    PeerPort = 0;
}

void TSocketHandle::UpdateBindingLocal() {
    TSocketAddress local = TStack::GetSocketName(handle_);
    IP = local.IP;
    Port = local.Port;
}

bool TSocketHandle::Readable(int timeoutMs) const {
    return TStack::Readable(handle_, timeoutMs);
}

void TSocketHandle::SetSockOpt(int level, int option, int32_t value) {
    TStack::SetSocketOption(handle_, level, option, value);
}

void TSocketHandle::SetGroup(TSocketGroup* group) {
    if (group_) {
        group_->Remove(*this);
    }
    group_ = group;
    if (group_ && HandleAllocated()) {
        group_->Add(*this);
    }
}

TSocketHandle& TSocketHandles::Add() {
    items_.push_back(std::make_unique<TSocketHandle>());
    items_.back()->Port = DefaultPort;
    return *items_.back();
}

} // namespace orvalis::proxy
