#include "app/FindBar.h"

#include "app/Unit1.h"

namespace orvalis::app {

namespace {

constexpr guint MaxMatches = 1000;
constexpr guint32 Options = WEBKIT_FIND_OPTIONS_CASE_INSENSITIVE | WEBKIT_FIND_OPTIONS_WRAP_AROUND;

void SetButton(Gtk::Button& button, const char* icon, std::string_view hint) {
    button.set_icon_name(icon);
    button.set_has_frame(false);
    button.set_focus_on_click(false);
    SetToolTip(button, hint);
    SetAccessibleLabel(button, hint);
}

} // namespace

TFindBar::TFindBar(WebKitWebView* view)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 4),
      finder_(webkit_web_view_get_find_controller(view)) {
    add_css_class("toolbar");
    set_margin_start(6);
    set_margin_end(2);
    auto* caption = Gtk::make_managed<Gtk::Label>("찾기:");
    append(*caption);
    entry_.set_size_request(240, -1);
    SetAccessibleLabel(entry_, "페이지에서 찾기");
    append(entry_);
    SetButton(previous_, "go-up-symbolic", "이전 항목");
    SetButton(next_, "go-down-symbolic", "다음 항목");
    append(previous_);
    append(next_);
    matches_.set_margin_start(6);
    matches_.set_hexpand(true);
    matches_.set_xalign(0);
    append(matches_);
    SetButton(close_, "window-close-symbolic", "찾기 닫기");
    append(close_);
    set_visible(false);

    entry_.signal_search_changed().connect([this] { search(); });
    entry_.signal_next_match().connect([this] { step(true); });
    entry_.signal_previous_match().connect([this] { step(false); });
    entry_.signal_stop_search().connect([this] { Close(); });
    g_signal_connect_swapped(entry_.gobj(), "activate",
                             G_CALLBACK(+[](TFindBar* self) { self->step(true); }), this);
    // Shift+Enter is no activation of the field; it comes here after the
    // field (and any input method) had its look.
    auto keys = Gtk::EventControllerKey::create();
    keys->signal_key_pressed().connect(
        [this](guint keyval, guint, Gdk::ModifierType state) { return keyPressed(keyval, state); },
        false);
    entry_.add_controller(keys);
    previous_.signal_clicked().connect([this] { step(false); });
    next_.signal_clicked().connect([this] { step(true); });
    close_.signal_clicked().connect([this] { Close(); });

    g_signal_connect_swapped(finder_, "counted-matches",
                             G_CALLBACK(+[](TFindBar* self, guint count) { self->counted(count); }),
                             this);
    g_signal_connect_swapped(finder_, "failed-to-find-text",
                             G_CALLBACK(+[](TFindBar* self) { self->counted(0); }), this);
}

TFindBar::~TFindBar() {
    g_signal_handlers_disconnect_by_data(finder_, this);
}

void TFindBar::Open() {
    set_visible(true);
    entry_.grab_focus();
    entry_.select_region(0, -1);
}

void TFindBar::FindNext() {
    step(true);
}

void TFindBar::FindPrevious() {
    step(false);
}

void TFindBar::Close() {
    if (!get_visible())
        return;
    set_visible(false);
    webkit_find_controller_search_finish(finder_);
    matches_.set_text("");
    if (OnClosed)
        OnClosed();
}

void TFindBar::search() {
    const std::string text = entry_.get_text();
    if (text.empty()) {
        webkit_find_controller_search_finish(finder_);
        matches_.set_text("");
        return;
    }
    webkit_find_controller_count_matches(finder_, text.c_str(), Options, MaxMatches);
    webkit_find_controller_search(finder_, text.c_str(), Options, MaxMatches);
}

void TFindBar::counted(guint count) {
    if (entry_.get_text().empty())
        return; // an answer for a text since cleared
    if (count == 0)
        matches_.set_text("일치하는 항목 없음");
    else if (count >= MaxMatches)
        matches_.set_text(std::to_string(MaxMatches) + "개 이상 일치");
    else
        matches_.set_text(std::to_string(count) + "개 일치");
}

bool TFindBar::keyPressed(guint keyval, Gdk::ModifierType state) {
    const bool shift = (state & Gdk::ModifierType::SHIFT_MASK) == Gdk::ModifierType::SHIFT_MASK;
    if (shift &&
        (keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter)) {
        step(false);
        return true;
    }
    return false;
}

void TFindBar::step(bool forward) {
    if (!get_visible() || entry_.get_text().empty()) {
        Open();
        if (entry_.get_text().empty())
            return;
    }
    // A text not searched yet (the bar was closed before its search ran).
    const char* searched = webkit_find_controller_get_search_text(finder_);
    if (!searched || entry_.get_text() != searched) {
        search();
        return;
    }
    if (forward)
        webkit_find_controller_search_next(finder_);
    else
        webkit_find_controller_search_previous(finder_);
}

} // namespace orvalis::app
