#pragma once

#include <string>

namespace orvalis::browser {

// The form in which the engine reports an address that was asked for in
// another spelling: scheme and host lower-cased, an empty path as "/",
// the scheme's default port dropped. Text that is no URI comes back as is.
std::string NormalizedUri(const std::string& uri);

} // namespace orvalis::browser
