#include "guard/Firewall.h"

#include "proxy/Stack.h"

namespace orvalis::guard {

void ConfigureFirewall(proxy::THTTPProxyServer& firewall, uint16_t port,
                       const TRequestFilter& filter) {
    firewall.MaxConnections = FirewallMaxConnections;
    firewall.ListenQueue = FirewallListenQueue;
    firewall.OriginReadTimeout = FirewallOriginReadTimeoutMs;
    firewall.DefaultTransferMode = proxy::THTTPProxyTransferMode::tmStreaming;
    firewall.OnHTTPBeforeCommand = [&filter](proxy::THTTPProxyServerContext& AContext) {
        filter.FirewallHTTPBeforeCommand(AContext);
    };
    // Lets a restarted firewall take its port back while connections of the
    // last run linger in TIME_WAIT; Linux still refuses a second listener.
    firewall.ReuseSocket = proxy::TReuseSocket::rsTrue;
    // Loopback only: a filtering proxy reachable from the network would be an
    // open relay while a portal page is shown.
    firewall.Bindings.Clear();
    firewall.SetDefaultPort(port);
    firewall.Bindings.Add().IP = "127.0.0.1";
    if (proxy::TStack::SupportsIPv6()) {
        proxy::TSocketHandle& binding = firewall.Bindings.Add();
        binding.IP = "::1";
        binding.SetIPVersion(proxy::TIPVersion::IPv6);
    }
}

} // namespace orvalis::guard
