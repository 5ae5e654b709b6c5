#pragma once

#include "proxy/CmdTCPServer.h"
#include "proxy/HTTPProxyContext.h"

namespace orvalis::proxy {

// The HTTP proxy: a command server whose commands are the methods. GET, POST
// and HEAD are relayed to the origin server as HTTP/1.0, CONNECT opens a
// tunnel; every browser connection carries one request and then closes.
class THTTPProxyServer : public TCmdTCPServer {
public:
    THTTPProxyServer();
    ~THTTPProxyServer() override;

    THTTPProxyTransferMode DefaultTransferMode = THTTPProxyTransferMode::tmFullDocument;
    // Milliseconds a relayed request's origin may stay silent before the relay
    // gives up and closes both sides; 0 waits without limit.
    int OriginReadTimeout = 0;
    // Milliseconds from accept within which the browser's whole request head
    // must arrive; an idle or trickling connection then gives its place back.
    int RequestHeadTimeout = 30000;
    // Milliseconds a browser may take no byte of a response before it is
    // dropped. Tunnels have no such limit.
    int BrowserWriteTimeout = 120000;
    // Once per request, before anything is forwarded; may refuse it (Blocked).
    TOnHTTPContextEvent OnHTTPBeforeCommand;
    // Once per response, after its header block is read.
    TOnHTTPContextEvent OnHTTPResponse;
    // Once per body read whole, in tmFullDocument only.
    TOnHTTPDocument OnHTTPDocument;

protected:
    void SetUpCommandHandlers() override;
    void ContextCreated(TContext& AContext) override;
    // Reads the request line within the head's deadline; false ends the
    // connection when it does not come in time.
    bool HandleExecute(TContext& AContext) override;

    void RelayRequest(TCommand& ASender);
    void OpenTunnel(TCommand& ASender);
    // Sends the message in ctx.Headers (and, from the browser, the request
    // line) to `destination`, followed by its body read from `source`.
    void TransferMessage(THTTPProxyServerContext& AContext, TTCPConnection& source,
                         TTCPConnection& destination);

private:
    void ReadRequestHead(THTTPProxyServerContext& AContext, const std::string& command);
    // Asks OnHTTPBeforeCommand; a refused request loses its headers and
    // origin client. False when refused.
    bool FireBeforeCommand(THTTPProxyServerContext& AContext);
    void ConnectOrigin(THTTPProxyServerContext& AContext);
    // Moves the rest of a streamed body, `due` bytes or until the source
    // closes, from socket to socket in the kernel. False when the body is
    // small or cannot be spliced, and is left to the copying road.
    bool SpliceRest(const THTTPProxyServerContext& AContext, TTCPConnection& source,
                    TTCPConnection& destination, int64_t due) const;
};

// The most bytes of a head, request line and header lines or status line and
// header lines, that the relay reads; past it both connections close.
constexpr size_t HeadLimit = 64 * 1024;

// The target port of a request: `fallback` when the text is empty or not a
// number. A number outside 0..65535 raises EInvalidPortRange rather than
// naming another port once cut to 16 bits.
uint16_t TargetPort(std::string_view text, uint16_t fallback);

// The length a Content-Length value declares: plain decimal digits only, up
// to 18 of them; -1 for anything else (absent, empty, signed, hexadecimal).
int64_t DeclaredLength(std::string_view value);

} // namespace orvalis::proxy
