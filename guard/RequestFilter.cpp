#include "guard/RequestFilter.h"

#include "guard/ExString.h"
#include "proxy/HostAddress.h"

#include <arpa/inet.h>

namespace orvalis::guard {

namespace {

constexpr std::string_view BlockedLogPrefix = "차단됨: http://";
constexpr std::string_view BlockedStatus = "차단됨.";

struct THostPort {
    std::string_view Name;
    std::string_view Port;
    bool HasPort = false;
    bool Valid = true;
};

// A Host header value split into name and port; an IPv6 literal keeps its
// name without the brackets.
THostPort SplitHostPort(std::string_view value) {
    THostPort result{value, {}};
    if (!value.empty() && value.front() == '[') {
        const size_t close = value.find(']');
        if (close == std::string_view::npos) {
            result.Valid = false;
            return result;
        }
        const std::string_view after = value.substr(close + 1);
        result.Name = value.substr(1, close - 1);
        if (!after.empty()) {
            result.Valid = after.front() == ':';
            result.HasPort = true;
            result.Port = after.substr(1);
        }
    } else if (const size_t colon = value.find(':'); colon != std::string_view::npos) {
        result.Name = value.substr(0, colon);
        result.Port = value.substr(colon + 1);
        result.HasPort = true;
    }
    return result;
}

// The engine reaches this machine's addresses without the proxy, so a request
// for one can only come from a page talking to the firewall's port directly.
bool NamesThisMachine(std::string_view host) {
    std::string name = LowerAscii(host);
    if (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    if (name == "localhost" || name.ends_with(".localhost")) {
        return true;
    }
    if (const auto octets = proxy::DecimalIPv4(name)) {
        return (*octets)[0] == 127 || *octets == std::array<uint8_t, 4>{0, 0, 0, 0};
    }
    in6_addr address{};
    return inet_pton(AF_INET6, name.c_str(), &address) == 1 &&
           (IN6_IS_ADDR_LOOPBACK(&address) || IN6_IS_ADDR_UNSPECIFIED(&address));
}

// A host the relay would refuse to contact, or one naming this machine.
bool UnfitHost(std::string_view host) {
    return !host.empty() && (proxy::ContactHost(host).Kind == proxy::TContactHost::TKind::Refused ||
                             NamesThisMachine(host));
}

// An address block is judged on the decimal reading of a host of four
// numbers, which is the address the relay contacts; names never match.
bool InAddressRange(std::string_view name, const TAddressRange& range) {
    if (!proxy::DecimalIPv4(name)) {
        return false;
    }
    const TWideStringArray octets = SplitText(std::string(name), ".", 0);
    if (octets[0] != range.FirstOctet || octets[1] != range.SecondOctet) {
        return false;
    }
    const int32_t third = ToInteger(octets[2]);
    return third >= range.Lower && third <= range.Upper;
}

std::string_view PathOf(std::string_view url) {
    return url.substr(0, url.find('?'));
}

} // namespace

bool HostHeaderMatchesTarget(std::string_view hostHeader, std::string_view targetHost,
                             uint16_t targetPort, bool tunnel) {
    const THostPort header = SplitHostPort(hostHeader);
    if (!header.Valid || LowerAscii(header.Name) != LowerAscii(targetHost)) {
        return false;
    }
    if (header.Port.empty()) {
        return targetPort == (tunnel ? 443 : 80);
    }
    // Only plain decimal digits name a port; anything else cannot match.
    uint32_t value = 0;
    for (char c : header.Port) {
        if (c < '0' || c > '9' || value > 65535) {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value == targetPort;
}

void TRequestFilter::FirewallHTTPBeforeCommand(proxy::THTTPProxyServerContext& AContext) const {
    std::string host = AContext.Headers.ValueOf("Host");
    if (!Allows(AContext, host)) {
        Block(AContext, host);
    }
}

bool TRequestFilter::Allows(const proxy::THTTPProxyServerContext& AContext,
                            const std::string& host) const {
    const bool tunnel = AContext.Command == "CONNECT";
    // Only an absolute http target is a proxy request; any other form can
    // only come from a page talking to the firewall's port directly.
    if (!tunnel && LowerAscii(std::string_view(AContext.Target).substr(0, 7)) != "http://") {
        return false;
    }
    const THostPort header = SplitHostPort(host);
    if (UnfitHost(header.Name) ||
        (AContext.OriginClient && UnfitHost(AContext.OriginClient->Host()))) {
        return false;
    }
    if (MatchesAnyEntry(LowerAscii(location_.Get()), rules_.MainPageList.Entries())) {
        return true;
    }
    // A Host header that names another target than the one contacted would
    // let a site name carry a request to any server.
    if (!host.empty() && AContext.OriginClient &&
        !HostHeaderMatchesTarget(host, AContext.OriginClient->Host(), AContext.OriginClient->Port(),
                                 tunnel)) {
        return false;
    }
    const std::string h = LowerAscii(host);
    // The leading "/" lets the entries for the site's bare domains match too.
    if (MatchesAnyEntry('/' + h + '/', rules_.HostSuffixList.Entries())) {
        return true;
    }
    if (InAddressRange(header.Name, SiteProfile::AddressRangeA) ||
        InAddressRange(header.Name, SiteProfile::AddressRangeB)) {
        return true;
    }
    const std::string document = LowerAscii(AContext.Document);
    if (h.ends_with(SiteProfile::StreamPort) && document.starts_with(SiteProfile::StreamDocument)) {
        return true;
    }
    const size_t query = document.find('?');
    return query != std::string::npos && PathOf(document).ends_with(SiteProfile::VideoPathEnd) &&
           std::string_view(document).substr(query + 1).starts_with(SiteProfile::VideoQueryStart) &&
           PathOf(LowerAscii(AContext.Headers.ValueOf("Referer")))
               .ends_with(SiteProfile::FlashPathEnd);
}

void TRequestFilter::Block(proxy::THTTPProxyServerContext& AContext,
                           const std::string& host) const {
    AContext.Blocked = true;
    std::string shown = host.empty() && AContext.Command == "CONNECT" ? AContext.Target : host;
    // The engine's CONNECT carries a Host without the port: the line names
    // the port of the tunnel's target, as the request line does.
    if (AContext.Command == "CONNECT" && !SplitHostPort(shown).HasPort && AContext.OriginClient) {
        shown += ':' + std::to_string(AContext.OriginClient->Port());
    }
    {
        std::lock_guard lock(refusedMutex_);
        if (refused_.size() == RefusalsKept) {
            refused_.pop_front();
        }
        refused_.push_back(LowerAscii(host) + AContext.Document);
    }
    display_.WriteLog(std::string(BlockedLogPrefix) + shown + AContext.Document, true);
    display_.Status(BlockedStatus, app::TStatusColor::Highlight);
    display_.CountBlock();
}

bool TRequestFilter::RecentlyRefused(const std::string& url) const {
    // A relayed request is kept as host and document ("www.example.com/a?b"),
    // a refused tunnel as its host and port alone ("www.example.com:443").
    std::string rest;
    bool secure = false;
    if (std::string lower = LowerAscii(url.substr(0, 8)); lower.rfind("http://", 0) == 0) {
        rest = url.substr(7);
    } else if (lower.rfind("https://", 0) == 0) {
        rest = url.substr(8);
        secure = true;
    } else {
        return false;
    }
    rest = rest.substr(0, rest.find('#'));
    size_t hostEnd = rest.find_first_of("/?");
    std::string host = LowerAscii(rest.substr(0, hostEnd));
    std::string document = hostEnd == std::string::npos ? "/" : rest.substr(hostEnd);
    if (!document.empty() && document.front() == '?') {
        document.insert(0, "/");
    }
    const std::string wanted =
        secure ? (host.find(':') == std::string::npos ? host + ":443" : host) : host + document;
    std::lock_guard lock(refusedMutex_);
    for (const std::string& entry : refused_) {
        if (entry == wanted) {
            return true;
        }
    }
    return false;
}

} // namespace orvalis::guard
