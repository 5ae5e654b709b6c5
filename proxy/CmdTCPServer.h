#pragma once

#include "proxy/CommandHandler.h"
#include "proxy/TCPServer.h"

namespace orvalis::proxy {

// A line-oriented command server: each line a connection sends is dispatched
// to the first handler whose command word begins it, and the replies of the
// command layer are written back on that connection.
class TCmdTCPServer : public TTCPServer, public TCommandDispatcher {
public:
    ~TCmdTCPServer() override;

    // Each line with CR LF, as one write; ENotConnected without a connection.
    void WriteLines(TContext* context, const TStringList& lines) override;
    void DisconnectContext(TContext* context) override;

protected:
    // The handlers are set up at the first activation, before the check, so
    // that a server with handlers needs no OnExecute.
    void VerifyCanActivate() override;
    void HandleConnect(TContext& AContext) override;
    bool HandleExecute(TContext& AContext) override;
    void HandleTooManyConnections(TIOHandler& AIOHandler) override;
};

} // namespace orvalis::proxy
