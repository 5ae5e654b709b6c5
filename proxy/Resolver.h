#pragma once

#include "proxy/URI.h"

#include <string>

namespace orvalis::proxy {

class TSocketGroup;

// The address of `name` from the platform's resolver, looked up on a small
// pool of threads of its own so that the caller can give up: once `group` is
// shut down the wait ends at once with ENotConnected, whatever the name server
// does. A lookup left behind finishes on its pool thread and is forgotten.
// An answer is reused for two seconds.
std::string ResolveName(const std::string& name, TIPVersion ipVersion, const TSocketGroup* group);

} // namespace orvalis::proxy
