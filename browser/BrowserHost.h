#pragma once

#include "browser/BrowserDispatch.h"
#include "browser/BrowserOptions.h"
#include "browser/BrowserSession.h"
#include "browser/GObjectRef.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <gtkmm.h>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <webkit/webkit.h>

namespace orvalis::browser {

class TFrameChannel;
class TPopupWindow;
class TBrowserControl;
class TCustomBrowserHost;
class TBrowserHost;

// Result codes of the host-side answers.
constexpr int32_t S_OK = 0;
constexpr int32_t S_FALSE = 1;
constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005);

// Message-box type bits and button identifiers of page messages.
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr int32_t IDOK = 1;
constexpr int32_t IDCANCEL = 2;

// Flags of OnBeforeNavigate2: the user started the navigation with his own
// click or key on a link, or by sending a form (never a page script alone).
constexpr int32_t NAVF_USERINITED = 0x1;

// New-window flags given to OnEvaluateNewWindow.
constexpr uint32_t NWMF_USERINITED = 0x2;
constexpr uint32_t NWMF_FIRST = 0x4;

// Document ready states.
constexpr int32_t READYSTATE_UNINITIALIZED = 0;
constexpr int32_t READYSTATE_LOADING = 1;
constexpr int32_t READYSTATE_INTERACTIVE = 3;
constexpr int32_t READYSTATE_COMPLETE = 4;

// The answer to one page message box. A handler may set it at once, or move
// it into an object of its own and set that later (after its own dialog
// closed); the page waits meanwhile. A box left unanswered is answered Cancel.
class TMessageResult {
public:
    explicit TMessageResult(WebKitScriptDialog* dialog) : dialog_(dialog) {}
    TMessageResult(TMessageResult&& other) noexcept;
    TMessageResult& operator=(TMessageResult&& other) noexcept;
    ~TMessageResult() { Set(IDCANCEL); }
    void Set(int32_t buttonId);
    // Leaves the box to the engine, unanswered.
    void Release() { dialog_ = nullptr; }

private:
    WebKitScriptDialog* dialog_;
    bool kept_ = false; // moved out of the event: answered asynchronously
};

using TStatusTextChangeEvent =
    std::function<void(TBrowserControl& ASender, const std::string& Text)>;
using TTitleChangeEvent = TStatusTextChangeEvent;
using TCommandStateChangeEvent =
    std::function<void(TBrowserControl& ASender, int32_t Command, bool Enable)>;
using TBeforeNavigate2Event = std::function<void(
    TBrowserControl& ASender, const TBrowserDispatch& pDisp, std::string& URL, int32_t& Flags,
    std::string& TargetFrameName, std::string& PostData, std::string& Headers, bool& Cancel)>;
using TNewWindow2Event =
    std::function<void(TBrowserControl& ASender, TBrowserHost*& ppDisp, bool& Cancel)>;
using TNavigateComplete2Event =
    std::function<void(TBrowserControl& ASender, const TBrowserDispatch& pDisp, std::string& URL)>;
using TDocumentCompleteEvent = TNavigateComplete2Event;
// A top-level load failed; Cancel keeps the page that was shown, otherwise
// the host shows its own error page for URL.
using TNavigateErrorEvent =
    std::function<void(TBrowserControl& ASender, const TBrowserDispatch& pDisp, std::string& URL,
                       std::string& Frame, int32_t& StatusCode, bool& Cancel)>;
// A handler let an exception escape; What is its message.
using THandlerErrorEvent = std::function<void(TBrowserControl& ASender, const std::string& What)>;

using TEvaluateNewWindowEvent = std::function<void(
    TCustomBrowserHost& Sender, const std::string& pszUrl, const std::string& pszName,
    const std::string& pszUrlContext, const std::string& pszFeatures, bool fReplace,
    uint32_t dwFlags, uint32_t dwUserActionTime, int32_t& Rezult)>;
