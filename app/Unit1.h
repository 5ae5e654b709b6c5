#pragma once

#include "app/ClearDataDialog.h"
#include "app/DesktopStyle.h"
#include "app/DisplayRefresh.h"
#include "app/DisplayState.h"
#include "app/LinksOut.h"
#include "app/MessageBar.h"
#include "app/PageNotifications.h"
#include "app/PageZoom.h"
#include "app/ProgramProfile.h"
#include "browser/AddressCombo.h"
#include "browser/BrowserDownloads.h"
#include "browser/BrowserHost.h"
#include "browser/TravelLog.h"
#include "guard/LocationCopy.h"
#include "guard/NavigationGuard.h"
#include "guard/RequestFilter.h"
#include "guard/SiteProfile.h"

#include <atomic>
#include <gtkmm.h>
#include <list>
#include <memory>
#include <random>
#include <vector>

namespace orvalis::proxy {
class THTTPProxyServer;
}

namespace orvalis::app {

inline constexpr std::string_view AppCaption = guard::SiteProfile::AppCaption;
inline constexpr std::string_view BuildDate = guard::SiteProfile::ReleaseDate;
inline constexpr std::string_view ContactAddress = guard::SiteProfile::ContactAddress;
std::string UserAgentText();

// The first port tried at start-up and how many follow it.
inline constexpr int FirewallBasePort = 51238;
inline constexpr int FirewallPortSpan = 1000;
inline constexpr int FirewallAttempts = 20;

inline constexpr int WindowMinSide = 450;
inline constexpr int LogPanelMinHeight = 78;
inline constexpr int LogPanelMaxHeight = 320;

class TFindBar;

enum class THistoryDirection { Back, Forward };

// What assistive technology (and the end-to-end tests) read as a control's
// name, for controls without a text of their own.
void SetAccessibleLabel(Gtk::Widget& widget, std::string_view text);
// A tooltip of one line, readable at every edge of the window.
void SetToolTip(Gtk::Widget& widget, std::string_view text);

// The program's one window: toolbar band, page, log panel and status bar,
// with the firewall running inside it.
class TMainForm : public Gtk::ApplicationWindow {
public:
    explicit TMainForm(TProgramProfile& profile);
    ~TMainForm() override;

    // Where the firewall listens (0 before start-up tried).
    uint16_t FirewallPort() const { return firewallPort_; }
    bool FirewallActive() const;

private:
    // Layout (MainLayout.cpp).
    void BuildLayout();
    void BuildToolbar(Gtk::Box& band);
    Gtk::Button& AddToolButton(Gtk::Box& bar, const char* icon, std::string_view hint);
    void BuildLogPanel();
    void BuildStatusBar(Gtk::Box& column);
    void LoadStyle();
    void Splitter_LogCanResize(int& NewSize, bool& Accept);
    void SplitterMoved();
    bool AppMessage(guint keyval, Gdk::ModifierType state);

    // The browser's keys and the window's actions (WindowKeys.cpp).
    void AddWindowActions();
    bool WindowKey(guint keyval, Gdk::ModifierType state);

    // The profile: notes, the window as the user left it, zoom, forgetting
    // (MainProfile.cpp).
    void AddProfileActions();
    void RestoreWindowState();
    void SizeLogPanel();
    void SaveWindowState();
    // Find bar, printing, spelling and the desktop's style (MainComforts.cpp).
    void AddComforts();
    void ToggleFullScreen();

    // Start-up and shutdown (MainStartup.cpp).
    void FormCreate();
    bool StartFirewall();
    bool FormClose();

    // Actions, caption, status bar, log panel (MainActions.cpp).
    void Action_LogExecute();
    void Action_BackExecute();
    void Action_ForwardExecute();
    void Action_StopExecute();
    void Action_RefreshExecute();
    void Action_GoHomeExecute();
    void Action_NavigateExecute();
    void Action_ClearLogExecute();
    void BrowserCommandStateChange(int32_t Command, bool Enable);
    void BrowserTitleChange(const std::string& Text);
    void BrowserStatusTextChange(const std::string& Text);
    void BrowserResize(int32_t cx, int32_t cy);
    void ShowMemoMenu(double x, double y);
    void WakeDisplay();
    void RefreshDisplay();

    // The navigation guard, pop-ups, fix-up and page messages (MainGuard.cpp).
    void WireBrowserEvents();
    void WatchMainResponses();
    void BrowserBeforeNavigate2(const browser::TBrowserDispatch& pDisp, const std::string& URL,
                                bool& Cancel);
    void BrowserEvaluateNewWindow(const std::string& pszUrl, int32_t& Rezult);
    void BrowserNewWindow2(bool& Cancel);
    void BrowserDocumentComplete(const browser::TBrowserDispatch& pDisp);
    int32_t BrowserShowMessage(const std::string& lpstrText, uint32_t dwType,
                               browser::TMessageResult& plResult);
    void BrowserNavigateComplete2(const browser::TBrowserDispatch& pDisp);

