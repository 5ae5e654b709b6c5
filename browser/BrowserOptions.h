#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace orvalis::browser {

// Members of DownloadOptions; each value is its download-control bit.
enum class TDownloadOption : uint32_t {
    DownloadImages = 0x10,
    DownloadVideos = 0x20,
    DownloadBGSounds = 0x40,
    DontExecuteScripts = 0x80,
    DontExecuteJava = 0x100,
    DontExecuteActiveX = 0x200,
    DontDownloadActiveX = 0x400,
    DownloadButDontDisplay = 0x800,
    DontDownloadFrame = 0x1000,
    CheckPageResynchronize = 0x2000,
    DownloadAndIgnoreCache = 0x4000,
    DontDownloadBehaviors = 0x8000,
    SuppressedMetaCharset = 0x10000,
    DisableUrlIfEncodingUTF8 = 0x20000,
    EnableUrlIfEncodingUTF8 = 0x40000,
    ForceOfflineMode = 0x10000000,
    DontPerformClientPull = 0x20000000,
    DownloadInSilentMode = 0x40000000,
    WorkOffline = 0x80000000,
};

// Members of UserInterfaceOptions; each value is its host UI bit (0x8000 has no member).
enum class TUserInterfaceOption : uint32_t {
    DisableTextSelect = 0x1,
    DisableHelpMenu = 0x2,
    DontUse3DBorders = 0x4,
    DontUseScrollBars = 0x8,
    PostponeScriptUntilActive = 0x10,
    ForceOpenNewWindow = 0x20,
    Reserved_OFFSCREEN = 0x40,
    ForceFlatScrollBars = 0x80,
    InsertDivTagOnEditMode = 0x100,
    ActivateUIOnlyOnDocClick = 0x200,
    ConsultBeforeRetrievingBehavior = 0x400,
    CheckFontSupportsCodePage = 0x800,
    DisableSubmitUrlInUTF8 = 0x1000,
    EnableSubmitUrlInUTF8 = 0x2000,
    EnablesFormsAutoComplete = 0x4000,
    ForceSameWindowNavigation = 0x10000,
    EmableImeLocalLanguages = 0x20000,
    EnableThemes = 0x40000,
    DisableThemes = 0x80000,
    DisablePicsRatings = 0x100000,
    DisableFrameSetBorder = 0x200000,
    DisablesAutoNameSpaceCorrection = 0x400000,
    DisableLocalFileAccess = 0x800000,
    DisableUntrustedProtocol = 0x1000000,
    CheckNavigationDelegatedToHost = 0x2000000,
    EnableRedirectNotification = 0x4000000,
    EnableDomWindlessControls = 0x8000000,
    EnableWindowedControls = 0x10000000,
    ForceUserActivationOnActiveXJava = 0x20000000,
};

// A set of option members. Because every member is one distinct bit, the set
// is stored as the sum of its members, which is also the flag word it yields.
template <typename Option> class TOptionSet {
public:
    TOptionSet() = default;
    TOptionSet(std::initializer_list<Option> members) {
        for (Option m : members)
            bits_ |= static_cast<uint32_t>(m);
    }
    bool Contains(Option m) const { return (bits_ & static_cast<uint32_t>(m)) != 0; }
    bool Empty() const { return bits_ == 0; }
    uint32_t Flags() const { return bits_; }
    bool operator==(const TOptionSet&) const = default;

private:
    uint32_t bits_ = 0;
};

using TDownloadOptions = TOptionSet<TDownloadOption>;
using TUserInterfaceOptions = TOptionSet<TUserInterfaceOption>;

enum class TUserAgentMode { uaDefault, uaInternal, uaRegistry };
enum class TScriptErrorAction { eaContinue, eaCancel, eaAskUser };

// One key press as the Ctrl-shortcut filter sees it: the key's character as
// an upper-case ASCII letter or digit (0 for other keys) and the modifiers.
struct TKeyMessage {
    bool KeyDown = true;
    char Key = 0;
    bool Ctrl = false;
    bool Shift = false;
    bool Alt = false;
};

// True when the key is a Ctrl shortcut listed in DisableCtrlShortcuts; Alt is
// deliberately not looked at.
bool IsMaskedCtrlKeyIn(const std::string& DisableCtrlShortcuts, const TKeyMessage& message);

} // namespace orvalis::browser
