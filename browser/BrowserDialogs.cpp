// OnShowMessage for the page's alert and confirm boxes, and the dialog watch
// that gives the page's dialog windows the application's icon and title.

#include "browser/BrowserHost.h"

namespace orvalis::browser {

TMessageResult::TMessageResult(WebKitScriptDialog* dialog)
    : dialog_(decltype(dialog_)::Share(dialog)) {}

TMessageResult::~TMessageResult() {
    Set(IDCANCEL);
}

void TMessageResult::Set(int32_t buttonId) {
    if (!dialog_)
        return;
    if (webkit_script_dialog_get_dialog_type(dialog_.get()) == WEBKIT_SCRIPT_DIALOG_CONFIRM)
        webkit_script_dialog_confirm_set_confirmed(dialog_.get(), buttonId == IDOK);
    webkit_script_dialog_close(dialog_.get());
    dialog_.Reset();
}

void TMessageResult::Release() {
    dialog_.Reset();
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

void TBrowserHost::watchDialogs() {
    Glib::RefPtr<Gio::ListModel> toplevels = Gtk::Window::get_toplevels();
    toplevelsConnection_ = toplevels->signal_items_changed().connect(
        [this, model = toplevels.get()](guint position, guint, guint added) {
            for (guint i = position; i < position + added; ++i) {
                GRef<GtkWindow> w =
                    GRef<GtkWindow>::Adopt(GTK_WINDOW(g_list_model_get_item(model->gobj(), i)));
                if (w)
                    dialogAppeared(*Glib::wrap(w.get()));
            }
        });
}

void TBrowserHost::dialogAppeared(Gtk::Window& dialog) {
    auto* owner = dynamic_cast<Gtk::Window*>(get_root());
    if (!owner || dialog.get_transient_for() != owner)
        return;
    if (DialogBoxes.DisableAll) {
        dialog.close();
        return;
    }
    if (DialogBoxes.ReplaceIcon)
        dialog.set_icon_name(owner->get_icon_name());
    if (DialogBoxes.ReplaceCaption) {
        const char* appName = g_get_application_name();
        std::string title = DialogBoxes.NewCaption;
        if (title.empty())
            title = appName ? appName : owner->get_title().raw();
        dialog.set_title(title);
    }
}

} // namespace orvalis::browser
