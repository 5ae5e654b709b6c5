#include "proxy/Stack.h"

#include "proxy/NetExceptions.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace orvalis::proxy {

namespace {

const std::unordered_map<int, int>& ErrnoCodes() {
    static const std::unordered_map<int, int> codes = {
        {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
        {EFAULT, 10014},          {EINVAL, 10022},       {EMFILE, 10024},
        {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},  {EALREADY, 10037},
        {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
        {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
        {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
        {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
        {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
        {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {ENOBUFS, 10055},
        {EISCONN, 10056},         {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
        {EPIPE, 10058},           {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061},    {ELOOP, 10062},        {ENAMETOOLONG, 10063},
        {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
    };
    return codes;
}

const std::unordered_map<int, const char*>& ErrorTexts() {
    static const std::unordered_map<int, const char*> texts = {
        {10004, "Interrupted system call."},
        {10009, "Bad file number."},
        {10013, "Access denied."},
        {10014, "Buffer fault."},
        {10022, "Invalid argument."},
        {10024, "Too many open files."},
        {10035, "Operation would block."},
        {10036, "Operation now in progress."},
        {10037, "Operation already in progress."},
        {10038, "Socket operation on non-socket."},
        {10039, "Destination address required."},
        {10040, "Message too long."},
        {10041, "Protocol wrong type for socket."},
        {10042, "Bad protocol option."},
        {10043, "Protocol not supported."},
        {10044, "Socket type not supported."},
        {10045, "Operation not supported on socket."},
        {10046, "Protocol family not supported."},
        {10047, "Address family not supported by protocol family."},
        {10048, "Address already in use."},
        {10049, "Cannot assign requested address."},
        {10050, "Network is down."},
        {10051, "Network is unreachable."},
        {10052, "Net dropped connection or reset."},
        {10053, "Software caused connection abort."},
        {10054, "Connection reset by peer."},
        {10055, "No buffer space available."},
        {10056, "Socket is already connected."},
        {10057, "Socket is not connected."},
        {10058, "Cannot send or receive after socket is closed."},
        {10059, "Too many references, cannot splice."},
        {10060, "Connection timed out."},
        {10061, "Connection refused."},
        {10062, "Too many levels of symbolic links."},
        {10063, "File name too long."},
        {10064, "Host is down."},
        {10065, "No route to host."},
        {10066, "Directory not empty"},
        {11001, "Host not found."},
    };
    return texts;
}

int TranslateResolverError(int error) {
    switch (error) {
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
    case EAI_NODATA:
        return 11004;
    case EAI_BADFLAGS:
        return 10022;
    case EAI_FAMILY:
        return 10047;
    case EAI_MEMORY:
        return 8;
    case EAI_SERVICE:
        return 10109;
    case EAI_SOCKTYPE:
        return 10044;
    case EAI_ADDRFAMILY:
    case EAI_SYSTEM:
        return 0;
    default:
        return error;
    }
}

int Family(TIPVersion ipVersion) {
    switch (ipVersion) {
    case TIPVersion::IPv4:
        return AF_INET;
    case TIPVersion::IPv6:
        return AF_INET6;
    }
    throw EIPVersionUnsupported();
}

std::string IPv6Text(const in6_addr& address) {
    std::string text;
    for (int group = 0; group < 8; ++group) {
        char part[8];
        std::snprintf(part, sizeof part, group == 0 ? "%x" : ":%x",
                      (address.s6_addr[2 * group] << 8) | address.s6_addr[2 * group + 1]);
        text += part;
    }
    return text;
}

TSocketAddress AddressOf(const sockaddr_storage& storage) {
    TSocketAddress result;
    if (storage.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        result.IP = text;
        result.Port = ntohs(in.sin_port);
        result.IPVersion = TIPVersion::IPv4;
    } else if (storage.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
        result.IP = IPv6Text(in6.sin6_addr);
        result.Port = ntohs(in6.sin6_port);
        result.IPVersion = TIPVersion::IPv6;
    } else {
        throw EIPVersionUnsupported();
    }
    return result;
}

// The platform address for (ip, port); an empty IP is the family's wildcard.
socklen_t MakeAddress(const std::string& ip, uint16_t port, TIPVersion ipVersion,
                      sockaddr_storage& storage) {
    std::memset(&storage, 0, sizeof storage);
    if (Family(ipVersion) == AF_INET) {
        auto& in = reinterpret_cast<sockaddr_in&>(storage);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        if (!ip.empty() && inet_pton(AF_INET, ip.c_str(), &in.sin_addr) != 1) {
            TStack::RaiseSocketError(10022);
        }
        return sizeof in;
    }
    auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    if (!ip.empty() && inet_pton(AF_INET6, ip.c_str(), &in6.sin6_addr) != 1) {
        TStack::RaiseSocketError(10022);
    }
    return sizeof in6;
}

template <typename Call> auto RetryInterrupted(Call call) {
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

} // namespace

TSocket TStack::NewSocket(TIPVersion ipVersion) {
    TSocket handle = socket(Family(ipVersion), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        RaiseLastError();
    }
    if (ipVersion == TIPVersion::IPv6) {
        int on = 1;
        if (setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
            int error = errno;
            close(handle);
            RaiseSocketError(TranslateError(error));
        }
    }
    return handle;
}

void TStack::Bind(TSocket handle, const std::string& ip, uint16_t port, TIPVersion ipVersion) {
    sockaddr_storage address;
    socklen_t length = MakeAddress(ip, port, ipVersion, address);
    if (bind(handle, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        RaiseLastError();
    }
}

void TStack::Listen(TSocket handle, int backlog) {
    if (listen(handle, backlog) != 0) {
        RaiseLastError();
    }
}

TSocket TStack::Accept(TSocket listening, TSocketAddress& peer) {
    sockaddr_storage address;
    socklen_t length = sizeof address;
    TSocket handle = RetryInterrupted([&] {
        return accept4(listening, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    });
    if (handle < 0) {
        return InvalidSocket;
    }
    try {
        peer = AddressOf(address);
    } catch (...) {
        close(handle);
        throw;
    }
    return handle;
}

void TStack::Connect(TSocket handle, const std::string& ip, uint16_t port, TIPVersion ipVersion) {
    sockaddr_storage address;
    socklen_t length = MakeAddress(ip, port, ipVersion, address);
    if (connect(handle, reinterpret_cast<sockaddr*>(&address), length) == 0) {
        return;
    }
    if (errno != EINTR) {
        RaiseLastError();
    }
    // An interrupted connect goes on in the background: wait for its outcome.
    pollfd entry{handle, POLLOUT, 0};
    RetryInterrupted([&] { return poll(&entry, 1, -1); });
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) {
        RaiseSocketError(TranslateError(error));
    }
}

int TStack::Receive(TSocket handle, char* buffer, int length) {
    ssize_t count = RetryInterrupted([&] { return recv(handle, buffer, length, 0); });
    if (count < 0) {
        RaiseLastError();
    }
    return static_cast<int>(count);
}

int TStack::ReceiveWaiting(TSocket handle, char* buffer, int length) {
    ssize_t count = RetryInterrupted([&] { return recv(handle, buffer, length, MSG_DONTWAIT); });
    if (count < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return -1;
        }
        RaiseLastError();
    }
    return static_cast<int>(count);
}

int TStack::Send(TSocket handle, const char* buffer, int length) {
    if (length == 0) {
        return 0;
    }
    ssize_t count = RetryInterrupted([&] { return send(handle, buffer, length, MSG_NOSIGNAL); });
    if (count < 0) {
        RaiseLastError();
    }
    return static_cast<int>(count);
}

void TStack::Disconnect(TSocket handle) {
    shutdown(handle, SHUT_WR);
    close(handle);
}

void TStack::SetSocketOption(TSocket handle, int level, int option, int32_t value) {
    if (setsockopt(handle, level, option, &value, sizeof value) != 0) {
        RaiseLastError();
    }
}

TSocketAddress TStack::GetSocketName(TSocket handle) {
    sockaddr_storage address;
    socklen_t length = sizeof address;
    if (getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        RaiseLastError();
    }
    return AddressOf(address);
}

bool TStack::Readable(TSocket handle, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    pollfd entry{handle, POLLIN, 0};
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        int result = poll(&entry, 1, wait);
        if (result >= 0) {
            return result > 0;
        }
        if (errno != EINTR) {
            RaiseLastError();
        }
    }
}

std::string TStack::HostByName(const std::string& name, TIPVersion ipVersion) {
    addrinfo hints{};
    hints.ai_family = Family(ipVersion);
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int error = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (error != 0) {
        RaiseSocketError(TranslateResolverError(error));
    }
    sockaddr_storage storage{};
    std::memcpy(&storage, result->ai_addr, result->ai_addrlen);
    freeaddrinfo(result);
    return AddressOf(storage).IP;
}

std::string TStack::ResolveHost(const std::string& name, TIPVersion ipVersion) {
    if (ipVersion == TIPVersion::IPv4) {
        if (strcasecmp(name.c_str(), "localhost") == 0) {
            return "127.0.0.1";
        }
        return IsIP(name) ? name : HostByName(name, ipVersion);
    }
    std::string canonical = MakeCanonicalIPv6Address(name);
    return canonical.empty() ? HostByName(name, ipVersion) : canonical;
}

bool TStack::IsIP(std::string_view text) {
    int fields = 0;
    size_t position = 0;
    for (;;) {
        size_t end = text.find('.', position);
        std::string_view field = text.substr(position, end - position);
        if (field.empty() || field.size() > 3 ||
            field.find_first_not_of("0123456789") != std::string_view::npos ||
            std::stoi(std::string(field)) > 255) {
            return false;
        }
        ++fields;
        if (end == std::string_view::npos) {
            return fields == 4;
        }
        position = end + 1;
    }
}

std::string TStack::MakeCanonicalIPv6Address(const std::string& text) {
    in6_addr address;
    if (inet_pton(AF_INET6, text.c_str(), &address) != 1) {
        return {};
    }
    return IPv6Text(address);
}

bool TStack::SupportsIPv6() {
    TSocket handle = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        return false;
    }
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    bool usable = bind(handle, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0;
    close(handle);
    return usable;
}

int TStack::TranslateError(int errnoValue) {
    auto found = ErrnoCodes().find(errnoValue);
    return found == ErrnoCodes().end() ? errnoValue : found->second;
}

std::string TStack::ErrorText(int code) {
    auto found = ErrorTexts().find(code);
    return found == ErrorTexts().end() ? std::string() : found->second;
}

void TStack::RaiseSocketError(int code) {
    std::string message = "Socket Error # " + std::to_string(code) + "\r\n" + ErrorText(code);
    if (code == 10038) {
        throw ENotASocket(code, message);
    }
    throw ESocketError(code, message);
}

void TStack::RaiseLastError() {
    RaiseSocketError(TranslateError(errno));
}

} // namespace orvalis::proxy