using TShowMessageEvent = std::function<int32_t(
    TCustomBrowserHost& Sender, Gtk::Window* HWND, const std::string& lpstrText,
    const std::string& lpstrCaption, uint32_t dwType, const std::string& lpstrHelpFile,
    uint32_t dwHelpContext, TMessageResult& plResult)>;
using TResizeEvent = std::function<void(TCustomBrowserHost& Sender, int32_t cx, int32_t cy)>;
using TMaskedCtrlCharEvent = std::function<void(TCustomBrowserHost& Sender, char MaskedChar)>;
using TBusyWaitEvent =
    std::function<void(TBrowserHost& Sender, std::chrono::steady_clock::time_point AStartTime,
                       uint32_t& TimeOut, bool& Cancel)>;

// TBrowserControl: the page area, a WebKit web view in the program's network
// session, with the operations and events of the browser control.
class TBrowserControl : public Gtk::Box {
public:
    ~TBrowserControl() override;

    void Navigate(const std::string& URL);
    void GoBack();
    void GoForward();
    void Stop();
    void Refresh();
    // Reloads the page and everything on it from the network, not the cache.
    void RefreshFromNetwork();
    // The URL of the top-level document (empty before the first commit).
    std::string LocationURL() const { return location_; }
    const TBrowserDispatch& BrowserDispatch() const { return dispatch_; }
    int32_t ReadyState() const { return readyState_; }
    // The top-level document, or, given an event's pDisp, that frame's.
    TBrowserDocument Document() const { return Document(dispatch_); }
    TBrowserDocument Document(const TBrowserDispatch& pDisp) const;

    WebKitWebView* WebView() const { return view_.get(); }

    TStatusTextChangeEvent OnStatusTextChange;
    TCommandStateChangeEvent OnCommandStateChange;
    TTitleChangeEvent OnTitleChange;
    TBeforeNavigate2Event OnBeforeNavigate2;
    TNewWindow2Event OnNewWindow2;
    TNavigateComplete2Event OnNavigateComplete2;
    TDocumentCompleteEvent OnDocumentComplete;
    TNavigateErrorEvent OnNavigateError;
    THandlerErrorEvent OnHandlerError;

    // Runs f as a handler at the engine's signal boundary: an exception that
    // escapes it is reported to OnHandlerError instead of unwinding through
    // GLib, and the signal gets a default answer.
    template <class F> auto Guarded(F&& f) noexcept -> decltype(f()) {
        try {
            return f();
        } catch (const std::exception& e) {
            reportHandlerError(e.what());
        } catch (...) {
            reportHandlerError("unknown exception");
        }
        if constexpr (!std::is_void_v<decltype(f())>)
            return {};
    }

protected:
    // related: the browser whose pop-up this browser receives, if any.
    explicit TBrowserControl(TBrowserControl* related);

    // A link of the top-level document that the user opens in a new window
    // goes where the top level may go: true when OnBeforeNavigate2 refused it.
    bool refusesLinkInNewWindow(WebKitNavigationAction* action);

