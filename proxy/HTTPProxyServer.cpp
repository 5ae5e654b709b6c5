#include "proxy/HTTPProxyServer.h"

#include "proxy/NetExceptions.h"
#include "proxy/NumberRule.h"
#include "proxy/Splice.h"
#include "proxy/Stack.h"
#include "proxy/URI.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace orvalis::proxy {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t HTTPDefaultPort = 80;
constexpr uint16_t TunnelDefaultPort = 443;
// How long one wait of the tunnel lasts; data or a close wakes it at once.
constexpr int TunnelWaitMs = 1000;

// A memory stream that does not reserve what a declared length announces, so
// that a forged Content-Length cannot make the proxy allocate gigabytes
// before a single body byte has arrived.
class TDocumentStream : public TMemoryStream {
public:
    void SetSize(int64_t size) override {
        if (size < Size()) {
            TMemoryStream::SetSize(size);
        }
    }
};

// Bodies past this size, or of unknown length, move from socket to socket
// inside the kernel; below it a pipe's set-up costs more than the copy.
constexpr int64_t SpliceThreshold = 64 * 1024;

THTTPProxyServerContext& ProxyContext(const TCommand& command) {
    auto* context = dynamic_cast<THTTPProxyServerContext*>(command.Context);
    if (context == nullptr || !context->Connection || !context->Connection->IOHandler()) {
        throw ENotConnected();
    }
    return *context;
}

// Milliseconds left until `deadline`, never negative; -1 for no deadline.
int MsUntil(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
}

// Header lines up to the empty line, `used` bytes of the head being read
// already. Past HeadLimit, or when a line does not come in time (by `deadline`,
// else the handler's own read time-out), it raises and nothing is relayed.
void ReadHead(TIOHandler& in, THeaderList& lines, size_t used, Clock::time_point deadline) {
    for (;;) {
        if (used >= HeadLimit) {
            throw EReadLnMaxLineLengthExceeded();
        }
        size_t room = HeadLimit - used;
        if (in.MaxLineLength > 0) {
            room = std::min(room, static_cast<size_t>(in.MaxLineLength));
        }
        std::string line = in.ReadLine("\n", MsUntil(deadline), static_cast<int>(room));
        if (in.LastReadTimedOut()) {
            throw EReadTimeout();
        }
        if (line.empty()) {
            return;
        }
        used += line.size() + 2;
        if (line.starts_with("..")) {
            line.erase(0, 1);
        }
        lines.Add(std::move(line));
    }
}

void SwitchNagleOff(TTCPConnection& connection) {
    if (TIOHandlerSocket* socket = connection.Socket(); socket && socket->Binding()) {
        socket->Binding()->SetSockOpt(IPPROTO_TCP, TCP_NODELAY, 1);
    }
}

// A response to HEAD, and one with status 1xx, 204 or 304, ends with its
// header block whatever its Content-Length says.
bool ResponseHasBody(const THTTPProxyServerContext& context) {
    if (context.Command == "HEAD") {
        return false;
    }
    if (context.Headers.Count() == 0) {
        return true;
    }
    const std::string& status = context.Headers[0];
    const size_t space = status.find(' ');
    if (space == std::string::npos) {
        return true;
    }
    const int code = NumberOr(status.substr(space + 1, 3), 0);
    return !((code >= 100 && code < 200) || code == 204 || code == 304);
}

// Copies a body from `source` to `destination` piece by piece as it arrives:
// `due` bytes, or everything until the source closes when `due` is negative.
void StreamBody(TIOHandler& source, TIOHandler& destination, int64_t due) {
    while (due != 0) {
        std::string piece;
        try {
            source.ReadBlock(piece, -1);
        } catch (const EConnClosedGracefully&) {
            if (due < 0) {
                return;
            }
            throw;
        }
        // Nothing, and the source still open: its read time limit ran out.
        if (piece.empty()) {
            throw EReadTimeout();
        }
        if (due > 0) {
            if (static_cast<int64_t>(piece.size()) > due) {
                piece.resize(static_cast<size_t>(due));
            }
            due -= static_cast<int64_t>(piece.size());
        }
        destination.WriteBytes(piece);
    }
}

