// After a top-level load: the keyboard focus goes to the page when the user
// asked for the load, and the filter's location goes back to the page shown
// when a load ended without showing its own.
#include "app/Unit1.h"

namespace orvalis::app {

void TMainForm::UserStartedLoad() {
    userLoad_ = TUserLoad::Requested;
}

// The guard refused the navigation the user asked for: the request ends with
// it, so that a later change of the page shown (a fragment, say) does not
// take the focus from where the user is typing.
void TMainForm::TopLevelRefused() {
    userLoad_ = TUserLoad::None;
}

void TMainForm::MainLoadCommitted() {
    responseUncommitted_ = false;
    if (userLoad_ != TUserLoad::None) {
        userLoad_ = TUserLoad::None;
        Browser->ActivateDocument();
    }
}

// A main-frame response that never commits (no content, a download, Stop,
// a failure) leaves the page as it was, and so the location the filter reads.
void TMainForm::MainLoadEnded() {
    if (responseUncommitted_) {
        responseUncommitted_ = false;
        locationCopy_.Set(Browser->LocationURL());
    }
    // The end of the load that the user's one replaced keeps the request.
    if (userLoad_ == TUserLoad::Started) {
        userLoad_ = TUserLoad::None;
    }
}

void TMainForm::WatchUncommittedLoads() {
    g_signal_connect(Browser->WebView(), "load-changed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                         auto* self = static_cast<TMainForm*>(data);
                         if (event == WEBKIT_LOAD_STARTED &&
                             self->userLoad_ == TUserLoad::Requested) {
                             self->userLoad_ = TUserLoad::Started;
                         } else if (event == WEBKIT_LOAD_FINISHED) {
                             self->MainLoadEnded();
                         }
                     }),
                     this);
}

// The page outlives this object by a moment (the toolkit destroys the
// window's children after it): nothing of the page reaches it any more.
void TMainForm::DetachBrowserEvents() {
    g_signal_handlers_disconnect_by_data(Browser->WebView(), this);
    Browser->OnBeforeNavigate2 = {};
    Browser->OnEvaluateNewWindow = {};
    Browser->OnNewWindow2 = {};
    Browser->OnDocumentComplete = {};
    Browser->OnNavigateComplete2 = {};
    Browser->OnShowMessage = {};
    Browser->OnCommandStateChange = {};
    Browser->OnTitleChange = {};
    Browser->OnStatusTextChange = {};
    Browser->OnResize = {};
    AddressBar.OnUrlSelected = {};
    TravelLog.OnEntry = {};
}

} // namespace orvalis::app
