// What the page area shows when the top level cannot show its page: a load
// that failed, or a web process that died. Both are short pages of the host,
// loaded as the engine's alternate HTML under the address concerned, so that
// the address bar, LocationURL and the history name that address, and a
// button loads it again.

#include "browser/BrowserHost.h"
#include "browser/FrameChannel.h"
#include "browser/UriText.h"

namespace orvalis::browser {

namespace {

// Failures that leave nothing to explain: the load was stopped, replaced,
// turned into a download, or cancelled by a decision.
bool ExplainsItself(const GError* error) {
    return error->domain == WEBKIT_POLICY_ERROR || error->domain == WEBKIT_DOWNLOAD_ERROR ||
           g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
           g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

std::string Markup(const std::string& text) {
    g_autofree char* escaped = g_markup_escape_text(text.c_str(), -1);
    return escaped;
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;background:#f4f6fb;color:#223;margin:0;display:flex;"
    "align-items:center;justify-content:center;min-height:100vh}"
    "main{background:#fff;border-radius:8px;padding:24px 32px;max-width:36em;"
    "box-shadow:0 1px 3px rgba(0,0,0,.15)}"
    "h1{font-size:20px;margin:0 0 12px}code{word-break:break-all;color:#555}"
    "button{margin-top:12px;font-size:15px;padding:6px 18px}";

} // namespace

bool TBrowserControl::loadFailed(const char* uri, GError* error) {
    provisional_ = false;
    if (topRefused_ && g_error_matches(error, WEBKIT_POLICY_ERROR,
                                       WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
        return true; // cancelled by OnBeforeNavigate2: the old page stays
    // An address the engine gives up on itself (a redirect to a data
    // address) is reported all the same: the handler may refuse it.
    if (uri && !IsWebAddress(uri) && g_ascii_strcasecmp(uri, "about:blank") != 0)
        return navigateError(uri, error);
    // A page that had started to show stays as far as it came.
    if (topCommitted_ || ExplainsItself(error))
        return false;
    return navigateError(uri ? uri : "", error);
}

bool TBrowserControl::navigateError(const std::string& uri, GError* error) {
    bool cancel = false;
    if (OnNavigateError) {
        std::string url = uri, frame;
        int32_t status = error->code;
        OnNavigateError(*this, dispatch_, url, frame, status, cancel);
    }
    if (!cancel)
        showHostPage(
            "페이지를 열 수 없습니다",
            "사이트에 연결하지 못했습니다. 주소를 확인하거나 잠시 뒤에 다시 시도해 주세요.",
            "다시 시도", uri);
    return true;
}

void TBrowserControl::webProcessTerminated() {
    // Every document of the page went with the process.
    forgetFrames();
    provisional_ = false;
    topCommitted_ = false;
    topAnnouncedUri_.clear();
    showHostPage("페이지가 멈췄습니다",
                 "이 페이지를 보여 주던 프로그램이 끝나 버렸습니다. 다시 불러오면 페이지가 "
                 "돌아옵니다.",
                 "다시 불러오기", location_.empty() ? "about:blank" : location_);
}

void TBrowserControl::showHostPage(const std::string& title, const std::string& text,
                                   const std::string& button, const std::string& uri) {
    const std::string page =
        "<!DOCTYPE html><html lang=\"ko\"><head><meta charset=\"utf-8\"><title>" + Markup(title) +
        "</title><style>" + kStyle + "</style></head><body><main><h1>" + Markup(title) +
        "</h1><p>" + Markup(text) + "</p><p><code>" + Markup(uri) +
        "</code></p><button data-url=\"" + Markup(uri) +
        "\" onclick=\"location.replace(this.dataset.url)\">" + Markup(button) +
        "</button></main></body></html>";
    // Shown under the address as a navigation of the host's own.
    hostStarted_.insert(NormalizedUri(uri));
    readyState_ = READYSTATE_LOADING;
    webkit_web_view_load_alternate_html(view_.get(), page.c_str(), uri.c_str(), nullptr);
}

bool TBrowserControl::downloadUnshowable(WebKitResponsePolicyDecision* decision) {
    // A page the engine cannot show (an archive, a program) is saved, as a
    // desktop browser does; the engine alone would drop it.
    if (webkit_response_policy_decision_is_mime_type_supported(decision))
        return false;
    webkit_policy_decision_download(WEBKIT_POLICY_DECISION(decision));
    return true;
}

void TBrowserControl::forgetFrames() {
    channel_->ForgetDocuments();
    framesAnnounced_.clear();
    frameDispatches_.clear();
}

void TBrowserControl::reportHandlerError(const std::string& what) noexcept {
    try {
        if (OnHandlerError)
            OnHandlerError(*this, what);
        else
            g_warning("event handler failed: %s", what.c_str());
    } catch (...) {
        g_warning("event handler failed: %s", what.c_str());
    }
}

} // namespace orvalis::browser