// The size line of a chunk: hexadecimal digits, perhaps followed by
// extensions after ';'. -1 when it is not one.
int64_t ChunkSize(std::string_view line) {
    line = Trimmed(line.substr(0, line.find(';')));
    if (line.empty() || line.size() > 15) {
        return -1;
    }
    int64_t size = 0;
    for (char c : line) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return -1;
        }
        size = size * 16 + digit;
    }
    return size;
}

// A request body in chunks: Transfer-Encoding ends with "chunked".
bool IsChunked(std::string_view transferEncoding) {
    std::string_view last = transferEncoding.substr(transferEncoding.rfind(',') + 1);
    last = Trimmed(last);
    constexpr std::string_view chunked = "chunked";
    return last.size() == chunked.size() &&
           std::equal(last.begin(), last.end(), chunked.begin(),
                      [](char a, char b) { return (a | 0x20) == b; });
}

// A body in chunks declares no length of its own: it is copied with its
// framing, chunk by chunk, up to the last chunk and the trailer behind it.
// Bytes behind the body stay unread, as for a body with a declared length.
void StreamChunkedBody(TIOHandler& source, TIOHandler& destination) {
    constexpr int64_t PieceSize = 32768;
    for (;;) {
        const std::string sizeLine = source.ReadLine();
        const int64_t size = ChunkSize(sizeLine);
        if (size < 0) {
            throw ENetException("Invalid chunk size");
        }
        destination.WriteLine(sizeLine);
        if (size == 0) {
            break;
        }
        for (int64_t left = size; left > 0;) {
            const int take = static_cast<int>(std::min(left, PieceSize));
            std::string piece;
            source.ReadBlock(piece, take);
            destination.WriteBytes(piece);
            left -= take;
        }
        if (!source.ReadLine().empty()) {
            throw ENetException("Invalid chunk size");
        }
        destination.WriteLine();
    }
    for (;;) {
        const std::string trailer = source.ReadLine();
        destination.WriteLine(trailer);
        if (trailer.empty()) {
            return;
        }
    }
}

// One direction of a tunnel: bytes read from `from` wait in `pending` until
// `to` takes them. Reads and writes never block, so a peer that stops reading
// holds back only its own direction, never the whole tunnel.
struct TTunnelDirection {
    int From;
    int To;
    std::string Pending;
    bool FromOpen = true;
};

// Past this much unsent data a direction stops reading until its peer catches up.
constexpr size_t TunnelPendingLimit = 256 * 1024;

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

void ReadSide(TTunnelDirection& direction) {
    char buffer[32768];
    const ssize_t got = ::recv(direction.From, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got > 0) {
        direction.Pending.append(buffer, static_cast<size_t>(got));
    } else if (got == 0) {
        direction.FromOpen = false;
    } else if (!WouldBlock()) {
        TStack::RaiseLastError();
    }
}

void WriteSide(TTunnelDirection& direction) {
    const ssize_t sent = ::send(direction.To, direction.Pending.data(), direction.Pending.size(),
                                MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
        direction.Pending.erase(0, static_cast<size_t>(sent));
    } else if (sent < 0 && !WouldBlock()) {
        TStack::RaiseLastError();
    }
}

