// What a daily browser offers besides the page: finding a word on it,
// printing it, checking the spelling of what is typed into it, the desktop's
// dark style and full screen.
#include "app/FindBar.h"
#include "app/Unit1.h"
#include "browser/SpellChecking.h"

namespace orvalis::app {

void TMainForm::AddComforts() {
    FindBar = Gtk::make_managed<TFindBar>(Browser->WebView());
    FindBar->OnClosed = [this] { Browser->ActivateDocument(); };
    column_.insert_child_after(*FindBar, Panel_ToolBar);
    browser::EnableSpellChecking(browser::ProgramContext());
    desktopStyle_ = std::make_unique<TDesktopStyle>();
}

void TMainForm::ToggleFullScreen() {
    if (is_fullscreen()) {
        unfullscreen();
    } else {
        fullscreen();
    }
}

} // namespace orvalis::app