    WebKitSettings* Settings() const { return webkit_web_view_get_settings(view_.get()); }
    // Host-side hooks into the control's signals.
    virtual GtkWidget* CreateNewWindow(WebKitNavigationAction* action) = 0;
    virtual bool ShowScriptDialog(WebKitScriptDialog* dialog) = 0;
    virtual void GeometryRequested(int width, int height) = 0;

private:
    friend struct TBrowserSignals;
    // Navigation (BrowserNavigation.cpp).
    bool decideNavigation(WebKitNavigationPolicyDecision* navigation);
    void decideTopLevel(WebKitPolicyDecision* decision, const std::string& uri, int32_t flags = 0);
    void decideFrame(WebKitPolicyDecision* decision, const std::string& uri);
    bool decideResponse(WebKitResponsePolicyDecision* decision);
    void classifyByFrames(WebKitPolicyDecision* decision, const std::string& uri);
    bool fireBeforeNavigate(const TBrowserDispatch& disp, const std::string& uri,
                            int32_t flags = 0);
    void loadChanged(WebKitLoadEvent event);
    bool loadFailed(const char* uri, GError* error);
    TBrowserDispatch frameDispatchFor(const std::string& url);
    void rememberFrame(const std::string& uri, const TBrowserDispatch& disp, bool beforeResponse);
    void reportHandlerError(const std::string& what) noexcept;
    // Links and forms of the top level (BrowserTopActions.cpp).
    void watchTopActions();
    void topActionReported(const std::string& kind, const std::string& url, bool byUser);
    // Whether the top-level document reported the action; byUser tells
    // whether the user's own input started it.
    bool isReportedTopAction(WebKitNavigationAction* action, const std::string& uri, bool& byUser);
    bool takeReport(WebKitNavigationAction* action, const std::string& kind, const std::string& uri,
                    bool& byUser);
    void uriChanged();
    void sameDocumentNavigated();
    // Failed loads and a dead web process (BrowserErrors.cpp).
    bool navigateError(const std::string& uri, GError* error);
    void webProcessTerminated();
    void showHostPage(const std::string& title, const std::string& text, const std::string& button,
                      const std::string& uri);
    void forgetFrames();
    bool downloadUnshowable(WebKitResponsePolicyDecision* decision);
    // Status text, title, command state, geometry (BrowserEvents.cpp).
    void connectEvents();
    void setStatusText(const std::string& text);
    void titleChanged();
    void historyChanged();

    GRef<WebKitWebView> view_;
    GRef<WebKitUserContentManager> contentManager_;
    std::shared_ptr<TFrameChannel> channel_;
    GRef<GCancellable> cancellable_;
    TBrowserDispatch dispatch_;

    std::string location_;
    int32_t readyState_ = READYSTATE_UNINITIALIZED;
    std::set<std::string> hostStarted_; // URIs this host asked to load itself
    std::string topAnnouncedUri_;       // the top-level load in flight had its event
    bool topCommitted_ = false;         // the top-level load in flight has committed
    bool topRefused_ = false;           // the top-level load in flight was cancelled
    bool provisional_ = false;          // a top-level load started and has not committed
    std::string topActionKind_;         // "link" or "form" the top level just reported
    std::string topActionUri_;
    bool topActionByUser_ = false;
    std::string contextLinkUri_; // the link of the engine's context menu shown last
    sigc::connection uriCheck_;
    std::multiset<std::string> framesAnnounced_;
    std::map<std::string, TBrowserDispatch> frameDispatches_; // announced, by URL
    std::string statusText_;
    std::string title_;
    int canGoBack_ = -1; // -1 until first reported
    int canGoForward_ = -1;
};

// TCustomBrowserHost: settings applied to the engine, the key filter and the
// host-side events (new windows, page messages, window services).
class TCustomBrowserHost : public TBrowserControl {
public:
    const TDownloadOptions& DownloadOptions() const { return downloadOptions_; }
    void SetDownloadOptions(const TDownloadOptions& options);
    const TUserInterfaceOptions& UserInterfaceOptions() const { return uiOptions_; }
    void SetUserInterfaceOptions(const TUserInterfaceOptions& options);
    // The options' flag words: the sums of their members' values.
    uint32_t DownloadControlFlags() const { return downloadOptions_.Flags(); }
    uint32_t HostUIFlags() const { return uiOptions_.Flags(); }

    bool Silent() const { return silent_; }
    void SetSilent(bool silent) { silent_ = silent; }

    // One character per masked key ("N" masks Ctrl+N).
    std::string DisableCtrlShortcuts = "N";
    // Page script errors: the scripts always keep running and no dialog is
    // shown; the engine reports script errors to nobody.
    TScriptErrorAction ScriptErrorAction = TScriptErrorAction::eaContinue;

    virtual bool IsMaskedCtrlKey(const TKeyMessage& message);

    TEvaluateNewWindowEvent OnEvaluateNewWindow;
    TShowMessageEvent OnShowMessage;
    TResizeEvent OnResize;
    TMaskedCtrlCharEvent OnMaskedCtrlChar;

