#pragma once

#include "app/DisplayState.h"
#include "guard/LocationCopy.h"
#include "guard/SiteProfile.h"
#include "proxy/HTTPProxyContext.h"

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

private:
    bool Allows(const proxy::THTTPProxyServerContext& AContext, const std::string& host) const;
    void Block(proxy::THTTPProxyServerContext& AContext, const std::string& host) const;

    const TSiteRules& rules_;
    const TLocationCopy& location_;
    app::TDisplayState& display_;
};

// True when the Host header value names the host and port that the relay or
// tunnel will contact (80 for a relayed request, 443 for a tunnel when the
// header gives no port), host names compared ignoring ASCII case.
bool HostHeaderMatchesTarget(std::string_view hostHeader, std::string_view targetHost,
                             uint16_t targetPort, bool tunnel);

} // namespace orvalis::guard
