#pragma once

#include "proxy/URI.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace orvalis::proxy {

using TSocket = int;
constexpr TSocket InvalidSocket = -1;

struct TSocketAddress {
    std::string IP;
    uint16_t Port = 0;
    TIPVersion IPVersion = TIPVersion::IPv4;
};

// The facade over the platform's sockets. Everything above it deals in handles,
// address texts and IP versions; every failure leaves as ESocketError with the
// error numbers and texts the rest of the proxy knows, whatever the platform's
// own numbering. Shared by all threads; keeps no state.
class TStack {
public:
    // A stream socket. IPv6 sockets never accept IPv4 peers, so both families
    // can listen on one port.
    static TSocket NewSocket(TIPVersion ipVersion);
    static void Bind(TSocket handle, const std::string& ip, uint16_t port, TIPVersion ipVersion);
    static void Listen(TSocket handle, int backlog);
    // The accepted socket, or InvalidSocket on any failure (never raises for the
    // platform's errors).
    static TSocket Accept(TSocket listening, TSocketAddress& peer);
    static void Connect(TSocket handle, const std::string& ip, uint16_t port, TIPVersion ipVersion);
    // Bytes received; 0 when the peer has closed.
    static int Receive(TSocket handle, char* buffer, int length);
    // Like Receive, but -1 instead of waiting when nothing has arrived.
    static int ReceiveWaiting(TSocket handle, char* buffer, int length);
    // Bytes sent; never raises SIGPIPE.
    static int Send(TSocket handle, const char* buffer, int length);
    // Shuts the sending side and closes; ignores every result.
    static void Disconnect(TSocket handle);
    static void SetSocketOption(TSocket handle, int level, int option, int32_t value);
    static TSocketAddress GetSocketName(TSocket handle);
    // True when the socket has data, a waiting connection, or a closed peer.
    // timeoutMs -1 waits without limit.
    static bool Readable(TSocket handle, int timeoutMs);

    // First address the platform's resolver gives for `name`.
    static std::string HostByName(const std::string& name, TIPVersion ipVersion);
    // "localhost" (any case) and IPv4 texts without the resolver; IPv6 texts in
    // their full form.
    static std::string ResolveHost(const std::string& name, TIPVersion ipVersion);
    // Exactly four dot-separated decimal fields, each 0 to 255.
    static bool IsIP(std::string_view text);
    // Eight hexadecimal groups without leading zeros and no "::"; empty when
    // `text` is no IPv6 address.
    static std::string MakeCanonicalIPv6Address(const std::string& text);
    // IPv6 sockets can be made and the IPv6 loopback address can be bound.
    static bool SupportsIPv6();

    // The proxy's error number for a platform errno value (unmapped ones keep
    // their own number).
    static int TranslateError(int errnoValue);
    static std::string ErrorText(int code);
    [[noreturn]] static void RaiseSocketError(int code);
    // Raises for the current errno.
    [[noreturn]] static void RaiseLastError();
};

} // namespace orvalis::proxy
