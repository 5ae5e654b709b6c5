// TBrowserHost: the component itself, its user agent and the blank page.

#include "browser/BrowserHost.h"

#include <thread>

namespace orvalis::browser {

TBrowserHost::TBrowserHost(TBrowserHost* related) : TCustomBrowserHost(related) {
    signal_realize().connect([this] { attachToWindow(); });
    signal_unrealize().connect([this] { detachFromWindow(); });
    watchDialogs();
}

TBrowserHost::~TBrowserHost() {
    unwatchDialogs();
    detachFromWindow();
}

void TBrowserHost::SetUserAgent(const std::string& userAgent) {
    if (userAgent == userAgent_)
        return;
    userAgent_ = userAgent;
    applyUserAgent();
}

void TBrowserHost::SetUserAgentMode(TUserAgentMode mode) {
    if (mode == userAgentMode_)
        return;
    userAgentMode_ = mode;
    applyUserAgent();
}

void TBrowserHost::applyUserAgent() {
    // The text is sent alone, as set; without a text of its own (or in any
    // other mode) the engine's default applies.
    if (userAgentMode_ == TUserAgentMode::uaInternal && !userAgent_.empty()) {
        if (userAgent_ == appliedUserAgent_)
            return;
        webkit_settings_set_user_agent(Settings(), userAgent_.c_str());
        appliedUserAgent_ = userAgent_;
    } else if (!appliedUserAgent_.empty()) {
        webkit_settings_set_user_agent(Settings(), nullptr);
        appliedUserAgent_.clear();
    }
}

void TBrowserHost::OpenBlankPage(bool Wait) {
    Navigate("about:blank");
    if (!Wait || !get_root())
        return;
    const auto start = std::chrono::steady_clock::now();
    uint32_t timeOut = 0;
    bool cancel = false;
    while (ReadyState() != READYSTATE_COMPLETE) {
        if (OnBusyWait)
            OnBusyWait(*this, start, timeOut, cancel);
        if (cancel)
            return;
        if (timeOut != 0 &&
            std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeOut))
            return;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace orvalis::browser
