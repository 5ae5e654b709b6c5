#pragma once

#include "proxy/HeaderList.h"
#include "proxy/Stream.h"
#include "proxy/TCPClient.h"
#include "proxy/TCPServer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvalis::proxy {

enum class THTTPProxyTransferMode : uint8_t { tmFullDocument = 0, tmStreaming = 1 };
enum class THTTPProxyTransferDirection : uint8_t { tdFromBrowser = 0, tdFromOrigin = 1 };

// Per-connection record of the proxy: the request being handled, handed to the
// proxy's events. Used only by its connection's thread.
class THTTPProxyServerContext : public TServerContext {
public:
    THTTPProxyServerContext() = default;
    THTTPProxyServerContext(const THTTPProxyServerContext&) = delete;
    THTTPProxyServerContext& operator=(const THTTPProxyServerContext&) = delete;
    ~THTTPProxyServerContext() override = default;

    // The request's header lines, later the response's (status line first).
    THeaderList Headers;
    // Method word as the command handler names it ("GET", "POST", "HEAD", "CONNECT").
    std::string Command;
    // The request target as the browser wrote it: an absolute URL, or
    // host:port in a tunnel.
    std::string Target;
    // Path and query of the target as rebuilt from the parsed URL; empty in a tunnel.
    std::string Document;
    // Exists only while a command runs; created and freed by its handler.
    std::unique_ptr<TTCPClient> OriginClient;
    THTTPProxyTransferMode CurrentTransferMode = THTTPProxyTransferMode::tmFullDocument;
    THTTPProxyTransferDirection TransferDirection = THTTPProxyTransferDirection::tdFromBrowser;
    // Set by an OnHTTPBeforeCommand handler to refuse the request.
    bool Blocked = false;
    // When the browser's whole request head must have arrived.
    std::chrono::steady_clock::time_point HeadDeadline =
        std::chrono::steady_clock::time_point::max();
    // Bytes of the request head read so far (the request line).
    size_t HeadBytes = 0;
};

using TOnHTTPContextEvent = std::function<void(THTTPProxyServerContext& AContext)>;
// The stream holds a whole body, positioned at its start. The handler may
// replace it; what VStream holds on return is written and then freed.
using TOnHTTPDocument =
    std::function<void(THTTPProxyServerContext& AContext, std::unique_ptr<TStream>& VStream)>;

} // namespace orvalis::proxy
