// Toolbar actions, the caption, the status bar and the log panel, and the
// refresh that brings them up to date with the display state.
#include "app/LogPanel.h"
#include "app/Unit1.h"

namespace orvalis::app {

void TMainForm::Action_LogExecute() {
    const bool show = !Panel_Log.get_visible();
    Panel_Log.set_visible(show);
    ToolButton_Log.set_active(show);
}

void TMainForm::Action_BackExecute() {
    UserStartedLoad();
    Browser->GoBack();
}
void TMainForm::Action_ForwardExecute() {
    UserStartedLoad();
    Browser->GoForward();
}
void TMainForm::Action_StopExecute() {
    Browser->Stop();
}
void TMainForm::Action_RefreshExecute() {
    Browser->Refresh();
}
void TMainForm::Action_GoHomeExecute() {
    UserStartedLoad();
    Browser->Navigate(std::string(guard::SiteProfile::HomeUrl));
}
// The same as Enter in the address bar: the typed text is completed the
// same way, and listed.
void TMainForm::Action_NavigateExecute() {
    AddressBar.Go();
}

void TMainForm::Action_ClearLogExecute() {
    display_.ClearLog();
    display_.WriteLog("지우기.", true);
}

void TMainForm::BrowserCommandStateChange(int32_t Command, bool Enable) {
    if (Command == 2) {
        ToolButton_Back->set_sensitive(Enable);
        PopupMenu_Back.set_sensitive(Enable);
    } else if (Command == 1) {
        ToolButton_Forward->set_sensitive(Enable);
        PopupMenu_Forward.set_sensitive(Enable);
    }
}

void TMainForm::BrowserTitleChange(const std::string& Text) {
    set_title(std::string(AppCaption) + " - " + Text);
}

// A link's address while the pointer is on it, else the last notice.
void TMainForm::BrowserStatusTextChange(const std::string& Text) {
    linkHovered_ = !Text.empty();
    StatusPanels[0].set_text(linkHovered_ ? Text : shown_.PageMessageText);
}

void TMainForm::BrowserResize(int32_t, int32_t) {
    // A page may not resize the program's window: lay the page out again.
    Panel_Browser.queue_resize();
}

void TMainForm::ShowMemoMenu(double x, double y) {
    PopupMenu_Memo.set_pointing_to(Gdk::Rectangle(static_cast<int>(x), static_cast<int>(y), 1, 1));
    PopupMenu_Memo.popup();
}

// Called on any thread after each change of the display state; the UI
// thread's refresh runs once for any number of changes.
void TMainForm::WakeDisplay() {
    if (!wakePending_.exchange(true)) {
        displayWake_.emit();
    }
}

void TMainForm::RefreshDisplay() {
    wakePending_ = false;
    TDisplayChanges changes = app::RefreshDisplay(display_, shown_, TickCount());
    ShowLogChanges(Memo_Log, changes);
    if (changes.StatusPanelText) {
        StatusPanels[1].set_text(*changes.StatusPanelText);
    }
    if (changes.PageMessageText && !linkHovered_) {
        StatusPanels[0].set_text(*changes.PageMessageText);
    }
    if (changes.BlockedCount) {
        StatusPanels[2].set_text(std::to_string(*changes.BlockedCount));
    }
    statusTimer_.disconnect();
    if (changes.NextChangeInMs) {
        statusTimer_ = Glib::signal_timeout().connect(
            [this] {
                RefreshDisplay();
                return false;
            },
            *changes.NextChangeInMs);
    }
}

} // namespace orvalis::app
