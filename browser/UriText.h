#pragma once

#include <string>

namespace orvalis::browser {

// The form in which the engine reports an address that was asked for in
// another spelling: scheme and host lower-cased, an empty path as "/",
// the scheme's default port dropped. Text that is no URI comes back as is.
std::string NormalizedUri(const std::string& uri);

// The address without its fragment ("#...") and, with withQuery false,
// without its query ("?...") either.
std::string UriWithoutFragment(const std::string& uri, bool withQuery = true);
// Whether both addresses have the same scheme, host and port: a document can
// only move to such an address without loading (history.pushState).
bool SameOrigin(const std::string& a, const std::string& b);
// Whether the address goes over the network (http or https): only such a
// load sends its requests through the proxy, where they are judged.
bool IsWebAddress(const std::string& uri);

} // namespace orvalis::browser
