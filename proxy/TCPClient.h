#pragma once

#include <cstdint>
#include <string>

namespace orvalis::proxy {

// The outbound client to an origin server. For now it carries only the target
// that a relay or tunnel will contact.
class TTCPClient {
public:
    const std::string& Host() const { return host_; }
    void SetHost(std::string host) { host_ = std::move(host); }
    uint16_t Port() const { return port_; }
    void SetPort(uint16_t port) { port_ = port; }

private:
    std::string host_;
    uint16_t port_ = 0;
};

} // namespace orvalis::proxy
