#pragma once

#include <string_view>

namespace orvalis::guard {

// Whether a host name is one of the site's domains or a host under one of
// them (ASCII letters in any case), as in "www.velmora.co.kr". Pages of these
// hosts alone may ask the user for anything, such as sending notifications.
bool IsSiteHost(std::string_view host);

} // namespace orvalis::guard
