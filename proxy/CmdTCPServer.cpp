#include "proxy/CmdTCPServer.h"

#include "proxy/NetExceptions.h"

namespace orvalis::proxy {

namespace {

TIOHandler& HandlerOf(TContext* context) {
    if (context == nullptr || !context->Connection || !context->Connection->IOHandler()) {
        throw ENotConnected();
    }
    return *context->Connection->IOHandler();
}

} // namespace

TCmdTCPServer::~TCmdTCPServer() {
    try {
        SetActive(false);
    } catch (const std::exception&) {
    }
}

void TCmdTCPServer::WriteLines(TContext* context, const TStringList& lines) {
    HandlerOf(context).Write(lines);
}

void TCmdTCPServer::DisconnectContext(TContext* context) {
    if (context != nullptr && context->Connection) {
        ReleasePlace(*context);
        context->Connection->Disconnect();
    }
}

void TCmdTCPServer::VerifyCanActivate() {
    InitializeCommandHandlers();
    if (CommandHandlers().Count() == 0) {
        TTCPServer::VerifyCanActivate();
    }
}

void TCmdTCPServer::HandleConnect(TContext& AContext) {
    TTCPServer::HandleConnect(AContext);
    if (AContext.Connection && AContext.Connection->Connected()) {
        TStringList greeting = GreetingLines();
        if (!greeting.empty()) {
            WriteLines(&AContext, greeting);
        }
    }
}

bool TCmdTCPServer::HandleExecute(TContext& AContext) {
    if (CommandHandlers().Count() == 0) {
        return TTCPServer::HandleExecute(AContext);
    }
    if (AContext.Connection && AContext.Connection->Connected()) {
        ExecuteCommandLine(&AContext, AContext.Connection->IOHandler()->ReadLine());
    }
    return AContext.Connection && AContext.Connection->Connected();
}

void TCmdTCPServer::HandleTooManyConnections(TIOHandler& AIOHandler) {
    TTCPServer::HandleTooManyConnections(AIOHandler);
    AIOHandler.Write(MaxConnectionLines());
}

} // namespace orvalis::proxy
