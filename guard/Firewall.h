#pragma once

#include "guard/RequestFilter.h"
#include "proxy/HTTPProxyServer.h"

#include <cstdint>

namespace orvalis::guard {

// The firewall's connection limit.
inline constexpr int FirewallMaxConnections = 50;
// Connections waiting to be accepted. A page opens many connections at once;
// with a shorter queue the ones that find it full are dropped by the kernel
// and the browser retries them only after a second.
inline constexpr int FirewallListenQueue = 128;
// How long an origin may stay silent in the middle of a request: twice what
// common web servers give a backend. Without a limit a stalled server would
// hold one of the 50 places until the program ends, long after the browser
// has given up on it.
inline constexpr int FirewallOriginReadTimeoutMs = 120000;

// Configures `firewall` (inactive) as the program runs it: at most 50
// connections, a listen queue of 128, origins silent for 2 minutes given up,
// bodies streamed, every request judged by `filter` (which must
// outlive it), listening on 127.0.0.1 and, where available, ::1 of `port` only.
// Activating it is left to the caller.
void ConfigureFirewall(proxy::THTTPProxyServer& firewall, uint16_t port,
                       const TRequestFilter& filter);

} // namespace orvalis::guard
