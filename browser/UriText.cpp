#include "browser/UriText.h"

#include <glib.h>

namespace orvalis::browser {

std::string NormalizedUri(const std::string& uri) {
    const auto flags = static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_SCHEME_NORMALIZE |
                                              G_URI_FLAGS_PARSE_RELAXED);
    GUri* parsed = g_uri_parse(uri.c_str(), flags, nullptr);
    if (!parsed)
        return uri;
    g_autofree char* scheme = g_ascii_strdown(g_uri_get_scheme(parsed), -1);
    const char* host = g_uri_get_host(parsed);
    g_autofree char* lowerHost = host ? g_ascii_strdown(host, -1) : nullptr;
    const char* path = g_uri_get_path(parsed);
    const bool hierarchical = host != nullptr;
    GUri* rebuilt =
        g_uri_build(flags, scheme, g_uri_get_userinfo(parsed), lowerHost, g_uri_get_port(parsed),
                    hierarchical && (!path || !*path) ? "/" : path, g_uri_get_query(parsed),
                    g_uri_get_fragment(parsed));
    g_autofree char* text = g_uri_to_string(rebuilt);
    g_uri_unref(rebuilt);
    g_uri_unref(parsed);
    return text ? text : uri;
}

std::string UriWithoutFragment(const std::string& uri, bool withQuery) {
    return uri.substr(0, uri.find_first_of(withQuery ? "#" : "?#"));
}

bool SameOrigin(const std::string& a, const std::string& b) {
    auto origin = [](const std::string& uri) -> std::string {
        const size_t scheme = uri.find("://");
        if (scheme == std::string::npos)
            return {};
        return NormalizedUri(uri.substr(0, uri.find_first_of("/?#", scheme + 3)));
    };
    const std::string left = origin(a);
    return !left.empty() && left == origin(b);
}

bool IsWebAddress(const std::string& uri) {
    return g_ascii_strncasecmp(uri.c_str(), "http://", 7) == 0 ||
           g_ascii_strncasecmp(uri.c_str(), "https://", 8) == 0;
}

} // namespace orvalis::browser