    // Failed loads, downloads, handler failures (MainBrowsing.cpp).
    void WireBrowsing();
    void BrowserNavigateError(const browser::TBrowserDispatch& pDisp, const std::string& URL,
                              bool& Cancel);

    // The message bar's offers: links out and the page's notifications (MainBars.cpp).
    void WireBars();

    // History menus (HistoryMenus.cpp).
    void BuildHistoryMenu(Gtk::MenuButton& button, THistoryDirection direction);
    void PopupMenu_BackPopup();
    void PopupMenu_ForwardPopup();
    void TravelLogEntry(const std::string& Title, const std::string& Url, bool& Cancel);
    void AddHistoryAction();
    void PopupNavigate(int index);
    void FillHistoryMenu(Gio::Menu& menu);

    // The page and the filter's location after a top-level load (PageFocus.cpp).
    void UserStartedLoad();
    void TopLevelRefused();
    void WatchUncommittedLoads();
    void MainLoadCommitted();
    void MainLoadEnded();
    void DetachBrowserEvents();

    // Shared with the firewall's threads.
    TDisplayState display_;
    guard::TSiteRules rules_;
    guard::TLocationCopy locationCopy_;
    guard::TRequestFilter filter_{rules_, locationCopy_, display_};
    std::unique_ptr<proxy::THTTPProxyServer> Firewall;
    uint16_t firewallPort_ = 0;
    std::mt19937 random_;

    // UI thread only.
    TProgramProfile& profile_;
    TWindowState windowState_;
    std::unique_ptr<TPageZoom> zoom_;
    TClearDataDialog clearData_;
    guard::TPopupPolicy popupPolicy_;
    browser::TBrowserTravelLog TravelLog;
    TShownDisplay shown_;
    bool linkHovered_ = false; // panel 0 shows a link's address
    Glib::Dispatcher displayWake_;
    std::atomic<bool> wakePending_{false};
    sigc::connection statusTimer_;
    THistoryDirection HistoryDirection = THistoryDirection::Back;
    struct THistoryItem {
        std::string Caption;
        std::string Url;
    };
    std::vector<THistoryItem> HistoryItems;
    std::list<std::unique_ptr<Gtk::MessageDialog>> messageBoxes_;
    std::unique_ptr<browser::TBrowserDownloads> downloads_;
    std::unique_ptr<TLinksOut> linksOut_;
    std::unique_ptr<TPageNotifications> notifications_;
    Glib::RefPtr<Gio::SimpleAction> stopAction_;
    // A load the user started: asked for, then started by the engine.
    enum class TUserLoad { None, Requested, Started } userLoad_ = TUserLoad::None;
    bool responseUncommitted_ = false; // the filter reads a page not (yet) shown

    // Widgets; owned by their containers.
    Gtk::Box column_{Gtk::Orientation::VERTICAL};
    Gtk::Box Panel_ToolBar{Gtk::Orientation::HORIZONTAL};
    Gtk::Box ToolBar_Navigate{Gtk::Orientation::HORIZONTAL};
    Gtk::ToggleButton ToolButton_Log;
    Gtk::Button* ToolButton_Back = nullptr;
    Gtk::Button* ToolButton_Forward = nullptr;
    Gtk::MenuButton PopupMenu_Back;
    Gtk::MenuButton PopupMenu_Forward;
    browser::TAddressCombo AddressBar;
    Gtk::Box ToolBar_Move{Gtk::Orientation::HORIZONTAL};
    TMessageBar MessageBar;
    Gtk::Paned Splitter_Log{Gtk::Orientation::VERTICAL};
    Gtk::Frame Panel_Browser;
    browser::TBrowserHost* Browser = nullptr;
    TFindBar* FindBar = nullptr;
    std::unique_ptr<TDesktopStyle> desktopStyle_;
    Gtk::Box Panel_Log{Gtk::Orientation::VERTICAL};
    Gtk::ScrolledWindow Panel_Log_Inner;
    Gtk::TextView Memo_Log;
    Gtk::PopoverMenu PopupMenu_Memo;
    Gtk::Box StatusBar{Gtk::Orientation::HORIZONTAL};
    Gtk::Label StatusPanels[3];
    int splitterPosition_ = -1;
};

} // namespace orvalis::app
