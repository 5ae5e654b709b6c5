// Arbitrary host texts through the request filter and the relay's choice of
// address: whatever the filter lets through is contacted exactly as judged
// (the same four decimal numbers, or the same name for the resolver), never
// this machine, and never a text the C library would read as an address.
#include "fuzz/SiteRules.h"
#include "guard/RequestFilter.h"
#include "proxy/HTTPProxyServer.h"
#include "proxy/HostAddress.h"
#include "proxy/NetExceptions.h"
#include "proxy/URI.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace orvalis;

namespace {

std::string DottedText(const std::array<uint8_t, 4>& octets) {
    return std::to_string(octets[0]) + '.' + std::to_string(octets[1]) + '.' +
           std::to_string(octets[2]) + '.' + std::to_string(octets[3]);
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const guard::TSiteRules& rules = fuzz::PublishedRules();
    if (size == 0) {
        return 0;
    }
    // The first byte chooses a portal page (everything the site's rules
    // would refuse is let through there) or an ordinary one.
    guard::TLocationCopy location;
    location.Set((data[0] & 1) != 0 ? "http://www.velmora.com/main" : "http://www.velmora.com/");
    const std::string hostText(reinterpret_cast<const char*>(data) + 1, size - 1);

    // The request as the relay builds it from its request line.
    proxy::THTTPProxyServerContext context;
    context.Command = "GET";
    context.Target = "http://" + hostText + "/";
    const proxy::TURI target(context.Target);
    context.Document = target.GetPathAndParams();
    context.OriginClient = std::make_unique<proxy::TTCPClient>();
    context.OriginClient->SetHost(target.Host);
    try {
        context.OriginClient->SetPort(proxy::TargetPort(target.Port, 80));
    } catch (const proxy::EInvalidPortRange&) {
        return 0;
    }
    context.Headers.Add("Host: " + hostText);

    app::TDisplayState display;
    guard::TRequestFilter filter(rules, location, display);
    filter.FirewallHTTPBeforeCommand(context);
    if (context.Blocked) {
        return 0;
    }
    const std::string& host = context.OriginClient->Host();
    if (host.empty()) {
        return 0; // the relay refuses a target without host before contacting anyone
    }
    const proxy::TContactHost contact = proxy::ContactHost(host);
    Check(contact.Kind != proxy::TContactHost::TKind::Refused);
    if (contact.Kind == proxy::TContactHost::TKind::Address) {
        const auto judged = proxy::DecimalIPv4(host);
        Check(judged && DottedText(*judged) == contact.Text);
        Check((*judged)[0] != 127 && contact.Text != "0.0.0.0");
    } else {
        in_addr address{};
        Check(contact.Text == host && !proxy::DecimalIPv4(host) &&
              inet_aton(host.c_str(), &address) == 0 && host.find('\0') == std::string::npos);
    }
    return 0;
}
