// Wiring of the web view's signals, and the events that simply follow the
// page: status text, title, command state, window geometry.

#include "browser/BrowserHost.h"

namespace orvalis::browser {

namespace {

TBrowserControl& Self(gpointer data) {
    return *static_cast<TBrowserControl*>(data);
}

} // namespace

// The signal trampolines, a friend of the control so that they reach its
// private handlers. Each runs its handler guarded: an exception ends at the
// signal, reported, and the engine gets the default answer.
struct TBrowserSignals {
    static gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self) {
        return Self(self).Guarded([&]() -> gboolean {
            switch (type) {
            case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
                return Self(self).decideNavigation(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
                return Self(self).decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
            default:
                return FALSE; // new windows go through "create"
            }
        });
    }
    static void LoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
        Self(self).Guarded([&] {
            Self(self).loadChanged(event);
            // A page without a title raises no title change after another such
            // page: the caption is read again for every page.
            if (event == WEBKIT_LOAD_COMMITTED)
                Self(self).titleChanged();
        });
    }
    static gboolean LoadFailed(WebKitWebView*, WebKitLoadEvent, const char* uri, GError* error,
                               gpointer self) {
        return Self(self).Guarded([&]() -> gboolean { return Self(self).loadFailed(uri, error); });
    }
    static void MouseTargetChanged(WebKitWebView*, WebKitHitTestResult* hit, guint, gpointer self) {
        const char* link = webkit_hit_test_result_context_is_link(hit)
                               ? webkit_hit_test_result_get_link_uri(hit)
                               : nullptr;
        Self(self).Guarded([&] { Self(self).setStatusText(link ? link : ""); });
    }
    static void TitleChanged(GObject*, GParamSpec*, gpointer self) {
        Self(self).Guarded([&] { Self(self).titleChanged(); });
    }
    static void HistoryChanged(WebKitBackForwardList*, WebKitBackForwardListItem*, gpointer,
                               gpointer self) {
        Self(self).Guarded([&] {
            Self(self).historyChanged();
            Self(self).uriChanged(); // a same-document entry may arrive after its address
        });
    }
    static GtkWidget* Create(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
        return Self(self).Guarded([&] { return Self(self).CreateNewWindow(action); });
    }
    static gboolean ScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
        return Self(self).Guarded(
            [&]() -> gboolean { return Self(self).ShowScriptDialog(dialog); });
    }
    static void GeometryChanged(WebKitWindowProperties* properties, GParamSpec*, gpointer self) {
        GdkRectangle geometry{};
        webkit_window_properties_get_geometry(properties, &geometry);
        Self(self).Guarded([&] { Self(self).GeometryRequested(geometry.width, geometry.height); });
    }
    static void WebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                     gpointer self) {
        // The host ends its process itself only when it is going away.
        if (reason != WEBKIT_WEB_PROCESS_TERMINATED_BY_API)
            Self(self).Guarded([&] { Self(self).webProcessTerminated(); });
    }
};

void TBrowserControl::connectEvents() {
    using S = TBrowserSignals;
    WebKitWebView* view = view_.get();
    g_signal_connect(view, "decide-policy", G_CALLBACK(S::DecidePolicy), this);
    g_signal_connect(view, "load-changed", G_CALLBACK(S::LoadChanged), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(S::LoadFailed), this);
    g_signal_connect(view, "mouse-target-changed", G_CALLBACK(S::MouseTargetChanged), this);
    g_signal_connect(view, "notify::title", G_CALLBACK(S::TitleChanged), this);
    g_signal_connect(view, "create", G_CALLBACK(S::Create), this);
    g_signal_connect(view, "script-dialog", G_CALLBACK(S::ScriptDialog), this);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(S::WebProcessTerminated), this);
    g_signal_connect(webkit_web_view_get_back_forward_list(view), "changed",
                     G_CALLBACK(S::HistoryChanged), this);
    g_signal_connect(webkit_web_view_get_window_properties(view), "notify::geometry",
                     G_CALLBACK(S::GeometryChanged), this);
    watchTopActions();
}

void TBrowserControl::setStatusText(const std::string& text) {
    if (text == statusText_)
        return;
    statusText_ = text;
    if (OnStatusTextChange)
        OnStatusTextChange(*this, statusText_);
}

void TBrowserControl::titleChanged() {
    const char* title = webkit_web_view_get_title(view_.get());
    // A document without a title is known by its address.
    std::string text = title && *title ? title : "";
    if (text.empty()) {
        const char* uri = webkit_web_view_get_uri(view_.get());
        text = uri ? uri : "";
    }
    if (text.empty() || text == title_)
        return;
    title_ = text;
    if (OnTitleChange)
        OnTitleChange(*this, title_);
}

void TBrowserControl::historyChanged() {
    const int back = webkit_web_view_can_go_back(view_.get()) ? 1 : 0;
    const int forward = webkit_web_view_can_go_forward(view_.get()) ? 1 : 0;
    if (back != canGoBack_) {
        canGoBack_ = back;
        if (OnCommandStateChange)
            OnCommandStateChange(*this, 2, back != 0);
    }
    if (forward != canGoForward_) {
        canGoForward_ = forward;
        if (OnCommandStateChange)
            OnCommandStateChange(*this, 1, forward != 0);
    }
}

} // namespace orvalis::browser
