// The keys every browser has, in one table. Each names an action of the
// window, so that a key, a button and a menu item do the same thing. Looked at
// on the capture pass, before the page sees the key.
#include "app/Unit1.h"

namespace orvalis::app {

namespace {

constexpr unsigned NoMods = 0, Ctrl = 1, Shift = 2, Alt = 4;

struct TKeyBinding {
    guint Key; // as gdk_keyval_to_lower gives it
    unsigned Mods;
    const char* Action;
};

constexpr TKeyBinding Bindings[] = {
    {GDK_KEY_F5, NoMods, "win.reload"}, {GDK_KEY_r, Ctrl, "win.reload"},
    {GDK_KEY_Left, Alt, "win.back"},    {GDK_KEY_Right, Alt, "win.forward"},
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
};

unsigned ModsOf(Gdk::ModifierType state) {
    auto has = [state](Gdk::ModifierType mask) { return (state & mask) == mask; };
    return (has(Gdk::ModifierType::CONTROL_MASK) ? Ctrl : NoMods) |
           (has(Gdk::ModifierType::SHIFT_MASK) ? Shift : NoMods) |
           (has(Gdk::ModifierType::ALT_MASK) ? Alt : NoMods);
}

} // namespace

void TMainForm::AddWindowActions() {
    add_action("reload", [this] { Action_RefreshExecute(); });
    add_action("back", [this] { Action_BackExecute(); });
    add_action("forward", [this] { Action_ForwardExecute(); });
    add_action("home", [this] { Action_GoHomeExecute(); });
}

bool TMainForm::WindowKey(guint keyval, Gdk::ModifierType state) {
    const guint key = gdk_keyval_to_lower(keyval);
    const unsigned mods = ModsOf(state);
    for (const TKeyBinding& binding : Bindings) {
        if (binding.Key == key && binding.Mods == mods) {
            return activate_action(binding.Action);
        }
    }
    return false;
}

} // namespace orvalis::app
