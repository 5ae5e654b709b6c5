#include "guard/SiteHosts.h"

#include "guard/ExString.h"
#include "guard/SiteProfile.h"

namespace orvalis::guard {

bool IsSiteHost(std::string_view host) {
    const std::string h = LowerAscii(host);
    for (std::string_view domain : SiteProfile::SiteDomains) {
        if (h == domain || (h.size() > domain.size() && h.ends_with(domain) &&
                            h[h.size() - domain.size() - 1] == '.')) {
            return true;
        }
    }
    return false;
}

} // namespace orvalis::guard
