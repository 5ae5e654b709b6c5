// The back and forward drop-downs: the nearest pages of the history, up to
// 15, listed each time a menu opens; picking one travels by its distance.
#include "app/Unit1.h"

namespace orvalis::app {

namespace {

constexpr size_t MaxHistoryItems = 15;

// Menu labels take "_" as a mnemonic marker: a doubled one shows itself.
std::string MenuLabel(const std::string& title) {
    std::string label;
    for (char c : title) {
        label += c;
        if (c == '_') {
            label += '_';
        }
    }
    return label;
}

} // namespace

void TMainForm::BuildHistoryMenu(Gtk::MenuButton& button, THistoryDirection direction) {
    button.set_icon_name("pan-down-symbolic");
    button.set_has_frame(false);
    button.set_focus_on_click(false);
    // A button with a popup function is always clickable by itself: the
    // arrow follows its travel button instead (BrowserCommandStateChange).
    button.set_sensitive(false);
    auto menu = Gio::Menu::create();
    button.set_menu_model(menu);
    button.set_create_popup_func([this, direction, menu] {
        if (direction == THistoryDirection::Back) {
            PopupMenu_BackPopup();
        } else {
            PopupMenu_ForwardPopup();
        }
        FillHistoryMenu(*menu);
    });
}

void TMainForm::AddHistoryAction() {
    add_action_with_parameter(
        "history-travel", Glib::VARIANT_TYPE_INT32, [this](const Glib::VariantBase& index) {
            PopupNavigate(Glib::VariantBase::cast_dynamic<Glib::Variant<int32_t>>(index).get());
        });
}

void TMainForm::PopupMenu_BackPopup() {
    HistoryDirection = THistoryDirection::Back;
    HistoryItems.clear();
    TravelLog.ListBackEntries();
}

void TMainForm::PopupMenu_ForwardPopup() {
    HistoryDirection = THistoryDirection::Forward;
    HistoryItems.clear();
    TravelLog.ListForwardEntries();
}

void TMainForm::TravelLogEntry(const std::string& Title, const std::string& Url, bool& Cancel) {
    HistoryItems.push_back({MenuLabel(Title), Url});
    if (HistoryItems.size() >= MaxHistoryItems) {
        Cancel = true;
    }
}

void TMainForm::FillHistoryMenu(Gio::Menu& menu) {
    menu.remove_all();
    for (size_t i = 0; i < HistoryItems.size(); ++i) {
        auto item = Gio::MenuItem::create(HistoryItems[i].Caption, "");
        item->set_action_and_target("win.history-travel",
                                    Glib::Variant<int32_t>::create(static_cast<int32_t>(i)));
        menu.append_item(item);
    }
}

void TMainForm::PopupNavigate(int index) {
    const int32_t offset = HistoryDirection == THistoryDirection::Back ? -index - 1 : index + 1;
    UserStartedLoad();
    TravelLog.TravelByOffset(offset);
}

} // namespace orvalis::app
