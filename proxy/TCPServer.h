#pragma once

#include "proxy/Scheduler.h"
#include "proxy/SocketHandle.h"
#include "proxy/TCPConnection.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvalis::proxy {

class TCustomTCPServer;

// What a server knows of one accepted connection. Used by that connection's
// thread; the server reaches in from outside only to shut its sockets down.
class TContext {
public:
    TContext() = default;
    TContext(const TContext&) = delete;
    TContext& operator=(const TContext&) = delete;
    virtual ~TContext() = default;

    // Every socket the connection's thread works with. Declared first so that
    // it outlives the connection (and the members of derived contexts).
    TSocketGroup Sockets;
    std::unique_ptr<TTCPConnection> Connection;

private:
    friend class TCustomTCPServer;
    // Whether the connection still takes one of the server's MaxConnections
    // places; guarded by the server's lock of its contexts.
    bool holdsPlace_ = false;
};

// The context a server creates for each connection.
class TServerContext : public TContext {
public:
    TCustomTCPServer* Server = nullptr;
};

// Accepts on one binding and hands each connection to the server.
class TListenerThread {
public:
    TListenerThread(TCustomTCPServer& server, TSocketHandle& binding, std::string name);
    TListenerThread(const TListenerThread&) = delete;
    TListenerThread& operator=(const TListenerThread&) = delete;
    ~TListenerThread();

    const std::string& Name() const { return name_; }
    TSocketHandle& Binding() const { return binding_; }
    bool Stopped() const { return stopped_; }
    void Start();
    // Ends the loop after the current cycle.
    void Stop() { stopped_ = true; }
    // Stops the loop and wakes its wait for a connection at once.
    void Terminate();
    void WaitFor();

private:
    void Execute();

    TCustomTCPServer& server_;
    TSocketHandle& binding_;
    std::string name_;
    std::atomic<bool> stopped_{false};
    std::thread thread_;
};

using TContextEvent = std::function<void(TContext& AContext)>;

// Listens on its bindings (one thread each) and runs every accepted connection
// on a thread of its own until the connection ends. Deactivation stops the
// listeners, shuts every connection's sockets down and returns once all
// connection threads have ended.
class TCustomTCPServer {
public:
    TCustomTCPServer() = default;
    TCustomTCPServer(const TCustomTCPServer&) = delete;
    TCustomTCPServer& operator=(const TCustomTCPServer&) = delete;
    // Deactivates. Connection threads call the virtual hooks, so every class
    // that overrides one must deactivate in its own destructor as well.
    virtual ~TCustomTCPServer();

    bool Active() const { return active_; }
    // Activates or deactivates; the current value changes nothing. A failed
    // activation deactivates and raises its error.
    void SetActive(bool value);

    // Empty at activation: 127.0.0.1 and, where IPv6 works, ::1 on DefaultPort.
    TSocketHandles Bindings;
    uint16_t DefaultPort() const { return Bindings.DefaultPort; }
    void SetDefaultPort(uint16_t port) { Bindings.DefaultPort = port; }
    int ListenQueue = 15;
    // 0 or less: no limit; otherwise the most live connections.
    int MaxConnections = 0;
    TReuseSocket ReuseSocket = TReuseSocket::rsOSDependent;
    // Made at activation when none is given; raises ENetException while active.
    void SetScheduler(std::unique_ptr<TSchedulerOfThread> scheduler);
    TSchedulerOfThread* Scheduler() const { return scheduler_.get(); }
    // Makes each connection's context; TServerContext when unassigned.
    std::function<std::unique_ptr<TServerContext>()> ConnectionContextClass;
    // Connections being served or about to be.
    int LiveContextCount() const;

    std::function<void(TSocketHandle& AHandle)> OnBeforeBind;
    std::function<void()> OnAfterBind;
    std::function<void(TListenerThread& AThread)> OnBeforeListenerRun;
    TContextEvent OnConnect;
    TContextEvent OnDisconnect;
    std::function<void(TContext& AContext, const std::exception& AException)> OnException;
    std::function<void(TListenerThread& AThread, const std::exception& AException)>
        OnListenException;

protected:
    virtual void VerifyCanActivate() {}
    virtual void ContextCreated(TContext& /*AContext*/) {}
    virtual void ContextConnected(TContext& AContext) { HandleConnect(AContext); }
    virtual void ContextDisconnected(TContext& AContext) { HandleDisconnect(AContext); }
    virtual void DoBeforeBind(TSocketHandle& AHandle);
    virtual void DoAfterBind();
    virtual void DoBeforeListenerRun(TListenerThread& AThread);
    virtual void HandleConnect(TContext& AContext);
    virtual void HandleDisconnect(TContext& AContext);
    virtual void HandleException(TContext& AContext, const std::exception& AException);
    // One cycle of a connection; false ends it. True while the connection is connected.
    virtual bool HandleExecute(TContext& AContext);
    virtual void DoListenException(TListenerThread& AThread, const std::exception& AException);
    // A connection over MaxConnections, closed when this returns.
    virtual void HandleTooManyConnections(TIOHandler& /*AIOHandler*/) {}
    // Ends a live connection from the deactivating thread: shuts its sockets
    // down, so that its own thread's blocked read or write fails.
    virtual void HandleContextEnd(TContext& AContext);
    // Called by a connection's own thread just before it closes the connection:
    // the place is free from then on, so that a client reconnecting as soon as
    // it sees the close is not turned away while the thread is still ending.
    void ReleasePlace(TContext& AContext);
    virtual void ActivateServer();
    virtual void DeactivateServer();

private:
    friend class TListenerThread;

    void OpenListeners();
    void CloseListeners();
    void EndAllConnections();
    void ListenOnce(TListenerThread& listener);
    std::unique_ptr<TIOHandler> Accept(TListenerThread& listener);
    void RunContext(TYarnOfThread& yarn, std::unique_ptr<TServerContext> context);
    // Takes one of the MaxConnections places for an accepted connection before
    // its thread starts, so that a burst of connections cannot overshoot the
    // limit; false when none is free.
    bool ReserveContext();
    void CancelReservation();
    // The context takes over its connection's reserved place.
    void AddContext(TContext& context);
    // With the lock of the contexts held.
    void GivePlaceBack(TContext& context);
    void RemoveContext(TContext& context);

    bool active_ = false;
    std::unique_ptr<TSchedulerOfThread> scheduler_;
    bool implicitScheduler_ = false;
    std::mutex listenersLock_;
    std::vector<std::unique_ptr<TListenerThread>> listeners_;
    mutable std::mutex contextsLock_;
    std::vector<TContext*> liveContexts_;
    // Places taken: reserved connections and live contexts that hold one.
    int places_ = 0;
    // Set while connections are being ended: a context that registers late is
    // ended at once.
    bool endingConnections_ = false;
};

// A server whose connections run OnExecute, cycle after cycle.
class TTCPServer : public TCustomTCPServer {
public:
    ~TTCPServer() override;

    TContextEvent OnExecute;

protected:
    // Raises ETCPNoOnExecute without OnExecute.
    void VerifyCanActivate() override;
    bool HandleExecute(TContext& AContext) override;
};

} // namespace orvalis::proxy
