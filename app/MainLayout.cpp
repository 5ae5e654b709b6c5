// The window's layout, the log panel's size limits and the keys the window
// handles before anything else.
#include "app/Unit1.h"

namespace orvalis::app {

namespace {

constexpr const char* Style = R"(
.orvalis-toolbar { padding: 1px 2px; }
.orvalis-toolbar button { min-width: 24px; min-height: 24px; padding: 3px; }
.orvalis-log text { background-color: @theme_base_color; }
.orvalis-log.flash text { background-color: @theme_selected_bg_color;
                          color: @theme_selected_fg_color; }
.orvalis-statusbar { border-top: 1px solid alpha(currentColor, 0.15); }
.orvalis-statusbar label { padding: 1px 6px; }
.orvalis-statusbar frame { border-radius: 0; }
)";

} // namespace

void SetAccessibleLabel(Gtk::Widget& widget, std::string_view text) {
    Glib::Value<Glib::ustring> label;
    label.init(Glib::Value<Glib::ustring>::value_type());
    label.set(Glib::ustring(std::string(text)));
    widget.update_property(Gtk::Accessible::Property::LABEL, label);
}

// The toolkit's own tooltip text wraps to the room left between the pointer
// and the window's edge, down to one character per line at the right end of
// the toolbar: this one keeps its line and moves instead.
void SetToolTip(Gtk::Widget& widget, std::string_view text) {
    widget.set_has_tooltip(true);
    widget.signal_query_tooltip().connect(
        [text = std::string(text)](int, int, bool, const Glib::RefPtr<Gtk::Tooltip>& tooltip) {
            tooltip->set_custom(*Gtk::make_managed<Gtk::Label>(text));
            return true;
        },
        false);
}

