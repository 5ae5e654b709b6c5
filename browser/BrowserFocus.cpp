// Keys, focus and the mouse wheel around the page: the Ctrl-shortcut filter,
// the focus's return to the page when the window is re-activated, and the
// first wheel notch that focuses the page instead of scrolling it.

#include "browser/BrowserHost.h"

namespace orvalis::browser {

namespace {

// The key's letter or digit as the filter names it (upper case). Keys of a
// non-Latin layout (a Korean one, say) are read in the first layout, as the
// other platform's virtual-key codes were.
char KeyChar(guint keyval, guint keycode, GdkDisplay* display) {
    auto asChar = [](guint kv) -> char {
        const gunichar c = gdk_keyval_to_unicode(gdk_keyval_to_upper(kv));
        return c < 128 && g_ascii_isalnum(static_cast<char>(c)) ? static_cast<char>(c) : 0;
    };
    if (char c = asChar(keyval))
        return c;
    GdkKeymapKey* keys = nullptr;
    guint* keyvals = nullptr;
    int n = 0;
    char c = 0;
    if (display && gdk_display_map_keycode(display, keycode, &keys, &keyvals, &n))
        for (int i = 0; i < n && !c; ++i)
            if (keys[i].group == 0 && keys[i].level == 0)
                c = asChar(keyvals[i]);
    g_free(keys);
    g_free(keyvals);
    return c;
}

} // namespace

bool TBrowserHost::focusInPage() const {
    if (!window_)
        return false;
    Gtk::Widget* focus = window_->get_focus();
    GtkWidget* view = GTK_WIDGET(WebView());
    return focus && (focus->gobj() == view || gtk_widget_is_ancestor(focus->gobj(), view));
}

void TBrowserHost::attachToWindow() {
    auto* window = dynamic_cast<Gtk::Window*>(get_root());
    if (!window || window == window_)
        return;
    detachFromWindow();
    window_ = window;

    // Decided on the capture pass only: the engine hands the keys it does not
    // use back to the window, where a second look would see them twice.
    keys_ = Gtk::EventControllerKey::create();
    keys_->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys_->signal_key_pressed().connect(
        [this](guint keyval, guint keycode, Gdk::ModifierType state) {
            return keyPressed(keyval, keycode, state);
        },
        false);
    window_->add_controller(keys_);

    wheel_ = Gtk::EventControllerScroll::create();
    wheel_->set_flags(Gtk::EventControllerScroll::Flags::BOTH_AXES);
    wheel_->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    wheel_->signal_scroll().connect([this](double, double) { return scrolled(); }, false);
    window_->add_controller(wheel_);

    // Whether the pointer is over the page, for the wheel rule.
    pointer_ = Gtk::EventControllerMotion::create();
    pointer_->signal_enter().connect([this](double, double) { pointerOverPage_ = true; });
    pointer_->signal_leave().connect([this] { pointerOverPage_ = false; });
    Glib::wrap(GTK_WIDGET(WebView()))->add_controller(pointer_);

    activeConnection_ =
        window_->property_is_active().signal_changed().connect([this] { activeChanged(); });
    pageHadFocus_ = false;
}

void TBrowserHost::detachFromWindow() {
    if (!window_)
        return;
    activeConnection_.disconnect();
    window_->remove_controller(keys_);
    window_->remove_controller(wheel_);
    Glib::wrap(GTK_WIDGET(WebView()))->remove_controller(pointer_);
    keys_.reset();
    wheel_.reset();
    pointer_.reset();
    pointerOverPage_ = false;
    window_ = nullptr;
}

bool TBrowserHost::keyPressed(guint keyval, guint keycode, Gdk::ModifierType state) {
    if (!focusInPage())
        return false;
    TKeyMessage message;
    message.Ctrl = (state & Gdk::ModifierType::CONTROL_MASK) == Gdk::ModifierType::CONTROL_MASK;
    message.Shift = (state & Gdk::ModifierType::SHIFT_MASK) == Gdk::ModifierType::SHIFT_MASK;
    message.Alt = (state & Gdk::ModifierType::ALT_MASK) == Gdk::ModifierType::ALT_MASK;
    message.Key = KeyChar(keyval, keycode, gtk_widget_get_display(GTK_WIDGET(WebView())));
    return IsMaskedCtrlKey(message);
}

bool TBrowserHost::scrolled() {
    if (!window_ || !pointerOverPage_ || focusInPage())
        return false;
    // This notch only moves the focus into the page; the next ones scroll.
    gtk_widget_grab_focus(GTK_WIDGET(WebView()));
    return true;
}

void TBrowserHost::activeChanged() {
    if (!window_->is_active()) {
        pageHadFocus_ = focusInPage();
        return;
    }
    if (pageHadFocus_ && !focusInPage())
        gtk_widget_grab_focus(GTK_WIDGET(WebView()));
}

void TBrowserHost::ActivateDocument() {
    if (LocationURL().empty())
        return; // no document yet
    gtk_widget_grab_focus(GTK_WIDGET(WebView()));
}

} // namespace orvalis::browser
