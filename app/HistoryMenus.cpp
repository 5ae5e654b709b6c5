// The back and forward drop-downs: the nearest pages of the history, up to
// 15, listed each time a menu opens; picking one travels by its distance.
#include "app/Unit1.h"

namespace orvalis::app {

namespace {

constexpr size_t MaxHistoryItems = 15;

} // namespace

void TMainForm::BuildHistoryMenu(Gtk::MenuButton& button, THistoryDirection direction) {
    button.set_icon_name("pan-down-symbolic");
    button.set_has_frame(false);
    button.set_focus_on_click(false);
    auto* popover = Gtk::make_managed<Gtk::Popover>();
    popover->set_has_arrow(false);
    button.set_popover(*popover);
    button.set_create_popup_func([this, direction, popover] {
        if (direction == THistoryDirection::Back) {
            PopupMenu_BackPopup();
        } else {
            PopupMenu_ForwardPopup();
        }
        FillHistoryPopover(*popover);
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
    // Labels show the title literally: no character is taken as a mnemonic.
    HistoryItems.push_back({Title, Url});
    if (HistoryItems.size() >= MaxHistoryItems) {
        Cancel = true;
    }
}

void TMainForm::FillHistoryPopover(Gtk::Popover& popover) {
    auto* list = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    for (size_t i = 0; i < HistoryItems.size(); ++i) {
        auto* item = Gtk::make_managed<Gtk::Button>();
        auto* label = Gtk::make_managed<Gtk::Label>(HistoryItems[i].Caption);
        label->set_xalign(0);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        label->set_max_width_chars(60);
        item->set_child(*label);
        item->set_has_frame(false);
        item->set_tooltip_text(HistoryItems[i].Url);
        SetAccessibleLabel(*item, HistoryItems[i].Caption);
        item->signal_clicked().connect([this, &popover, i] {
            popover.popdown();
            PopupNavigate(static_cast<int>(i));
        });
        list->append(*item);
    }
    popover.set_child(*list);
}

void TMainForm::PopupNavigate(int index) {
    const int32_t offset = HistoryDirection == THistoryDirection::Back ? -index - 1 : index + 1;
    TravelLog.TravelByOffset(offset);
}

} // namespace orvalis::app
