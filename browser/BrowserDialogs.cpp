// OnShowMessage for the page's alert and confirm boxes, and the dialog watch
// that gives the page's dialog windows the application's icon and title.

#include "browser/BrowserHost.h"

namespace orvalis::browser {

TMessageResult::TMessageResult(TMessageResult&& other) noexcept
    : dialog_(std::exchange(other.dialog_, nullptr)), kept_(true) {
    // The engine waits for a dialog that is referenced during its event.
    if (dialog_ && !other.kept_)
        webkit_script_dialog_ref(dialog_);
}

TMessageResult& TMessageResult::operator=(TMessageResult&& other) noexcept {
    if (this != &other) {
        Set(IDCANCEL);
        dialog_ = std::exchange(other.dialog_, nullptr);
        if (dialog_ && !other.kept_)
            webkit_script_dialog_ref(dialog_);
        kept_ = true;
    }
    return *this;
}

void TMessageResult::Set(int32_t buttonId) {
    WebKitScriptDialog* dialog = std::exchange(dialog_, nullptr);
    if (!dialog)
        return;
    if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_CONFIRM)
        webkit_script_dialog_confirm_set_confirmed(dialog, buttonId == IDOK);
    if (kept_) {
        webkit_script_dialog_close(dialog);
        webkit_script_dialog_unref(dialog);
    }
}

bool TCustomBrowserHost::ShowScriptDialog(WebKitScriptDialog* dialog) {
    const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    if (type != WEBKIT_SCRIPT_DIALOG_ALERT && type != WEBKIT_SCRIPT_DIALOG_CONFIRM)
        return false; // prompts and leave-page questions stay the engine's
    TMessageResult result(dialog);
    if (!OnShowMessage) {
        if (!silent_)
            result.Release();
        // Silent: the box is not shown; a confirmation is answered Cancel.
        return silent_;
    }
    const uint32_t dwType =
        type == WEBKIT_SCRIPT_DIALOG_ALERT ? MB_OK | MB_ICONWARNING : MB_OKCANCEL | MB_ICONQUESTION;
    const char* text = webkit_script_dialog_get_message(dialog);
    auto* owner = dynamic_cast<Gtk::Window*>(get_root());
    if (OnShowMessage(*this, owner, text ? text : "", LocationURL(), dwType, "", 0, result) == S_OK)
        return true; // answered now, or later through the kept result
    result.Release();
    return false;
}

// Windows are announced while they are being built, before they have an
// owner; each new one is watched until it is given one.
void TBrowserHost::watchDialogs() {
    GListModel* toplevels = gtk_window_get_toplevels();
    toplevelsConnection_ = g_signal_connect(
        toplevels, "items-changed",
        G_CALLBACK(+[](GListModel* model, guint position, guint, guint added, gpointer self) {
            for (guint i = position; i < position + added; ++i) {
                GRef<GtkWindow> w =
                    GRef<GtkWindow>::Adopt(GTK_WINDOW(g_list_model_get_item(model, i)));
                static_cast<TBrowserHost*>(self)->watchWindow(w.get());
            }
        }),
        this);
}

void TBrowserHost::unwatchDialogs() {
    g_signal_handler_disconnect(gtk_window_get_toplevels(), toplevelsConnection_);
    for (GtkWindow* w : watchedWindows_) {
        g_signal_handlers_disconnect_by_data(w, this);
        g_object_weak_unref(G_OBJECT(w), windowGone, this);
    }
    watchedWindows_.clear();
}

void TBrowserHost::windowGone(gpointer self, GObject* window) {
    static_cast<TBrowserHost*>(self)->watchedWindows_.erase(reinterpret_cast<GtkWindow*>(window));
}

void TBrowserHost::watchWindow(GtkWindow* window) {
    if (!window || !watchedWindows_.insert(window).second)
        return;
    g_object_weak_ref(G_OBJECT(window), windowGone, this);
    g_signal_connect(window, "notify::transient-for",
                     G_CALLBACK(+[](GtkWindow* w, GParamSpec*, gpointer self) {
                         static_cast<TBrowserHost*>(self)->dialogAppeared(w);
                     }),
                     this);
    dialogAppeared(window);
}

void TBrowserHost::dialogAppeared(GtkWindow* dialog) {
    auto* owner = dynamic_cast<Gtk::Window*>(get_root());
    if (!owner || gtk_window_get_transient_for(dialog) != owner->gobj())
        return;
    if (DialogBoxes.DisableAll) {
        gtk_window_close(dialog);
        return;
    }
    if (DialogBoxes.ReplaceIcon)
        gtk_window_set_icon_name(dialog, gtk_window_get_icon_name(owner->gobj()));
    if (DialogBoxes.ReplaceCaption) {
        std::string product = DialogBoxes.NewCaption;
        if (product.empty()) {
            const char* appName = g_get_application_name();
            product = appName ? appName : owner->get_title().raw();
        }
        const char* title = gtk_window_get_title(dialog);
        const std::string caption = DialogCaption(title ? title : "", product);
        if (!title || caption != title)
            gtk_window_set_title(dialog, caption.c_str());
    }
}

std::string TBrowserHost::DialogCaption(const std::string& caption, const std::string& product) {
    // An untitled dialog carries the product's name.
    if (caption.empty())
        return product;
    // The engine's names that the platform's dialogs carry: the vendor's
    // goes, the browser's becomes the product's; the rest is the dialog's own.
    static const std::string vendor = "Microsoft ";
    static const std::string engine = "Internet Explorer";
    std::string result = caption;
    if (const auto at = result.find(vendor); at != std::string::npos)
        result.erase(at, vendor.size());
    if (const auto at = result.find(engine); at != std::string::npos)
        result.replace(at, engine.size(), product);
    return result;
}

} // namespace orvalis::browser
