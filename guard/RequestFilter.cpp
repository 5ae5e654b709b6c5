#include "guard/RequestFilter.h"

#include "guard/ExString.h"

namespace orvalis::guard {

namespace {

constexpr std::string_view BlockedLogPrefix = "차단됨: http://";
constexpr std::string_view BlockedStatus = "차단됨.";

bool InAddressRange(const TWideStringArray& octets, const TAddressRange& range) {
    if (ItemFromEnd(octets, 3) != range.FirstOctet || ItemFromEnd(octets, 2) != range.SecondOctet) {
        return false;
    }
    int32_t third = ToInteger(ItemFromEnd(octets, 1));
    return third >= range.Lower && third <= range.Upper;
}

} // namespace

bool HostHeaderMatchesTarget(std::string_view hostHeader, std::string_view targetHost,
                             uint16_t targetPort, bool tunnel) {
    std::string_view name = hostHeader;
    std::string_view port;
    if (!name.empty() && name.front() == '[') {
        size_t close = name.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        std::string_view after = name.substr(close + 1);
        name = name.substr(1, close - 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return false;
            }
            port = after.substr(1);
        }
    } else if (size_t colon = name.find(':'); colon != std::string_view::npos) {
        port = name.substr(colon + 1);
        name = name.substr(0, colon);
    }
    if (LowerAscii(name) != LowerAscii(targetHost)) {
        return false;
    }
    if (port.empty()) {
        return targetPort == (tunnel ? 443 : 80);
    }
    // Only plain decimal digits name a port; anything else cannot match.
    uint32_t value = 0;
    for (char c : port) {
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
    if (MatchesAnyEntry(LowerAscii(location_.Get()), rules_.MainPageList.Entries())) {
        return true;
    }
    // A Host header that names another target than the one contacted would
    // let a site name carry a request to any server.
    if (!host.empty() && AContext.OriginClient &&
        !HostHeaderMatchesTarget(host, AContext.OriginClient->Host(), AContext.OriginClient->Port(),
                                 AContext.Command == "CONNECT")) {
        return false;
    }
    std::string h = LowerAscii(host);
    // The leading "/" lets the entries for the site's bare domains match too.
    std::string delimited = '/' + h + '/';
    if (MatchesAnyEntry(delimited, rules_.HostSuffixList.Entries())) {
        return true;
    }
    TWideStringArray octets = SplitText(h, ".", 0);
    if (InAddressRange(octets, SiteProfile::AddressRangeA) ||
        InAddressRange(octets, SiteProfile::AddressRangeB)) {
        return true;
    }
    std::string hd = LowerAscii(host + AContext.Document);
    if (Occurs(SiteProfile::StreamFragment, hd)) {
        return true;
    }
    return Occurs(SiteProfile::VideoKeyFragment, hd) &&
           Occurs(SiteProfile::FlashFragment, LowerAscii(AContext.Headers.ValueOf("Referer")));
}

void TRequestFilter::Block(proxy::THTTPProxyServerContext& AContext,
                           const std::string& host) const {
    AContext.Blocked = true;
    {
        std::lock_guard lock(refusedMutex_);
        if (refused_.size() == RefusalsKept) {
            refused_.pop_front();
        }
        refused_.push_back(LowerAscii(host) + AContext.Document);
    }
    display_.WriteLog(std::string(BlockedLogPrefix) + host + AContext.Document, true);
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
