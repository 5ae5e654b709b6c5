// The message bar above the page and what it offers: the user's links that
// the guard kept out of the window, and the page's notifications.
#include "app/Unit1.h"
#include "guard/SiteHosts.h"

namespace orvalis::app {

void TMainForm::WireBars() {
    linksOut_ = std::make_unique<TLinksOut>(*this, MessageBar);
    notifications_ = std::make_unique<TPageNotifications>(
        *this, *Browser, MessageBar,
        [](const std::string& host) { return guard::IsSiteHost(host); });

    // The guard decides first (MainGuard.cpp); a top-level navigation of the
    // user's own that it refused is then offered to the desktop.
    Browser->OnBeforeNavigate2 = [this, guardDecision = std::move(Browser->OnBeforeNavigate2)](
                                     browser::TBrowserControl& sender,
                                     const browser::TBrowserDispatch& pDisp, std::string& URL,
                                     int32_t& Flags, std::string& TargetFrameName,
                                     std::string& PostData, std::string& Headers, bool& Cancel) {
        guardDecision(sender, pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel);
        if (Cancel && (Flags & browser::NAVF_USERINITED) && pDisp == Browser->BrowserDispatch()) {
            linksOut_->Offer(URL);
        }
    };

    // A message belongs to the page that was shown with it.
    g_signal_connect(Browser->WebView(), "load-changed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                         if (event == WEBKIT_LOAD_COMMITTED) {
                             static_cast<TMainForm*>(self)->MessageBar.Close();
                         }
                     }),
                     this);
}

} // namespace orvalis::app
