#include "browser/BrowserChannels.h"
#include "browser/BrowserHost.h"
#include "browser/FrameChannel.h"
#include "browser/UriText.h"

namespace orvalis::browser {

namespace {

WebKitWebView* NewWebView(WebKitUserContentManager* manager, TBrowserControl* related) {
    // A related view (for a pop-up taken by this browser) must come from the
    // same session; settings stay the browser's own.
    GRef<WebKitSettings> settings = GRef<WebKitSettings>::Adopt(webkit_settings_new());
    GObject* view =
        related ? static_cast<GObject*>(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view",
                                                     related->WebView(), "user-content-manager",
                                                     manager, "settings", settings.get(), nullptr))
                : static_cast<GObject*>(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session",
                                                     ProgramSession(), "web-context",
                                                     ProgramContext(), "user-content-manager",
                                                     manager, "settings", settings.get(), nullptr));
    return WEBKIT_WEB_VIEW(g_object_ref_sink(view));
}

} // namespace

TBrowserControl::TBrowserControl(TBrowserControl* related)
    : contentManager_(GRef<WebKitUserContentManager>::Adopt(webkit_user_content_manager_new())),
      cancellable_(GRef<GCancellable>::Adopt(g_cancellable_new())),
      dispatch_(TBrowserDispatch::Create()) {
    view_ = GRef<WebKitWebView>::Adopt(NewWebView(contentManager_.get(), related));
    channel_ = std::make_shared<TFrameChannel>(
        contentManager_.get(), dispatch_,
        TFrameChannel::THandlers{[this](const TBrowserDispatch& disp, const std::string& url) {
                                     Guarded([&] {
                                         std::string u = url;
                                         if (OnNavigateComplete2)
                                             OnNavigateComplete2(*this, disp, u);
                                     });
                                 },
                                 [this](const TBrowserDispatch& disp, const std::string& url) {
                                     Guarded([&] {
                                         std::string u = url;
                                         if (OnDocumentComplete)
                                             OnDocumentComplete(*this, disp, u);
                                     });
                                 },
                                 [this](const std::string& url) { return frameDispatchFor(url); }});

    // Script errors are never shown: the engine only logs them, and only
    // when asked to.
    webkit_settings_set_enable_write_console_messages_to_stdout(Settings(), FALSE);
    // The host decides about every pop-up itself (see CreateNewWindow).
    webkit_settings_set_javascript_can_open_windows_automatically(Settings(), TRUE);
    HoldOffChannels(view_.get());

    Gtk::Widget* widget = Glib::wrap(GTK_WIDGET(view_.get()));
    widget->set_expand(true);
    append(*widget);
    set_focusable(false);
    connectEvents();
}

TBrowserControl::~TBrowserControl() {
    g_cancellable_cancel(cancellable_.get());
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_back_forward_list(view_.get()), this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_window_properties(view_.get()), this);
    g_signal_handlers_disconnect_by_data(contentManager_.get(), this);
    uriCheck_.disconnect();
    channel_.reset();
}

void TBrowserControl::Navigate(const std::string& URL) {
    if (hostStarted_.size() > 16)
        hostStarted_.clear();
    hostStarted_.insert(NormalizedUri(URL));
    // A script address or a fragment of the page shown loads nothing.
    const bool loads = g_ascii_strncasecmp(URL.c_str(), "javascript:", 11) != 0 &&
                       !(URL.find('#') != std::string::npos &&
                         UriWithoutFragment(NormalizedUri(URL)) == UriWithoutFragment(location_));
    if (loads)
        readyState_ = READYSTATE_LOADING;
    webkit_web_view_load_uri(view_.get(), URL.c_str());
}

void TBrowserControl::GoBack() {
    if (webkit_web_view_can_go_back(view_.get()))
        webkit_web_view_go_back(view_.get());
}

void TBrowserControl::GoForward() {
    if (webkit_web_view_can_go_forward(view_.get()))
        webkit_web_view_go_forward(view_.get());
}

void TBrowserControl::Stop() {
    webkit_web_view_stop_loading(view_.get());
}

void TBrowserControl::Refresh() {
    webkit_web_view_reload(view_.get());
}

void TBrowserControl::RefreshFromNetwork() {
    webkit_web_view_reload_bypass_cache(view_.get());
}

TBrowserDocument TBrowserControl::Document(const TBrowserDispatch& pDisp) const {
    return TBrowserDocument(channel_, pDisp);
}

} // namespace orvalis::browser
