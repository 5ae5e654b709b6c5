// Start-up in the window's creation, and shutdown when it closes.
#include "app/Unit1.h"
#include "guard/Firewall.h"

#include <chrono>

namespace orvalis::app {

std::string UserAgentText() {
    return std::string("Mozilla/4.0 (") + std::string(AppCaption) + "; compatible; MSIE 6.0; +" +
           std::string(ContactAddress) + ")";
}

TMainForm::TMainForm(TProgramProfile& profile) : profile_(profile) {
    BuildLayout();
    Browser->SetSilent(false);
    Browser->SetDownloadOptions({browser::TDownloadOption::DownloadImages,
                                 browser::TDownloadOption::DownloadVideos,
                                 browser::TDownloadOption::DontDownloadActiveX});
    Browser->SetUserInterfaceOptions({browser::TUserInterfaceOption::DontUse3DBorders,
                                      browser::TUserInterfaceOption::EnableThemes});
    Browser->DisableCtrlShortcuts = "N";
    Browser->SetUserAgentMode(browser::TUserAgentMode::uaInternal);
    Browser->DialogBoxes.NewCaption = std::string(AppCaption);
    AddressBar.SetLinkedBrowser(Browser);
    WireBrowserEvents();
    WireBars();
    TravelLog.OnEntry = [this](const std::string& Title, const std::string& Url, bool& Cancel) {
        TravelLogEntry(Title, Url, Cancel);
    };
    AddressBar.OnUrlSelected = [this](const std::string&, bool&) { UserStartedLoad(); };
    AddHistoryAction();
    AddWindowActions();
    AddProfileActions();
    displayWake_.connect([this] { RefreshDisplay(); });
    signal_close_request().connect([this] { return FormClose(); }, false);
    FormCreate();
}

TMainForm::~TMainForm() {
    // The firewall's threads write to the display state and wake the window:
    // they end before anything they use goes.
    if (Firewall) {
        Firewall->SetActive(false);
    }
    display_.SetChangeNotifier({});
    statusTimer_.disconnect();
    // The view may outlive the window (pop-ups and the travel log hold it):
    // its signals and events must no longer reach this window. The parts
    // that hold on to the view let go of it while it still stands: the page
    // area goes with the widgets, before the members declared ahead of them.
    notifications_.reset();
    linksOut_.reset();
    if (Browser) {
        DetachBrowserEvents();
    }
    // The memo's menu was attached by hand, so it is detached by hand.
    PopupMenu_Memo.unparent();
}

bool TMainForm::FirewallActive() const {
    return Firewall && Firewall->Active();
}

void TMainForm::FormCreate() {
    random_.seed(static_cast<std::mt19937::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    set_title(std::string(AppCaption));
    Browser->SetUserAgentText(UserAgentText());
    display_.SetChangeNotifier([this] { WakeDisplay(); });
    display_.WriteLog(std::string(AppCaption) + " (" + std::string(BuildDate) + ") by " +
                          std::string(ContactAddress),
                      true);
    RestoreWindowState();

    // The page loads nothing, not even the blank page, before the proxy is set.
    const bool active = StartFirewall();
    browser::TProxySettings::ApplyProxy(UserAgentText(),
                                        "localhost:" + std::to_string(firewallPort_));
    Browser->OpenBlankPage(false);
    // The travel log's store exists once a load has started.
    TravelLog.SetBrowser(Browser);
    TravelLog.AttachStore();
    rules_.MainPageList.Publish(guard::BuildMainPageList());
    rules_.HostSuffixList.Publish(guard::BuildHostSuffixList());

    if (active) {
        display_.Status("초기화 완료.", TStatusColor::WindowBackground);
        display_.SetIdleStatusText("감시중...");
    } else {
        display_.WriteLog("초기화 실패. 방화벽이 정상적으로 동작하지 않습니다.", true);
        display_.Status("초기화 실패.", TStatusColor::WindowBackground);
        display_.SetIdleStatusText("작동 불가");
    }
    Browser->ActivateDocument();
    Action_GoHomeExecute();
}

// Up to 20 random ports of the range, one after the other without a pause.
bool TMainForm::StartFirewall() {
    Firewall = std::make_unique<proxy::THTTPProxyServer>();
    std::uniform_int_distribution<int> offset(0, FirewallPortSpan - 1);
    for (int attempt = 0; attempt < FirewallAttempts; ++attempt) {
        firewallPort_ = static_cast<uint16_t>(FirewallBasePort + offset(random_));
        try {
            guard::ConfigureFirewall(*Firewall, firewallPort_, filter_);
            Firewall->SetActive(true);
        } catch (const std::exception&) {
            try {
                Firewall->SetActive(false);
            } catch (const std::exception&) {
            }
        }
        if (Firewall->Active()) {
            return true;
        }
    }
    return false;
}

// Closing the window stops the firewall (its connections too). The proxy
// setting stays to the end of the process: the page and its web processes
// live on for a moment, and whatever they still send meets the closed port.
bool TMainForm::FormClose() {
    SaveWindowState();
    if (Firewall) {
        Firewall->SetActive(false);
    }
    return false;
}

} // namespace orvalis::app
