// Printing the page: the toolkit's print dialog, asked for by the window or
// by the page's window.print(), titled with the product's caption.

#include "browser/BrowserHost.h"

namespace orvalis::browser {

void TBrowserHost::watchPrintRequests() {
    g_signal_connect(
        WebView(), "print",
        G_CALLBACK(+[](WebKitWebView*, WebKitPrintOperation* operation, gpointer self) -> gboolean {
            auto* host = static_cast<TBrowserHost*>(self);
            host->Guarded([&] { host->runPrintDialog(operation); });
            return TRUE;
        }),
        this);
}

void TBrowserHost::Print() {
    GRef<WebKitPrintOperation> operation =
        GRef<WebKitPrintOperation>::Adopt(webkit_print_operation_new(WebView()));
    runPrintDialog(operation.get());
}

// The dialog runs its own loop until it closes; meanwhile the page's further
// requests are let go.
void TBrowserHost::runPrintDialog(WebKitPrintOperation* operation) {
    auto* owner = dynamic_cast<Gtk::Window*>(get_root());
    if (printing_ || !owner)
        return;
    printing_ = true;
    const std::string caption =
        DialogBoxes.NewCaption.empty() ? owner->get_title().raw() : DialogBoxes.NewCaption;
    // The dialog is made inside the engine; it is titled as it is shown.
    // Closed (Escape, the window's close button) it only hides: the engine
    // destroys it itself once it answered, and a second destruction would
    // upset the toolkit.
    GListModel* toplevels = gtk_window_get_toplevels();
    auto retitle = [](GListModel* model, guint position, guint, guint added, gpointer data) {
        for (guint i = position; i < position + added; ++i) {
            GRef<GtkWindow> w = GRef<GtkWindow>::Adopt(GTK_WINDOW(g_list_model_get_item(model, i)));
            g_signal_connect_data(
                w.get(), "show", G_CALLBACK(+[](GtkWindow* dialog, gpointer title) {
                    gtk_window_set_title(dialog, static_cast<const char*>(title));
                    if (g_str_equal(G_OBJECT_TYPE_NAME(dialog), "GtkPrintUnixDialog"))
                        gtk_window_set_hide_on_close(dialog, TRUE);
                }),
                g_strdup(static_cast<const std::string*>(data)->c_str()),
                [](gpointer title, GClosure*) { g_free(title); }, G_CONNECT_DEFAULT);
        }
    };
    const gulong watch = g_signal_connect(toplevels, "items-changed", G_CALLBACK(+retitle),
                                          const_cast<std::string*>(&caption));
    webkit_print_operation_run_dialog(operation, owner->gobj());
    g_signal_handler_disconnect(toplevels, watch);
    printing_ = false;
}

} // namespace orvalis::browser