void TMainForm::LoadStyle() {
    auto css = Gtk::CssProvider::create();
    css->load_from_data(Style);
    Gtk::StyleContext::add_provider_for_display(get_display(), css,
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void TMainForm::BuildLayout() {
    set_title(std::string(AppCaption));
    set_icon_name("org.orvalis.Orvalis");
    set_default_size(937, 701);
    set_size_request(WindowMinSide, WindowMinSide);
    LoadStyle();

    Panel_ToolBar.add_css_class("toolbar");
    Panel_ToolBar.add_css_class("orvalis-toolbar");
    BuildToolbar(Panel_ToolBar);
    column_.append(Panel_ToolBar);

    Browser = Gtk::make_managed<browser::TBrowserHost>();
    Browser->set_hexpand(true);
    Browser->set_vexpand(true);
    Panel_Browser.set_child(*Browser);
    BuildLogPanel();
    Splitter_Log.set_start_child(Panel_Browser);
    Splitter_Log.set_end_child(Panel_Log);
    Splitter_Log.set_resize_start_child(true);
    Splitter_Log.set_resize_end_child(false);
    Splitter_Log.set_shrink_start_child(false);
    Splitter_Log.set_shrink_end_child(false);
    Splitter_Log.set_vexpand(true);
    Splitter_Log.property_position().signal_changed().connect([this] { SplitterMoved(); });
    column_.append(MessageBar);
    column_.append(Splitter_Log);

    BuildStatusBar(column_);
    set_child(column_);

    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys->signal_key_pressed().connect(
        [this](guint keyval, guint, Gdk::ModifierType state) { return AppMessage(keyval, state); },
        false);
    add_controller(keys);
}

Gtk::Button& TMainForm::AddToolButton(Gtk::Box& bar, const char* icon, std::string_view hint) {
    auto* button = Gtk::make_managed<Gtk::Button>();
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(icon);
    image->set_pixel_size(24);
    button->set_child(*image);
    button->set_has_frame(false);
    SetToolTip(*button, hint);
    button->set_focus_on_click(false);
    SetAccessibleLabel(*button, hint);
    bar.append(*button);
    return *button;
}

void TMainForm::BuildToolbar(Gtk::Box& band) {
    auto* logImage = Gtk::make_managed<Gtk::Image>();
    logImage->set_from_icon_name("utilities-terminal-symbolic");
    logImage->set_pixel_size(24);
    ToolButton_Log.set_child(*logImage);
    ToolButton_Log.set_has_frame(false);
    SetToolTip(ToolButton_Log, "기록");
    ToolButton_Log.set_focus_on_click(false);
    ToolButton_Log.set_active(true);
    SetAccessibleLabel(ToolButton_Log, "기록");
    ToolButton_Log.signal_clicked().connect([this] { Action_LogExecute(); });
    ToolBar_Navigate.append(ToolButton_Log);
    auto* separator = Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::VERTICAL);
    separator->set_margin_start(3);
    separator->set_margin_end(3);
    ToolBar_Navigate.append(*separator);

    // Back and forward: a button and its history drop-down side by side.
    auto addTravelButton = [this](const char* icon, std::string_view hint, Gtk::MenuButton& menu,
                                  THistoryDirection direction) {
        auto* pair = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
        Gtk::Button& button = AddToolButton(*pair, icon, hint);
        BuildHistoryMenu(menu, direction);
        pair->append(menu);
        ToolBar_Navigate.append(*pair);
        return &button;
    };
    ToolButton_Back =
        addTravelButton("go-previous-symbolic", "뒤로", PopupMenu_Back, THistoryDirection::Back);
    ToolButton_Forward = addTravelButton("go-next-symbolic", "앞으로", PopupMenu_Forward,
                                         THistoryDirection::Forward);
    ToolButton_Back->signal_clicked().connect([this] { Action_BackExecute(); });
    ToolButton_Forward->signal_clicked().connect([this] { Action_ForwardExecute(); });
    SetAccessibleLabel(PopupMenu_Back, "뒤로 목록");
    SetAccessibleLabel(PopupMenu_Forward, "앞으로 목록");
    ToolButton_Back->set_sensitive(false);
    ToolButton_Forward->set_sensitive(false);
    // The back menu is also the back button's context menu.
    auto backContext = Gtk::GestureClick::create();
    backContext->set_button(GDK_BUTTON_SECONDARY);
    backContext->signal_pressed().connect([this](int, double, double) { PopupMenu_Back.popup(); });
    ToolButton_Back->add_controller(backContext);

    AddToolButton(ToolBar_Navigate, "process-stop-symbolic", "중지")
        .signal_clicked()
        .connect([this] { Action_StopExecute(); });
    AddToolButton(ToolBar_Navigate, "view-refresh-symbolic", "새로 고침")
        .signal_clicked()
        .connect([this] { Action_RefreshExecute(); });
    AddToolButton(ToolBar_Navigate, "go-home-symbolic", "벨모라 홈")
        .signal_clicked()
        .connect([this] { Action_GoHomeExecute(); });
    band.append(ToolBar_Navigate);

    AddressBar.set_hexpand(true);
    AddressBar.set_valign(Gtk::Align::CENTER);
    AddressBar.set_margin_start(4);
    AddressBar.set_tooltip_text("주소표시줄(F6)");
    SetAccessibleLabel(AddressBar.Entry(), "주소표시줄");
    band.append(AddressBar);

    AddToolButton(ToolBar_Move, "go-jump-symbolic", "이동").signal_clicked().connect([this] {
        Action_NavigateExecute();
    });
    ToolBar_Move.set_margin_start(2);
    band.append(ToolBar_Move);
}

void TMainForm::BuildLogPanel() {
    Memo_Log.set_editable(false);
    Memo_Log.set_cursor_visible(false);
    Memo_Log.set_wrap_mode(Gtk::WrapMode::NONE);
    Memo_Log.set_left_margin(4);
    Memo_Log.set_right_margin(4);
    Memo_Log.add_css_class("orvalis-log");
    SetAccessibleLabel(Memo_Log, "기록 창");
    Panel_Log_Inner.set_child(Memo_Log);
    Panel_Log_Inner.set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::ALWAYS);
    Panel_Log_Inner.set_vexpand(true);
    Panel_Log_Inner.set_margin(1);
    Panel_Log.append(Panel_Log_Inner);
    Panel_Log.set_size_request(-1, LogPanelMinHeight);

    auto menu = Gio::Menu::create();
    auto edit = Gio::Menu::create();
    auto copy = Gio::MenuItem::create("복사(_C)", "win.log-copy");
    copy->set_attribute_value("accel", Glib::Variant<Glib::ustring>::create("<Control>c"));
    edit->append_item(copy);
    auto all = Gio::MenuItem::create("모두 선택(_A)", "win.log-select-all");
    all->set_attribute_value("accel", Glib::Variant<Glib::ustring>::create("<Control>a"));
    edit->append_item(all);
    menu->append_section(edit);
    auto clear = Gio::Menu::create();
    clear->append("지우기(_E)", "win.log-clear");
    menu->append_section(clear);
    PopupMenu_Memo.set_menu_model(menu);
    PopupMenu_Memo.set_parent(Memo_Log);
    PopupMenu_Memo.set_has_arrow(false);

    add_action("log-copy", [this] { Memo_Log.get_buffer()->copy_clipboard(get_clipboard()); });
    add_action("log-select-all", [this] {
        auto buffer = Memo_Log.get_buffer();
        buffer->select_range(buffer->begin(), buffer->end());
    });
    add_action("log-clear", [this] { Action_ClearLogExecute(); });

    auto rightClick = Gtk::GestureClick::create();
    rightClick->set_button(GDK_BUTTON_SECONDARY);
    rightClick->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    rightClick->signal_pressed().connect([this, rightClick](int, double x, double y) {
        rightClick->set_state(Gtk::EventSequenceState::CLAIMED);
        ShowMemoMenu(x, y);
    });
    Memo_Log.add_controller(rightClick);
}

