#pragma once

#include "app/DisplayState.h"
#include "guard/LocationCopy.h"
#include "guard/SiteProfile.h"
#include "proxy/HTTPProxyContext.h"

#include <deque>
#include <mutex>

namespace orvalis::guard {

// Decides, for every request the firewall is about to pass on, whether it
// belongs to the site; a refused request is marked, logged and counted.
// Runs on the proxy's connection threads, several at once.
class TRequestFilter {
public:
    TRequestFilter(const TSiteRules& rules, const TLocationCopy& location,
                   app::TDisplayState& display)
        : rules_(rules), location_(location), display_(display) {}

    void FirewallHTTPBeforeCommand(proxy::THTTPProxyServerContext& AContext) const;

    // Whether the filter refused a request for this address (an http or
    // https URL; the fragment is ignored) among its last RefusalsKept
    // refusals. Tells a page the firewall kept out from one that failed.
    bool RecentlyRefused(const std::string& url) const;
    static constexpr size_t RefusalsKept = 32;

private:
    bool Allows(const proxy::THTTPProxyServerContext& AContext, const std::string& host) const;
    void Block(proxy::THTTPProxyServerContext& AContext, const std::string& host) const;

    const TSiteRules& rules_;
    const TLocationCopy& location_;
    app::TDisplayState& display_;
    mutable std::mutex refusedMutex_;
    mutable std::deque<std::string> refused_; // host (lower case) and document, oldest first
};

// True when the Host header value names the host and port that the relay or
// tunnel will contact (80 for a relayed request, 443 for a tunnel when the
// header gives no port), host names compared ignoring ASCII case.
bool HostHeaderMatchesTarget(std::string_view hostHeader, std::string_view targetHost,
                             uint16_t targetPort, bool tunnel);

} // namespace orvalis::guard
