#pragma once

#include "guard/SiteProfile.h"

namespace orvalis::fuzz {

// The site's rule lists, published once for every input of a fuzzer.
inline const guard::TSiteRules& PublishedRules() {
    static guard::TSiteRules rules;
    static const bool published = [] {
        rules.MainPageList.Publish(guard::BuildMainPageList());
        rules.HostSuffixList.Publish(guard::BuildHostSuffixList());
        return true;
    }();
    static_cast<void>(published);
    return rules;
}

} // namespace orvalis::fuzz
