#include "app/MessageBar.h"

#include "app/Unit1.h"

namespace orvalis::app {

namespace {

constexpr const char* Style = R"(
.orvalis-message-bar { padding: 4px 8px; border-bottom: 1px solid alpha(currentColor, 0.15);
                       background-color: alpha(@theme_selected_bg_color, 0.18); }
)";

} // namespace

TMessageBar::TMessageBar() : Gtk::Box(Gtk::Orientation::HORIZONTAL, 8) {
    add_css_class("orvalis-message-bar");
    // Once for the display, however many bars there are.
    [[maybe_unused]] static const bool styled = [] {
        auto css = Gtk::CssProvider::create();
        css->load_from_data(Style);
        Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), css,
                                                    GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        return true;
    }();
    SetAccessibleLabel(*this, "알림 표시줄");
    text_.set_xalign(0);
    text_.set_hexpand(true);
    text_.set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    append(text_);
    append(buttons_);
    close_.set_icon_name("window-close-symbolic");
    close_.set_has_frame(false);
    SetToolTip(close_, "닫기");
    SetAccessibleLabel(close_, "닫기");
    close_.signal_clicked().connect([this] { Close(); });
    append(close_);
    set_visible(false);
}

void TMessageBar::Show(const std::string& text, std::vector<TAction> actions,
                       std::function<void()> dismissed) {
    Close();
    while (Gtk::Widget* child = buttons_.get_first_child())
        buttons_.remove(*child);
    text_.set_text(text);
    text_.set_tooltip_text(text);
    for (TAction& action : actions) {
        auto* button = Gtk::make_managed<Gtk::Button>(action.Text);
        button->signal_clicked().connect([this, run = std::move(action.Run)] {
            dismissed_ = {};
            set_visible(false);
            if (run)
                run();
        });
        buttons_.append(*button);
    }
    dismissed_ = std::move(dismissed);
    set_visible(true);
}

void TMessageBar::Close() {
    if (!get_visible())
        return;
    set_visible(false);
    if (auto dismissed = std::exchange(dismissed_, {}))
        dismissed();
}

} // namespace orvalis::app
