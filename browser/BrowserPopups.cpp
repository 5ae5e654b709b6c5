// OnEvaluateNewWindow, OnNewWindow2 and OnResize, and the secondary windows for the
// pop-ups that no handler takes.

#include "browser/BrowserPopups.h"

#include "browser/BrowserChannels.h"
#include "browser/BrowserHost.h"
#include "browser/UriText.h"

namespace orvalis::browser {

GtkWidget* TCustomBrowserHost::CreateNewWindow(WebKitNavigationAction* action) {
    if (refusesLinkInNewWindow(action))
        return nullptr;
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    const char* name = webkit_navigation_action_get_frame_name(action);
    const bool gesture = webkit_navigation_action_is_user_gesture(action);

    int32_t rezult = E_FAIL;
    if (OnEvaluateNewWindow) {
        const uint32_t flags = gesture ? NWMF_USERINITED | NWMF_FIRST : 0;
        const auto now = static_cast<uint32_t>(g_get_monotonic_time() / 1000);
        OnEvaluateNewWindow(*this, uri ? uri : "", name ? name : "", LocationURL(), "", false,
                            flags, gesture ? now : 0, rezult);
    }
    // E_FAIL leaves it to the pop-up blocker: only what the user asked for.
    const bool allowed = rezult == S_OK || (rezult != S_FALSE && gesture);
    if (!allowed)
        return nullptr;

    TBrowserHost* ppDisp = nullptr;
    bool cancel = false;
    if (OnNewWindow2)
        OnNewWindow2(*this, ppDisp, cancel);
    if (cancel)
        return nullptr;
    // A host given back must have been created for this browser's pop-ups.
    if (ppDisp)
        return GTK_WIDGET(ppDisp->WebView());
    return openPopup(WebView(), true);
}

GtkWidget* TCustomBrowserHost::openPopup(WebKitWebView* opener, bool userGesture) {
    if (!userGesture)
        return nullptr;
    auto popup = std::make_unique<TPopupWindow>(*this, opener);
    GtkWidget* view = GTK_WIDGET(popup->WebView());
    popups_.push_back(std::move(popup));
    return view;
}

void TCustomBrowserHost::closePopup(TPopupWindow* popup) {
    popup->hide();
    closedPopups_.insert(popup);
    // Freed later, not from inside the window's own signal handler.
    if (!popupCleanup_.connected())
        popupCleanup_ = Glib::signal_idle().connect([this] {
            popups_.remove_if([this](const auto& p) { return closedPopups_.count(p.get()) > 0; });
            closedPopups_.clear();
            return false;
        });
}

TPopupWindow::TPopupWindow(TCustomBrowserHost& host, WebKitWebView* opener) : host_(host) {
    // Its own (empty) content manager: the host's frame channel sees only
    // the host's page.
    GRef<WebKitUserContentManager> manager =
        GRef<WebKitUserContentManager>::Adopt(webkit_user_content_manager_new());
    view_ = GRef<WebKitWebView>::Adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(g_object_new(
        WEBKIT_TYPE_WEB_VIEW, "related-view", opener, "settings",
        webkit_web_view_get_settings(opener), "user-content-manager", manager.get(), nullptr))));
    HoldOffChannels(view_.get());
    set_default_size(800, 600);
    if (auto* owner = dynamic_cast<Gtk::Window*>(host.get_root()))
        set_icon_name(owner->get_icon_name());
    Gtk::Widget* widget = Glib::wrap(GTK_WIDGET(view_.get()));
    set_child(*widget);
    g_signal_connect(view_.get(), "ready-to-show", G_CALLBACK(onReadyToShow), this);
    g_signal_connect(view_.get(), "close", G_CALLBACK(onClose), this);
    g_signal_connect(view_.get(), "notify::title", G_CALLBACK(onTitle), this);
    g_signal_connect(view_.get(), "create", G_CALLBACK(onCreate), this);
    g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(onDecidePolicy), nullptr);
    signal_close_request().connect(
        [this] {
            host_.closePopup(this);
            return true;
        },
        false);
}

TPopupWindow::~TPopupWindow() {
    g_signal_handlers_disconnect_by_data(view_.get(), this);
}

void TPopupWindow::onReadyToShow(WebKitWebView* view, gpointer self) {
    auto& popup = *static_cast<TPopupWindow*>(self);
    GdkRectangle geometry{};
    webkit_window_properties_get_geometry(webkit_web_view_get_window_properties(view), &geometry);
    if (geometry.width > 0 && geometry.height > 0)
        popup.set_default_size(geometry.width, geometry.height);
    popup.present();
}

void TPopupWindow::onClose(WebKitWebView*, gpointer self) {
    auto& popup = *static_cast<TPopupWindow*>(self);
    popup.host_.closePopup(&popup);
}

void TPopupWindow::onTitle(GObject*, GParamSpec*, gpointer self) {
    auto& popup = *static_cast<TPopupWindow*>(self);
    const char* title = webkit_web_view_get_title(popup.view_.get());
    popup.set_title(title ? title : "");
}

// Without the guard of the main window, a pop-up shows web addresses only.
gboolean TPopupWindow::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                      WebKitPolicyDecisionType type, gpointer) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
        return FALSE;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (uri && (IsWebAddress(uri) || g_ascii_strcasecmp(uri, "about:blank") == 0))
        return FALSE;
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

GtkWidget* TPopupWindow::onCreate(WebKitWebView* view, WebKitNavigationAction* action,
                                  gpointer self) {
    auto& popup = *static_cast<TPopupWindow*>(self);
    return popup.host_.openPopup(view, webkit_navigation_action_is_user_gesture(action));
}

} // namespace orvalis::browser

namespace orvalis::browser {

// Window services: a page asking to resize its window. The host window keeps
// its size; the handler decides.
void TCustomBrowserHost::GeometryRequested(int width, int height) {
    if (OnResize && width > 0 && height > 0)
        OnResize(*this, width, height);
}

} // namespace orvalis::browser