void TMainForm::BuildStatusBar(Gtk::Box& column) {
    StatusBar.add_css_class("orvalis-statusbar");
    const int widths[3] = {-1, 100, 50};
    for (int i = 0; i < 3; ++i) {
        Gtk::Label& label = StatusPanels[i];
        label.set_xalign(0);
        label.set_ellipsize(Pango::EllipsizeMode::END);
        auto* frame = Gtk::make_managed<Gtk::Frame>();
        frame->set_child(label);
        if (widths[i] < 0) {
            frame->set_hexpand(true);
        } else {
            // The panel keeps its width whatever its text.
            label.set_max_width_chars(1);
            frame->set_size_request(widths[i], -1);
        }
        StatusBar.append(*frame);
    }
    StatusPanels[2].set_text("0");
    column.append(StatusBar);
}

void TMainForm::Splitter_LogCanResize(int& NewSize, bool& Accept) {
    if (NewSize > LogPanelMaxHeight) {
        Accept = false;
    }
}

void TMainForm::SplitterMoved() {
    if (!Panel_Log.get_visible() || Splitter_Log.get_height() <= 0) {
        return;
    }
    int position = Splitter_Log.get_position();
    int handle = std::max(0, Splitter_Log.get_height() - Panel_Browser.get_height() -
                                 Panel_Log.get_height());
    int newSize = Splitter_Log.get_height() - position - handle;
    bool accept = true;
    Splitter_LogCanResize(newSize, accept);
    if (!accept) {
        int limited = Splitter_Log.get_height() - handle - LogPanelMaxHeight;
        if (position != limited) {
            Splitter_Log.set_position(limited);
        }
        return;
    }
    splitterPosition_ = position;
}

bool TMainForm::AppMessage(guint keyval, Gdk::ModifierType state) {
    const bool ctrl = (state & Gdk::ModifierType::CONTROL_MASK) == Gdk::ModifierType::CONTROL_MASK;
    Gtk::Entry& entry = AddressBar.Entry();
    if (keyval == GDK_KEY_F6 || (ctrl && (keyval == GDK_KEY_l || keyval == GDK_KEY_L))) {
        entry.grab_focus();
        // After the entry's own focus handling, which places the cursor; dropped
        // with the entry.
        Glib::signal_idle().connect_once(
            sigc::track_object([&entry] { entry.select_region(0, -1); }, entry));
        return true;
    }
    Gtk::Widget* focus = get_focus();
    const bool inAddressBar = focus && (focus == &entry || focus->is_ancestor(entry));
    if (!inAddressBar || !ctrl) {
        return WindowKey(keyval, state);
    }
    // The address bar's own edit keys, whatever the page would make of them.
    const char* action = nullptr;
    switch (gdk_keyval_to_lower(keyval)) {
    case GDK_KEY_c:
        action = "clipboard.copy";
        break;
    case GDK_KEY_v:
        action = "clipboard.paste";
        break;
    case GDK_KEY_x:
        action = "clipboard.cut";
        break;
    case GDK_KEY_z:
        action = "text.undo";
        break;
    default:
        return WindowKey(keyval, state);
    }
    GtkEditable* text = gtk_editable_get_delegate(GTK_EDITABLE(entry.gobj()));
    gtk_widget_activate_action(text ? GTK_WIDGET(text) : GTK_WIDGET(entry.gobj()), action, nullptr);
    return true;
}

} // namespace orvalis::app
