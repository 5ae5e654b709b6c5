// TBrowserHost: the component itself, its user agent and the blank page.

#include "browser/BrowserHost.h"

#include "browser/TypedUrls.h"

#include <thread>

namespace orvalis::browser {

namespace {

// "scheme:" at the start, where a colon followed by a digit is a port.
bool HasScheme(const std::string& text) {
    if (text.empty() || !g_ascii_isalpha(text[0]))
        return false;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':')
            return i + 1 >= text.size() || !g_ascii_isdigit(text[i + 1]);
        if (!g_ascii_isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

} // namespace

TBrowserHost::TBrowserHost(TBrowserHost* related) : TCustomBrowserHost(related) {
    signal_realize().connect([this] { attachToWindow(); });
    signal_unrealize().connect([this] { detachFromWindow(); });
    watchDialogs();
    watchPrintRequests();
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

void TBrowserHost::NavigateToText(const std::string& Text) {
    const std::string text = TrimText(Text);
    if (text.empty())
        return;
    if (g_file_test(text.c_str(), G_FILE_TEST_IS_DIR)) {
        g_autofree char* path = g_canonicalize_filename(text.c_str(), nullptr);
        g_autofree char* uri = g_filename_to_uri(path, nullptr, nullptr);
        if (uri) {
            Navigate(uri);
            return;
        }
    }
    Navigate(HasScheme(text) ? text : "http://" + text);
}

} // namespace orvalis::browser
