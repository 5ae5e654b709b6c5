// The request filter on arbitrary headers, document and location: it never
// fails, and a refused request always leaves one line and one count.
#include "fuzz/SiteRules.h"
#include "guard/RequestFilter.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace orvalis;

namespace {

// Cuts the next NUL-separated field off `rest`.
std::string_view Field(std::string_view& rest) {
    size_t end = rest.find('\0');
    std::string_view field = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    return field;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const guard::TSiteRules& rules = fuzz::PublishedRules();
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    guard::TLocationCopy location;
    location.Set(Field(rest));
    app::TDisplayState display;
    guard::TRequestFilter filter(rules, location, display);

    proxy::THTTPProxyServerContext context;
    context.Command = std::string(Field(rest));
    context.Document = std::string(Field(rest));
    std::string_view target = Field(rest);
    if (!target.empty()) {
        context.OriginClient = std::make_unique<proxy::TTCPClient>();
        context.OriginClient->SetHost(std::string(target.substr(1)));
        context.OriginClient->SetPort(static_cast<uint16_t>(target[0] * 257));
    }
    while (!rest.empty()) {
        context.Headers.Add(std::string(Field(rest)));
    }
    filter.FirewallHTTPBeforeCommand(context);
    display.Access([&](app::TDisplayFields& f) {
        bool logged = !f.LogText.empty();
        if (logged != context.Blocked || f.BlockedCount != (context.Blocked ? 1 : 0)) {
            std::abort();
        }
    });
    return 0;
}
