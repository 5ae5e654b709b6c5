// Everyday browsing beyond the guard: failed loads told apart from the
// firewall's refusals, downloads reported in the page's status panel, and handler
// failures reported in the log panel instead of ending the program.
#include "app/Unit1.h"

namespace orvalis::app {

namespace {

constexpr std::string_view HandlerFailedText = "처리 중 오류가 있었지만 계속합니다: ";

} // namespace

void TMainForm::WireBrowsing() {
    using namespace browser;
    Browser->OnNavigateError = [this](TBrowserControl&, const TBrowserDispatch& pDisp,
                                      std::string& URL, std::string&, int32_t&,
                                      bool& Cancel) { BrowserNavigateError(pDisp, URL, Cancel); };
    Browser->OnHandlerError = [this](TBrowserControl&, const std::string& What) {
        display_.WriteLog(std::string(HandlerFailedText) + What, true);
    };
    downloads_ = std::make_unique<TBrowserDownloads>(
        *Browser, *this, std::string(AppCaption),
        [this](const std::string& Text) { display_.PageMessage(Text); });
}

// A page the firewall refused was not seen by the guard before its request
// left (a navigation started by a script), nor was an address the engine gave
// up on itself (a redirect to a data address): the guard has its say now, and
// the page shown stays. Any other failure gets the browser's error page.
void TMainForm::BrowserNavigateError(const browser::TBrowserDispatch& pDisp, const std::string& URL,
                                     bool& Cancel) {
    if (!filter_.RecentlyRefused(URL) && guard::AllowsTopLevelNavigation(URL)) {
        return;
    }
    BrowserBeforeNavigate2(pDisp, URL, Cancel);
    Cancel = true;
}

} // namespace orvalis::app
