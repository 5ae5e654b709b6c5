// Any text parses, and the rebuilt path-and-query is made only of the parts.
#include "proxy/URI.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    orvalis::proxy::TURI uri(text);
    std::string pathAndParams = uri.GetPathAndParams();
    size_t parts = uri.Path.size() + uri.Document.size() + uri.Params.size();
    if (pathAndParams.size() != parts + (uri.Params.empty() ? 0 : 1)) {
        std::abort();
    }
    if (uri.URL.size() != size || uri.URL.find('\\') != std::string::npos) {
        std::abort();
    }
    // Parsing again from a filled object gives the same parts.
    orvalis::proxy::TURI again("http://u:p@[::1]:1/x?y#z");
    again.SetURL(text);
    if (again.GetPathAndParams() != pathAndParams || again.Host != uri.Host) {
        std::abort();
    }
    return 0;
}
