// The settings of the host that the engine carries out: download and user
// interface options, silent mode, the Ctrl-shortcut filter.

#include "browser/BrowserHost.h"
#include "browser/BrowserPopups.h"

namespace orvalis::browser {

TCustomBrowserHost::TCustomBrowserHost(TBrowserControl* related)
    : TBrowserControl(related), downloadOptions_{TDownloadOption::DownloadImages,
                                                 TDownloadOption::DownloadVideos,
                                                 TDownloadOption::DownloadBGSounds},
      uiOptions_{TUserInterfaceOption::EnablesFormsAutoComplete,
                 TUserInterfaceOption::EnableThemes} {
    applyDownloadOptions();
}

TCustomBrowserHost::~TCustomBrowserHost() {
    popupCleanup_.disconnect();
}

void TCustomBrowserHost::SetDownloadOptions(const TDownloadOptions& options) {
    downloadOptions_ = options;
    applyDownloadOptions();
}

void TCustomBrowserHost::SetUserInterfaceOptions(const TUserInterfaceOptions& options) {
    // Borders, themes, scroll bar styles and the other host UI flags describe
    // how the other platform's control draws itself; the engine has no switch
    // of the same meaning, so the flags are the host's only.
    uiOptions_ = options;
}

void TCustomBrowserHost::applyDownloadOptions() {
    // Only the members that have a switch of the same meaning in the engine;
    // sounds, controls, Java and ActiveX have no counterpart there.
    WebKitSettings* settings = Settings();
    webkit_settings_set_auto_load_images(
        settings, downloadOptions_.Contains(TDownloadOption::DownloadImages));
    webkit_settings_set_enable_media(settings,
                                     downloadOptions_.Contains(TDownloadOption::DownloadVideos));
    // The page's own scripts; the host's scripts keep running.
    webkit_settings_set_enable_javascript_markup(
        settings, !downloadOptions_.Contains(TDownloadOption::DontExecuteScripts));
}

bool TCustomBrowserHost::IsMaskedCtrlKey(const TKeyMessage& message) {
    const bool masked = IsMaskedCtrlKeyIn(DisableCtrlShortcuts, message);
    if (masked && OnMaskedCtrlChar)
        OnMaskedCtrlChar(*this, message.Key);
    return masked;
}

} // namespace orvalis::browser
