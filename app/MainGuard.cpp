// Keeps the browser on the site: top-level navigation, the site's pop-ups,
// the page fix-up, page messages under the product's title, and the
// location published for the request filter.
#include "app/Unit1.h"

namespace orvalis::app {

void TMainForm::WireBrowserEvents() {
    using namespace browser;
    Browser->OnBeforeNavigate2 = [this](TBrowserControl&, const TBrowserDispatch& pDisp,
                                        std::string& URL, int32_t&, std::string&, std::string&,
                                        std::string&, bool& Cancel) {
        BrowserBeforeNavigate2(pDisp, URL, Cancel);
    };
    Browser->OnEvaluateNewWindow =
        [this](TCustomBrowserHost&, const std::string& pszUrl, const std::string&,
               const std::string&, const std::string&, bool, uint32_t, uint32_t,
               int32_t& Rezult) { BrowserEvaluateNewWindow(pszUrl, Rezult); };
    Browser->OnNewWindow2 = [this](TBrowserControl&, TBrowserHost*&, bool& Cancel) {
        BrowserNewWindow2(Cancel);
    };
    Browser->OnDocumentComplete = [this](TBrowserControl&, const TBrowserDispatch& pDisp,
                                         std::string&) { BrowserDocumentComplete(pDisp); };
    Browser->OnNavigateComplete2 = [this](TBrowserControl&, const TBrowserDispatch& pDisp,
                                          std::string&) { BrowserNavigateComplete2(pDisp); };
    Browser->OnShowMessage = [this](TCustomBrowserHost&, Gtk::Window*, const std::string& lpstrText,
                                    const std::string&, uint32_t dwType, const std::string&,
                                    uint32_t, TMessageResult& plResult) {
        return BrowserShowMessage(lpstrText, dwType, plResult);
    };
    Browser->OnCommandStateChange = [this](TBrowserControl&, int32_t Command, bool Enable) {
        BrowserCommandStateChange(Command, Enable);
    };
    Browser->OnTitleChange = [this](TBrowserControl&, const std::string& Text) {
        BrowserTitleChange(Text);
    };
    Browser->OnStatusTextChange = [this](TBrowserControl&, const std::string& Text) {
        BrowserStatusTextChange(Text);
    };
    Browser->OnResize = [this](TCustomBrowserHost&, int32_t cx, int32_t cy) {
        BrowserResize(cx, cy);
    };
    WatchMainResponses();
    WireBrowsing();
    WatchUncommittedLoads();
}

// The engine requests a new page's resources as soon as the page is let
// through, before the window hears that it was committed: the filter gets the
// page's location at that moment, so that a portal page's own resources are
// judged as the portal's.
void TMainForm::WatchMainResponses() {
    g_signal_connect(
        Browser->WebView(), "decide-policy",
        G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                       WebKitPolicyDecisionType type, gpointer self) -> gboolean {
            if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
                auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
                if (webkit_response_policy_decision_is_main_frame_main_resource(response)) {
                    WebKitURIRequest* request =
                        webkit_response_policy_decision_get_request(response);
                    static_cast<TMainForm*>(self)->locationCopy_.Set(
                        webkit_uri_request_get_uri(request));
                    static_cast<TMainForm*>(self)->responseUncommitted_ = true;
                }
            }
            return FALSE;
        }),
        this);
}

void TMainForm::BrowserBeforeNavigate2(const browser::TBrowserDispatch& pDisp,
                                       const std::string& URL, bool& Cancel) {
    if (!(pDisp == Browser->BrowserDispatch()) || guard::AllowsTopLevelNavigation(URL)) {
        return;
    }
    display_.WriteLog(guard::NavigationRefusedText, true);
    Cancel = true;
    TopLevelRefused();
}

void TMainForm::BrowserEvaluateNewWindow(const std::string& pszUrl, int32_t& Rezult) {
    popupPolicy_.EvaluateNewWindow(pszUrl, Rezult);
}

void TMainForm::BrowserNewWindow2(bool& Cancel) {
    if (auto url = popupPolicy_.NewWindow(Cancel)) {
        Browser->Navigate(*url);
    }
}

void TMainForm::BrowserDocumentComplete(const browser::TBrowserDispatch& pDisp) {
    browser::TBrowserDocument document = Browser->Document(pDisp);
    if (!document.Exists()) {
        return;
    }
    // The answer comes later; the window may have changed size meanwhile,
    // so the browser area is measured when it arrives.
    document.GetBox([this, document](std::optional<browser::TDocumentBox> box) {
        if (!box) {
            return;
        }
        guard::TPoint topLeft{box->Left, box->Top};
        guard::TPoint bottomRight{box->Left + box->Width, box->Top + box->Height};
        if (guard::FillsBrowserArea(topLeft, bottomRight, Panel_Browser.get_width(),
                                    Panel_Browser.get_height())) {
            document.ExecScript(std::string(guard::FixUpScript));
        }
    });
}

int32_t TMainForm::BrowserShowMessage(const std::string& lpstrText, uint32_t dwType,
                                      browser::TMessageResult& plResult) {
    const bool okCancel = (dwType & 0xF) == browser::MB_OKCANCEL;
    auto& dialog = messageBoxes_.emplace_back(std::make_unique<Gtk::MessageDialog>(
        *this, lpstrText, false, okCancel ? Gtk::MessageType::QUESTION : Gtk::MessageType::WARNING,
        okCancel ? Gtk::ButtonsType::OK_CANCEL : Gtk::ButtonsType::OK, true));
    dialog->set_title(std::string(AppCaption));
    dialog->set_hide_on_close(true);
    auto answer = std::make_shared<browser::TMessageResult>(std::move(plResult));
    Gtk::MessageDialog* shown = dialog.get();
    dialog->signal_response().connect([this, shown, answer](int response) {
        answer->Set(response == Gtk::ResponseType::OK ? browser::IDOK : browser::IDCANCEL);
        shown->hide();
        // Freed once GTK is done delivering the response; dropped with the window.
        Glib::signal_idle().connect_once(sigc::track_object(
            [this, shown] {
                messageBoxes_.remove_if([shown](auto& box) { return box.get() == shown; });
            },
            *this));
    });
    dialog->present();
    return 0;
}

void TMainForm::BrowserNavigateComplete2(const browser::TBrowserDispatch& pDisp) {
    if (!(pDisp == Browser->BrowserDispatch())) {
        return;
    }
    std::string location = Browser->LocationURL();
    locationCopy_.Set(location);
    AddressBar.SetText(location);
    AddressBar.queue_draw();
    MainLoadCommitted();
}

} // namespace orvalis::app