    ~TCustomBrowserHost() override;

protected:
    explicit TCustomBrowserHost(TBrowserControl* related);

    GtkWidget* CreateNewWindow(WebKitNavigationAction* action) override;
    bool ShowScriptDialog(WebKitScriptDialog* dialog) override;
    void GeometryRequested(int width, int height) override;

private:
    void applyDownloadOptions();
    friend class TPopupWindow;
    GtkWidget* openPopup(WebKitWebView* opener, bool userGesture);
    void closePopup(TPopupWindow* popup);

    TDownloadOptions downloadOptions_;
    TUserInterfaceOptions uiOptions_;
    bool silent_ = true;
    std::list<std::unique_ptr<TPopupWindow>> popups_;
    std::set<TPopupWindow*> closedPopups_;
    sigc::connection popupCleanup_;
};

// Settings of the page's dialog boxes.
struct TDialogBoxes {
    bool DisableAll = false;
    bool ReplaceCaption = true;
    bool ReplaceIcon = true;
    std::string NewCaption;
};

// TBrowserHost: the component the main window places: proxy and user agent,
// focus and key handling, dialog boxes.
class TBrowserHost : public TCustomBrowserHost {
public:
    // related: given when this host is to receive a pop-up of that browser
    // (through OnNewWindow2's ppDisp).
    explicit TBrowserHost(TBrowserHost* related = nullptr);
    ~TBrowserHost() override;

    TProxySettings ProxySettings;
    TDialogBoxes DialogBoxes;

    const std::string& UserAgent() const { return userAgent_; }
    void SetUserAgent(const std::string& userAgent);
    TUserAgentMode UserAgentMode() const { return userAgentMode_; }
    void SetUserAgentMode(TUserAgentMode mode);
    void SetUserAgentText(const std::string& text) { SetUserAgent(text); }
    const std::string& AppliedUserAgent() const { return appliedUserAgent_; }

    void OpenBlankPage(bool Wait);
    void ActivateDocument();
    // Goes where a text typed into the address bar leads: an existing folder
    // as a file address, other non-blank text as an address (trimmed; given
    // "http://" when it names no scheme, as "www.example.com" or
    // "localhost:8080/").
    void NavigateToText(const std::string& Text);
    // The title a dialog of the page gets, from its own title and the
    // product's caption.
    static std::string DialogCaption(const std::string& caption, const std::string& product);
    // The toolkit's print dialog for the page, owned by the window and titled
    // with DialogBoxes.NewCaption; returns when it closes.
    void Print();

    TBusyWaitEvent OnBusyWait;

private:
    void applyUserAgent();
    // Focus and keys (BrowserFocus.cpp).
    void attachToWindow();
    void detachFromWindow();
    bool keyPressed(guint keyval, guint keycode, Gdk::ModifierType state);
    bool scrolled();
    void activeChanged();
    bool focusInPage() const;
    // Dialog watch (BrowserDialogs.cpp).
    void watchDialogs();
    void unwatchDialogs();
    void watchWindow(GtkWindow* window);
    static void windowGone(gpointer self, GObject* window);
    void dialogAppeared(GtkWindow* dialog);
    // Printing (BrowserPrint.cpp).
    void watchPrintRequests();
    void runPrintDialog(WebKitPrintOperation* operation);

    std::string userAgent_;
    TUserAgentMode userAgentMode_ = TUserAgentMode::uaDefault;
    std::string appliedUserAgent_;

    Gtk::Window* window_ = nullptr;
    Glib::RefPtr<Gtk::EventControllerKey> keys_;
    Glib::RefPtr<Gtk::EventControllerScroll> wheel_;
    Glib::RefPtr<Gtk::EventControllerMotion> pointer_;
    bool pointerOverPage_ = false;
    sigc::connection activeConnection_;
    gulong toplevelsConnection_ = 0;
    std::set<GtkWindow*> watchedWindows_;
    bool pageHadFocus_ = false;
    bool printing_ = false;
};

} // namespace orvalis::browser
