// The keys every browser has, in one table. Each names an action of the
// window, so that a key, a button and a menu item do the same thing. Looked at
// on the capture pass, before the page sees the key; a key whose action is
// disabled (Stop while nothing loads) goes on to the page.
#include "app/FindBar.h"
#include "app/Unit1.h"

namespace orvalis::app {

namespace {

constexpr unsigned NoMods = 0, Ctrl = 1, Shift = 2, Alt = 4;

// Where a key applies: anywhere, or only outside the window's own text
// fields, whose Escape is their own (closing the address list, the find bar,
// an input method's composition).
enum class TKeyScope { Window, OutsideFields };

struct TKeyBinding {
    guint Key; // as gdk_keyval_to_lower gives it
    unsigned Mods;
    const char* Action;
    TKeyScope Scope = TKeyScope::Window;
};

constexpr TKeyBinding Bindings[] = {
    {GDK_KEY_F5, NoMods, "win.reload"},
    {GDK_KEY_r, Ctrl, "win.reload"},
    {GDK_KEY_F5, Shift, "win.reload-from-network"},
    {GDK_KEY_r, Ctrl | Shift, "win.reload-from-network"},
    {GDK_KEY_Left, Alt, "win.back"},
    {GDK_KEY_Right, Alt, "win.forward"},
    {GDK_KEY_Home, Alt, "win.home"},
    // Zoom: "+" is Shift+"=" on most layouts, and Ctrl+"=" is taken as it.
    {GDK_KEY_plus, Ctrl, "win.zoom-in"},
    {GDK_KEY_plus, Ctrl | Shift, "win.zoom-in"},
    {GDK_KEY_equal, Ctrl, "win.zoom-in"},
    {GDK_KEY_KP_Add, Ctrl, "win.zoom-in"},
    {GDK_KEY_minus, Ctrl, "win.zoom-out"},
    {GDK_KEY_KP_Subtract, Ctrl, "win.zoom-out"},
    {GDK_KEY_0, Ctrl, "win.zoom-reset"},
    {GDK_KEY_KP_0, Ctrl, "win.zoom-reset"},
    {GDK_KEY_Delete, Ctrl | Shift, "win.clear-data"},
    {GDK_KEY_Escape, NoMods, "win.stop", TKeyScope::OutsideFields},
    {GDK_KEY_F11, NoMods, "win.full-screen"},
    {GDK_KEY_f, Ctrl, "win.find"},
    {GDK_KEY_F3, NoMods, "win.find-next"},
    {GDK_KEY_F3, Shift, "win.find-previous"},
    {GDK_KEY_p, Ctrl, "win.print"},
};

unsigned ModsOf(Gdk::ModifierType state) {
    auto has = [state](Gdk::ModifierType mask) { return (state & mask) == mask; };
    return (has(Gdk::ModifierType::CONTROL_MASK) ? Ctrl : NoMods) |
           (has(Gdk::ModifierType::SHIFT_MASK) ? Shift : NoMods) |
           (has(Gdk::ModifierType::ALT_MASK) ? Alt : NoMods);
}

} // namespace

void TMainForm::AddWindowActions() {
    AddComforts();
    add_action("reload", [this] { Action_RefreshExecute(); });
    add_action("reload-from-network", [this] { Browser->RefreshFromNetwork(); });
    add_action("back", [this] { Action_BackExecute(); });
    add_action("forward", [this] { Action_ForwardExecute(); });
    add_action("home", [this] { Action_GoHomeExecute(); });
    // Held here: a load may end after the window is gone, with its actions.
    stopAction_ = add_action("stop", [this] { Action_StopExecute(); });
    stopAction_->set_enabled(false);
    g_signal_connect(Browser->WebView(), "notify::is-loading",
                     G_CALLBACK(+[](WebKitWebView* view, GParamSpec*, gpointer self) {
                         static_cast<TMainForm*>(self)->stopAction_->set_enabled(
                             webkit_web_view_is_loading(view));
                     }),
                     this);
    add_action("full-screen", [this] { ToggleFullScreen(); });
    add_action("find", [this] { FindBar->Open(); });
    add_action("find-next", [this] { FindBar->FindNext(); });
    add_action("find-previous", [this] { FindBar->FindPrevious(); });
    // After the key's own handling: the dialog runs a loop of its own.
    add_action("print", [this] {
        Glib::signal_idle().connect_once(sigc::track_object([this] { Browser->Print(); }, *this));
    });
}

bool TMainForm::WindowKey(guint keyval, Gdk::ModifierType state) {
    const guint key = gdk_keyval_to_lower(keyval);
    const unsigned mods = ModsOf(state);
    Gtk::Widget* focus = get_focus();
    const bool inField = focus && GTK_IS_EDITABLE(focus->gobj());
    for (const TKeyBinding& binding : Bindings) {
        if (binding.Key != key || binding.Mods != mods ||
            (binding.Scope == TKeyScope::OutsideFields && inField)) {
            continue;
        }
        auto action = lookup_action(std::string(binding.Action).substr(sizeof("win.") - 1));
        return action && action->get_enabled() && activate_action(binding.Action);
    }
    return false;
}

} // namespace orvalis::app
