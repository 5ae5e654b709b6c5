#include "proxy/TCPServer.h"

#include "proxy/NetExceptions.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/socket.h>
#include <thread>

namespace orvalis::proxy {

namespace {

// The listener's wait for a connection is cut into slices so that a stop is
// seen even when nothing wakes it.
constexpr int ListenSliceMs = 250;
constexpr std::chrono::milliseconds AcceptBackOff{100};

} // namespace

TListenerThread::TListenerThread(TCustomTCPServer& server, TSocketHandle& binding, std::string name)
    : server_(server), binding_(binding), name_(std::move(name)) {}

TListenerThread::~TListenerThread() {
    Terminate();
    WaitFor();
}

void TListenerThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TListenerThread::Terminate() {
    stopped_ = true;
    binding_.Shutdown();
}

void TListenerThread::WaitFor() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TListenerThread::Execute() {
    try {
        server_.DoBeforeListenerRun(*this);
        while (!Stopped()) {
            server_.ListenOnce(*this);
        }
    } catch (const std::exception&) {
        // A failing before-run hook ends the listener, like a stop.
    }
    binding_.CloseSocket();
}

TCustomTCPServer::~TCustomTCPServer() {
    try {
        SetActive(false);
    } catch (const std::exception&) {
    }
}

void TCustomTCPServer::SetActive(bool value) {
    if (value == active_) {
        return;
    }
    if (value) {
        VerifyCanActivate();
        ActivateServer();
    } else {
        DeactivateServer();
    }
}

void TCustomTCPServer::SetScheduler(std::unique_ptr<TSchedulerOfThread> scheduler) {
    if (active_) {
        throw ENetException("Cannot change the scheduler while the server is Active.");
    }
    scheduler_ = std::move(scheduler);
    implicitScheduler_ = false;
}

int TCustomTCPServer::LiveContextCount() const {
    std::lock_guard lock(contextsLock_);
    return places_;
}

void TCustomTCPServer::DoBeforeBind(TSocketHandle& AHandle) {
    if (OnBeforeBind) {
        OnBeforeBind(AHandle);
    }
}

void TCustomTCPServer::DoAfterBind() {
    if (OnAfterBind) {
        OnAfterBind();
    }
}

void TCustomTCPServer::DoBeforeListenerRun(TListenerThread& AThread) {
    if (OnBeforeListenerRun) {
        OnBeforeListenerRun(AThread);
    }
}

void TCustomTCPServer::HandleConnect(TContext& AContext) {
    if (OnConnect) {
        OnConnect(AContext);
    }
}

void TCustomTCPServer::HandleDisconnect(TContext& AContext) {
    if (OnDisconnect) {
        OnDisconnect(AContext);
    }
}

void TCustomTCPServer::HandleException(TContext& AContext, const std::exception& AException) {
    if (OnException) {
        OnException(AContext, AException);
    }
}

bool TCustomTCPServer::HandleExecute(TContext& AContext) {
    return AContext.Connection && AContext.Connection->Connected();
}

void TCustomTCPServer::DoListenException(TListenerThread& AThread,
                                         const std::exception& AException) {
    if (OnListenException) {
        OnListenException(AThread, AException);
    }
}

void TCustomTCPServer::HandleContextEnd(TContext& AContext) {
    AContext.Sockets.ShutdownAll();
}

void TCustomTCPServer::ActivateServer() {
    if (Bindings.Count() == 0) {
        Bindings.Add().IP = "127.0.0.1";
        if (TStack::SupportsIPv6()) {
            TSocketHandle& binding = Bindings.Add();
            binding.IP = "::1";
            binding.SetIPVersion(TIPVersion::IPv6);
        }
    }
    if (!scheduler_) {
        scheduler_ = std::make_unique<TSchedulerOfThread>();
        implicitScheduler_ = true;
    }
    {
        std::lock_guard lock(contextsLock_);
        endingConnections_ = false;
    }
    try {
        OpenListeners();
    } catch (...) {
        active_ = true;
        try {
            DeactivateServer();
        } catch (const std::exception&) {
        }
        throw;
    }
    active_ = true;
}

void TCustomTCPServer::OpenListeners() {
    std::lock_guard lock(listenersLock_);
    const int first = static_cast<int>(listeners_.size());
    for (int i = first; i < Bindings.Count(); ++i) {
        TSocketHandle& binding = Bindings[i];
        try {
            binding.AllocateSocket();
            if (ReuseSocket == TReuseSocket::rsTrue) {
                binding.SetSockOpt(SOL_SOCKET, SO_REUSEADDR, 1);
            }
            DoBeforeBind(binding);
            binding.Bind();
        } catch (...) {
            // The failed binding's socket is closed too: nothing else would.
            for (int j = i; j >= first; --j) {
                Bindings[j].CloseSocket();
            }
            throw;
        }
    }
    if (first < Bindings.Count()) {
        DoAfterBind();
    }
    for (int i = first; i < Bindings.Count(); ++i) {
        TSocketHandle& binding = Bindings[i];
        binding.Listen(ListenQueue);
        listeners_.push_back(std::make_unique<TListenerThread>(
            *this, binding, "Listener #" + std::to_string(i + 1)));
        listeners_.back()->Start();
    }
}

void TCustomTCPServer::DeactivateServer() {
    active_ = false;
    CloseListeners();
    // Bindings bound in a failed activation have no listener to close them.
    for (int i = 0; i < Bindings.Count(); ++i) {
        Bindings[i].CloseSocket();
    }
    std::exception_ptr failure;
    try {
        EndAllConnections();
    } catch (...) {
        failure = std::current_exception();
    }
    if (implicitScheduler_) {
        scheduler_.reset();
        implicitScheduler_ = false;
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TCustomTCPServer::CloseListeners() {
    std::lock_guard lock(listenersLock_);
    for (auto& listener : listeners_) {
        listener->Terminate();
        listener->WaitFor();
    }
    listeners_.clear();
}

void TCustomTCPServer::EndAllConnections() {
    {
        std::lock_guard lock(contextsLock_);
        endingConnections_ = true;
        for (TContext* context : liveContexts_) {
            HandleContextEnd(*context);
        }
    }
    if (scheduler_) {
        scheduler_->EndAllYarns();
    }
}

std::unique_ptr<TIOHandler> TCustomTCPServer::Accept(TListenerThread& listener) {
    auto handler = std::make_unique<TIOHandlerStack>();
    handler->Open();
    TSocketHandle& listening = listener.Binding();
    while (!listener.Stopped()) {
        // A failed accept (the peer gave up, or the socket was shut down) just
        // goes back to waiting.
        if (!listening.Readable(ListenSliceMs)) {
            continue;
        }
        errno = 0;
        if (handler->Binding()->Accept(listening.Handle())) {
            return handler;
        }
        // Out of descriptors the waiting connection stays queued and the
        // listener readable: pause instead of failing again at once.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            std::this_thread::sleep_for(AcceptBackOff);
        }
    }
    return nullptr;
}

void TCustomTCPServer::ListenOnce(TListenerThread& listener) {
    TYarnOfThread* yarn = nullptr;
    bool reserved = false;
    try {
        yarn = &scheduler_->ObtainYarn();
        std::unique_ptr<TIOHandler> handler = Accept(listener);
        if (!handler) {
            listener.Stop();
            throw EAbort();
        }
        auto connection = std::make_unique<TTCPConnection>();
        connection->SetIOHandler(std::move(handler));
        reserved = ReserveContext();
        if (!reserved) {
            HandleTooManyConnections(*connection->IOHandler());
            connection->Disconnect(true);
            throw EAbort();
        }
        std::unique_ptr<TServerContext> context =
            ConnectionContextClass ? ConnectionContextClass() : std::make_unique<TServerContext>();
        context->Server = this;
        context->Connection = std::move(connection);
        context->Connection->Socket()->Binding()->SetGroup(&context->Sockets);
        ContextCreated(*context);
        TServerContext* task = context.get();
        scheduler_->RunYarn(*yarn, [this, task](TYarnOfThread& thread) {
            RunContext(thread, std::unique_ptr<TServerContext>(task));
        });
        // The thread owns the context now, and turns the reservation into it.
        static_cast<void>(context.release());
    } catch (const std::exception& error) {
        if (reserved) {
            CancelReservation();
        }
        if (yarn) {
            scheduler_->EndYarn(*yarn);
        }
        if (!dynamic_cast<const EAbort*>(&error)) {
            try {
                DoListenException(listener, error);
            } catch (const std::exception&) {
            }
        }
    }
}

void TCustomTCPServer::RunContext(TYarnOfThread& yarn, std::unique_ptr<TServerContext> context) {
    std::exception_ptr failure;
    bool connected = false;
    try {
        AddContext(*context);
        ContextConnected(*context);
        connected = true;
        while (!yarn.Stopped() && HandleExecute(*context)) {
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (connected) {
        try {
            ContextDisconnected(*context);
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
        }
    }
    RemoveContext(*context);
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            try {
                HandleException(*context, error);
            } catch (...) {
            }
        } catch (...) {
        }
    }
    context.reset();
    yarn.Scheduler().ReleaseYarn(yarn);
}

bool TCustomTCPServer::ReserveContext() {
    std::lock_guard lock(contextsLock_);
    if (MaxConnections > 0 && places_ >= MaxConnections) {
        return false;
    }
    ++places_;
    return true;
}

void TCustomTCPServer::CancelReservation() {
    std::lock_guard lock(contextsLock_);
    --places_;
}

void TCustomTCPServer::AddContext(TContext& context) {
    std::lock_guard lock(contextsLock_);
    liveContexts_.push_back(&context);
    context.holdsPlace_ = true;
    if (endingConnections_) {
        HandleContextEnd(context);
    }
}

void TCustomTCPServer::ReleasePlace(TContext& AContext) {
    std::lock_guard lock(contextsLock_);
    GivePlaceBack(AContext);
}

void TCustomTCPServer::GivePlaceBack(TContext& context) {
    if (context.holdsPlace_) {
        context.holdsPlace_ = false;
        --places_;
    }
}

void TCustomTCPServer::RemoveContext(TContext& context) {
    std::lock_guard lock(contextsLock_);
    std::erase(liveContexts_, &context);
    GivePlaceBack(context);
}

TTCPServer::~TTCPServer() {
    try {
        SetActive(false);
    } catch (const std::exception&) {
    }
}

void TTCPServer::VerifyCanActivate() {
    if (!OnExecute) {
        throw ETCPNoOnExecute();
    }
}

bool TTCPServer::HandleExecute(TContext& AContext) {
    if (OnExecute) {
        OnExecute(AContext);
    }
    return TCustomTCPServer::HandleExecute(AContext);
}

} // namespace orvalis::proxy
