#include "guard/NavigationGuard.h"

#include "guard/ExString.h"
#include "guard/SiteProfile.h"

namespace orvalis::guard {

bool AllowsTopLevelNavigation(std::string_view url) {
    std::string u = LowerAscii(url);
    if (u == "about:blank" || u.starts_with("javascript:")) {
        return true;
    }
    // Any other scheme (file, data, blob, view-source, the engine's own
    // pages) shows a page whose requests the filter cannot place.
    if (!u.starts_with("http://") && !u.starts_with("https://")) {
        return false;
    }
    return Occurs("javascript:", u) || Occurs(SiteProfile::SiteFragment, u) ||
           Occurs(SiteProfile::PartnerFragment, u);
}

void TPopupPolicy::EvaluateNewWindow(std::string_view url, int32_t& rezult) {
    for (std::string_view allowed : SiteProfile::PopupAllowList) {
        if (Occurs(allowed, url)) {
            PendingPopup = true;
            PendingPopupUrl = std::string(url);
            rezult = 0;
            return;
        }
    }
}

std::optional<std::string> TPopupPolicy::NewWindow(bool& cancel) {
    if (!PendingPopup) {
        return std::nullopt;
    }
    cancel = true;
    PendingPopup = false;
    return PendingPopupUrl;
}

bool FillsBrowserArea(TPoint topLeft, TPoint bottomRight, int width, int height) {
    return topLeft.X < FixUpMargin && topLeft.Y < FixUpMargin &&
           bottomRight.X > width - FixUpMargin && bottomRight.Y > height - FixUpMargin;
}

} // namespace orvalis::guard
