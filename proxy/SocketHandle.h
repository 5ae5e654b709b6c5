#pragma once

#include "proxy/Stack.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvalis::proxy {

// Only rsTrue changes anything: address reuse is set before bind.
enum class TReuseSocket : uint8_t { rsOSDependent, rsTrue, rsFalse };

class TSocketHandle;

// The sockets one connection thread works with (its own connection, an
// outbound client). Another thread can shut them all down to end that thread's
// blocked reads, writes and connects; the owning thread still closes them, so a
// handle is never closed under a thread that uses it. Once shut down, sockets
// added later are shut down at once. Thread-safe.
class TSocketGroup {
public:
    TSocketGroup() = default;
    TSocketGroup(const TSocketGroup&) = delete;
    TSocketGroup& operator=(const TSocketGroup&) = delete;

    void Add(TSocketHandle& handle);
    void Remove(TSocketHandle& handle);
    void ShutdownAll();
    bool IsShutDown() const;

private:
    mutable std::mutex lock_;
    std::vector<TSocketHandle*> handles_;
    bool shutDown_ = false;
};

// One socket with its local and peer address: a listening binding of the
// server, or the socket of a connection. Used by one thread, except Shutdown,
// which any thread may call.
class TSocketHandle {
public:
    TSocketHandle() = default;
    TSocketHandle(const TSocketHandle&) = delete;
    TSocketHandle& operator=(const TSocketHandle&) = delete;
    ~TSocketHandle();

    // Local address: empty IP is the wildcard address of the IP version.
    std::string IP;
    uint16_t Port = 0;
    // A range of local ports to try from the top, used when Port is 0.
    uint16_t ClientPortMin = 0;
    uint16_t ClientPortMax = 0;
    std::string PeerIP;
    uint16_t PeerPort = 0;

    TIPVersion IPVersion() const { return ipVersion_; }
    // Raises ECannotSetIPVersionWhenConnected while a socket is allocated.
    void SetIPVersion(TIPVersion ipVersion);
    TSocket Handle() const { return handle_; }
    bool HandleAllocated() const { return handle_ != InvalidSocket; }

    // A new stream socket of the IP version; an existing one is closed first.
    void AllocateSocket();
    // Binds to IP:Port or into the port range, then reads the local address
    // back. A failed bind raises ECouldNotBindSocket, whatever the cause.
    void Bind();
    void Listen(int backlog);
    // Accepts a connection of `listening` into this handle; false when none came.
    bool Accept(TSocket listening);
    // Connects to PeerIP:PeerPort.
    void Connect();
    void SetPeer(const std::string& ip, uint16_t port, TIPVersion ipVersion);
    void CloseSocket();
    // Shuts both directions down so that every blocked call on the socket
    // returns; the socket stays allocated until CloseSocket. Any thread.
    void Shutdown();
    // Forgets the local and peer addresses.
    void Reset();
    void UpdateBindingLocal();
    // timeoutMs -1 waits without limit.
    bool Readable(int timeoutMs) const;
    void SetSockOpt(int level, int option, int32_t value);
    // Joins `group` (which must outlive this handle) now and with every later socket.
    void SetGroup(TSocketGroup* group);

private:
    void Attach(TSocket handle);

    // Guards the handle against a shutdown from another thread while it closes.
    mutable std::mutex lock_;
    TSocket handle_ = InvalidSocket;
    TIPVersion ipVersion_ = TIPVersion::IPv4;
    TSocketGroup* group_ = nullptr;
};

// The listening addresses of a server. DefaultPort is copied into a binding
// only when it is created.
class TSocketHandles {
public:
    uint16_t DefaultPort = 0;

    TSocketHandle& Add();
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    TSocketHandle& operator[](int index) { return *items_.at(index); }

private:
    std::vector<std::unique_ptr<TSocketHandle>> items_;
};

} // namespace orvalis::proxy
