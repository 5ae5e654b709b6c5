#pragma once

#include "browser/GObjectRef.h"

#include <gtkmm.h>
#include <webkit/webkit.h>

namespace orvalis::browser {

class TCustomBrowserHost;

// A plain secondary window for a pop-up that the user asked for and that no
// handler took: it shares the program's session (and so its proxy) and the
// host's settings, and is closed by the page or the user.
class TPopupWindow : public Gtk::Window {
public:
    TPopupWindow(TCustomBrowserHost& host, WebKitWebView* opener);
    ~TPopupWindow() override;

    WebKitWebView* WebView() const { return view_.get(); }

private:
    static void onReadyToShow(WebKitWebView*, gpointer self);
    static void onClose(WebKitWebView*, gpointer self);
    static void onTitle(GObject*, GParamSpec*, gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer);

    TCustomBrowserHost& host_;
    GRef<WebKitWebView> view_;
};

} // namespace orvalis::browser