// Copies both ways until a side closes; what that side sent before closing
// is delivered first.
void RunTunnel(TTunnelDirection& up, TTunnelDirection& down) {
    for (;;) {
        if ((!up.FromOpen && up.Pending.empty()) || (!down.FromOpen && down.Pending.empty())) {
            return;
        }
        auto events = [](const TTunnelDirection& reading, const TTunnelDirection& writing) {
            short wanted = 0;
            if (reading.FromOpen && reading.Pending.size() < TunnelPendingLimit) {
                wanted |= POLLIN;
            }
            if (!writing.Pending.empty()) {
                wanted |= POLLOUT;
            }
            return wanted;
        };
        // A side nothing is wanted of is left out: its hang-up or error would
        // otherwise wake every wait at once while its peer is not reading.
        auto side = [](int handle, short wanted) {
            return pollfd{wanted != 0 ? handle : -1, wanted, 0};
        };
        pollfd sides[2] = {side(up.From, events(up, down)), side(down.From, events(down, up))};
        if (::poll(sides, 2, TunnelWaitMs) <= 0) {
            continue;
        }
        const short readable = POLLIN | POLLHUP | POLLERR;
        if ((sides[0].revents & readable) != 0 && (sides[0].events & POLLIN) != 0) {
            ReadSide(up);
        }
        if ((sides[1].revents & readable) != 0 && (sides[1].events & POLLIN) != 0) {
            ReadSide(down);
        }
        if (!up.Pending.empty() && (sides[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            WriteSide(up);
        }
        if (!down.Pending.empty() && (sides[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            WriteSide(down);
        }
    }
}

// Ends the origin side of a relay or tunnel, however it went.
void DropOriginClient(THTTPProxyServerContext& context) {
    context.OriginClient->Disconnect();
    context.OriginClient.reset();
}

int HandleOf(TTCPConnection& connection) {
    TIOHandlerSocket* socket = connection.Socket();
    if (!socket || !socket->Binding()) {
        throw ENotConnected();
    }
    return socket->Binding()->Handle();
}

} // namespace

uint16_t TargetPort(std::string_view text, uint16_t fallback) {
    const std::optional<int32_t> port = ParseNumber(text);
    if (!port) {
        return fallback;
    }
    if (*port < 0 || *port > 65535) {
        throw EInvalidPortRange();
    }
    return static_cast<uint16_t>(*port);
}

int64_t DeclaredLength(std::string_view value) {
    value = Trimmed(value);
    if (value.empty() || value.size() > 18) {
        return -1;
    }
    int64_t length = 0;
    for (char c : value) {
        if (c < '0' || c > '9') {
            return -1;
        }
        length = length * 10 + (c - '0');
    }
    return length;
}

THTTPProxyServer::THTTPProxyServer() {
    ConnectionContextClass = [] { return std::make_unique<THTTPProxyServerContext>(); };
    SetDefaultPort(8080);
    Greeting().Text.clear();
    ReplyUnknownCommand().Text.clear();
}

THTTPProxyServer::~THTTPProxyServer() {
    try {
        SetActive(false);
    } catch (const std::exception&) {
    }
}

void THTTPProxyServer::SetUpCommandHandlers() {
    TCmdTCPServer::SetUpCommandHandlers();
    auto add = [this](const char* command, void (THTTPProxyServer::*run)(TCommand&)) {
        TCommandHandler& handler = CommandHandlers().Add();
        handler.Command = command;
        handler.OnCommand = [this, run](TCommand& ASender) { (this->*run)(ASender); };
        handler.ParseParams = true;
        handler.Disconnect = true;
    };
    add("GET", &THTTPProxyServer::RelayRequest);
    add("POST", &THTTPProxyServer::RelayRequest);
    add("HEAD", &THTTPProxyServer::RelayRequest);
    add("CONNECT", &THTTPProxyServer::OpenTunnel);
    Greeting().Clear();
}

void THTTPProxyServer::ContextCreated(TContext& AContext) {
    auto* context = dynamic_cast<THTTPProxyServerContext*>(&AContext);
    if (context == nullptr) {
        return;
    }
    context->HeadDeadline = RequestHeadTimeout > 0
                                ? Clock::now() + std::chrono::milliseconds(RequestHeadTimeout)
                                : Clock::time_point::max();
    // A browser that takes no byte for this long fails the send under way.
    if (BrowserWriteTimeout > 0 && context->Connection) {
        const timeval limit{BrowserWriteTimeout / 1000, (BrowserWriteTimeout % 1000) * 1000};
        ::setsockopt(HandleOf(*context->Connection), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
}

bool THTTPProxyServer::HandleExecute(TContext& AContext) {
    auto* context = dynamic_cast<THTTPProxyServerContext*>(&AContext);
    if (context == nullptr || CommandHandlers().Count() == 0) {
        return TCmdTCPServer::HandleExecute(AContext);
    }
    if (!AContext.Connection || !AContext.Connection->Connected()) {
        return false;
    }
    TIOHandler& browser = *AContext.Connection->IOHandler();
    std::string line = browser.ReadLine("\n", MsUntil(context->HeadDeadline));
    if (browser.LastReadTimedOut()) {
        return false;
    }
    context->HeadBytes = line.size() + 2;
    ExecuteCommandLine(&AContext, std::move(line));
    return AContext.Connection && AContext.Connection->Connected();
}

void THTTPProxyServer::ReadRequestHead(THTTPProxyServerContext& AContext,
                                       const std::string& command) {
    AContext.Command = command;
    AContext.Headers.Clear();
    ReadHead(*AContext.Connection->IOHandler(), AContext.Headers, AContext.HeadBytes,
             AContext.HeadDeadline);
    AContext.OriginClient = std::make_unique<TTCPClient>();
}

bool THTTPProxyServer::FireBeforeCommand(THTTPProxyServerContext& AContext) {
    AContext.CurrentTransferMode = DefaultTransferMode;
    AContext.TransferDirection = THTTPProxyTransferDirection::tdFromBrowser;
    AContext.Blocked = false;
    if (OnHTTPBeforeCommand) {
        OnHTTPBeforeCommand(AContext);
    }
    if (AContext.Blocked) {
        AContext.Headers.Clear();
        AContext.OriginClient.reset();
    }
    return !AContext.Blocked;
}

void THTTPProxyServer::ConnectOrigin(THTTPProxyServerContext& AContext) {
    TTCPClient& client = *AContext.OriginClient;
    auto handler = std::make_unique<TIOHandlerStack>();
    handler->UseNagle = false;
    client.SetIOHandler(std::move(handler));
    if (OriginReadTimeout > 0) {
        client.SetReadTimeout(OriginReadTimeout);
    }
    // Deactivation then ends a connect, read or write on the origin side too.
    client.SocketGroup = &AContext.Sockets;
    client.Connect();
    SwitchNagleOff(*AContext.Connection);
}

void THTTPProxyServer::RelayRequest(TCommand& ASender) {
    ASender.AutoReply = false;
    THTTPProxyServerContext& context = ProxyContext(ASender);
    ReadRequestHead(context, ASender.CommandHandler.Command);
    context.Target = ASender.Params[0];
    const TURI target(context.Target);
    context.OriginClient->SetHost(target.Host);
    context.OriginClient->SetPort(TargetPort(target.Port, HTTPDefaultPort));
    context.Document = target.GetPathAndParams();
    if (!FireBeforeCommand(context)) {
        return;
    }
    try {
        ConnectOrigin(context);
        TransferMessage(context, *context.Connection, *context.OriginClient);
        context.Headers.Clear();
        ReadHead(*context.OriginClient->IOHandler(), context.Headers, 0, Clock::time_point::max());
        context.CurrentTransferMode = DefaultTransferMode;
        context.TransferDirection = THTTPProxyTransferDirection::tdFromOrigin;
        if (OnHTTPResponse) {
            OnHTTPResponse(context);
        }
        TransferMessage(context, *context.OriginClient, *context.Connection);
    } catch (...) {
        DropOriginClient(context);
        throw;
    }
    DropOriginClient(context);
}

void THTTPProxyServer::TransferMessage(THTTPProxyServerContext& AContext, TTCPConnection& source,
                                       TTCPConnection& destination) {
    TIOHandler& in = *source.IOHandler();
    TIOHandler& out = *destination.IOHandler();
    const bool fromBrowser =
        AContext.TransferDirection == THTTPProxyTransferDirection::tdFromBrowser;
    const int64_t size = DeclaredLength(AContext.Headers.ValueOf("Content-Length"));
    // A request in chunks is sent on as it came, in either transfer mode; its
    // framing, not a Content-Length beside it, tells where it ends.
    const bool chunked = fromBrowser && IsChunked(AContext.Headers.ValueOf("Transfer-Encoding"));
    const bool hasBody = fromBrowser ? size > 0 && !chunked : ResponseHasBody(AContext);
    const bool streaming = AContext.CurrentTransferMode == THTTPProxyTransferMode::tmStreaming;

    // The head, and in streaming mode the body bytes already received behind
    // it, leave in one send.
    out.BeginBufferedWrite();
    try {
        // A body in chunks goes out under HTTP/1.1, the version whose framing
        // it is, and asks the origin to close after its response, which the
        // relay reads until the close like any other.
        if (fromBrowser) {
            out.WriteLine(AContext.Command + " " + AContext.Document +
                          (chunked ? " HTTP/1.1" : " HTTP/1.0"));
        }
        for (const std::string& line : AContext.Headers.Lines()) {
            out.WriteLine(line);
        }
        if (chunked) {
            out.WriteLine("Connection: close");
        }
        out.WriteLine();
        int64_t due = hasBody ? size : 0;
        if (hasBody && streaming && !in.IsInputEmpty()) {
            const int buffered = in.InputStore().Size();
            const int take =
                due < 0 ? buffered : static_cast<int>(std::min<int64_t>(due, buffered));
            out.WriteBytes(in.InputStore().Extract(take));
            if (due > 0) {
                due -= take;
            }
        }
        out.EndBufferedWrite();
        if (chunked) {
            StreamChunkedBody(in, out);
            return;
        }
        if (!hasBody) {
            return;
        }
        if (streaming) {
            if (!SpliceRest(AContext, source, destination, due)) {
                StreamBody(in, out, due);
            }
            return;
        }
    } catch (...) {
        out.CancelBufferedWrite();
        throw;
    }
    std::unique_ptr<TStream> document = std::make_unique<TDocumentStream>();
    in.ReadIntoStream(*document, size, size < 0);
    document->SetPosition(0);
    if (OnHTTPDocument) {
        OnHTTPDocument(AContext, document);
    }
    if (document) {
        out.Write(*document, 0);
    }
}

bool THTTPProxyServer::SpliceRest(const THTTPProxyServerContext& AContext, TTCPConnection& source,
                                  TTCPConnection& destination, int64_t due) const {
    if ((due >= 0 && due <= SpliceThreshold) || !source.IOHandler()->IsInputEmpty()) {
        return false;
    }
    // Without a descriptor to spare the body is copied instead of refused.
    std::optional<TSplicePipe> pipe = TSplicePipe::Open();
    if (!pipe) {
        return false;
    }
    const bool toOrigin = AContext.TransferDirection == THTTPProxyTransferDirection::tdFromBrowser;
    SpliceBody(HandleOf(source), HandleOf(destination), due, *pipe,
               std::max(source.IOHandler()->ReadTimeout, 0),
               toOrigin ? OriginReadTimeout : BrowserWriteTimeout);
    return true;
}

void THTTPProxyServer::OpenTunnel(TCommand& ASender) {
    ASender.AutoReply = false;
    THTTPProxyServerContext& context = ProxyContext(ASender);
    ReadRequestHead(context, "CONNECT");
    context.Target = ASender.Params[0];
    const std::string& target = context.Target;
    const size_t colon = target.find(':');
    context.OriginClient->SetHost(target.substr(0, colon));
    context.OriginClient->SetPort(colon == std::string::npos
                                      ? TunnelDefaultPort
                                      : TargetPort(target.substr(colon + 1), TunnelDefaultPort));
    if (!FireBeforeCommand(context)) {
        return;
    }
    try {
        ConnectOrigin(context);
        TIOHandler& browser = *context.Connection->IOHandler();
        browser.Write(TStringList{"HTTP/1.0 200 Connection established",
                                  "Proxy-agent: Orvalis-Proxy/1.1", ""});
        const int browserSocket = HandleOf(*context.Connection);
        const int originSocket = HandleOf(*context.OriginClient);
        std::optional<TSplicePipe> upPipe = TSplicePipe::Open();
        std::optional<TSplicePipe> downPipe = TSplicePipe::Open();
        TTunnelDirection up{browserSocket, originSocket, {}};
        TTunnelDirection down{originSocket, browserSocket, {}};
        // Bytes the browser sent right behind its request are already buffered.
        if (!browser.IsInputEmpty()) {
            up.Pending = browser.InputStore().Extract();
        }
        if (upPipe && downPipe && up.Pending.empty()) {
            SpliceBothWays(browserSocket, originSocket, *upPipe, *downPipe);
        } else {
            RunTunnel(up, down);
        }
    } catch (...) {
        DropOriginClient(context);
        throw;
    }
    DropOriginClient(context);
}

} // namespace orvalis::proxy
