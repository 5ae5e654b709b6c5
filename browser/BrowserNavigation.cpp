// OnBeforeNavigate2, OnNavigateComplete2 and OnDocumentComplete of the top
// level, and the telling apart of top level and frames.
//
// The engine gives no main-frame flag when a navigation is decided, so:
// - a navigation this host started, and a back/forward or reload whose
//   address is the top level's, is top-level and decided at once; so is a
//   link or form that the top-level document reported (BrowserTopActions.cpp);
// - other back/forward and reload navigations belong to frames;
// - any other navigation is held while the page is asked whether one of its
//   frame elements is loading that address: if so it is a frame's, decided at
//   once; if not, a web address passes and is decided at its response, where
//   the engine says whether it is the top level's. Any other address (data,
//   blob, file) may show a page without a response to decide: it is decided
//   as the top level's at once. A refused top-level response keeps the old
//   page, title and history;
// - a redirect while the top level loads is the top level's, decided before
//   the engine follows it (a redirect of a frame comes while none loads).

#include "browser/BrowserHost.h"
#include "browser/FrameChannel.h"
#include "browser/UriText.h"

namespace orvalis::browser {

namespace {

// Whether a frame element of the page (or of its same-origin frames) loads
// the address: its src is set before the frame's navigation is decided.
constexpr const char* kFrameScan = R"JS((function (url) {
  const bare = (u) => u.split('#')[0];
  const scan = (d) => {
    for (const el of d.querySelectorAll('iframe, frame')) {
      if (el.src && bare(el.src) === bare(url)) return true;
      if (url === 'about:srcdoc' && el.hasAttribute('srcdoc')) return true;
      try { if (el.contentDocument && scan(el.contentDocument)) return true; } catch (e) {}
    }
    return false;
  };
  return scan(document);
}))JS";

constexpr size_t kFrameEntries = 64;

struct THeldDecision {
    TBrowserControl* Self;
    GRef<WebKitPolicyDecision> Decision;
    std::string Uri;
};

std::string RequestUri(WebKitURIRequest* request) {
    const char* uri = webkit_uri_request_get_uri(request);
    return uri ? uri : "";
}

std::string JsonText(const std::string& s) {
    g_autofree char* escaped = g_strescape(s.c_str(), nullptr);
    return std::string("\"") + escaped + "\"";
}

} // namespace

bool TBrowserControl::fireBeforeNavigate(const TBrowserDispatch& disp, const std::string& uri,
                                         int32_t flags) {
    if (!OnBeforeNavigate2)
        return false;
    std::string url = uri, frame, postData, headers;
    bool cancel = false;
    OnBeforeNavigate2(*this, disp, url, flags, frame, postData, headers, cancel);
    return cancel;
}

TBrowserDispatch TBrowserControl::frameDispatchFor(const std::string& url) {
    auto it = frameDispatches_.find(url);
    if (it == frameDispatches_.end())
        return TBrowserDispatch::Create();
    TBrowserDispatch disp = it->second;
    frameDispatches_.erase(it);
    return disp;
}

void TBrowserControl::rememberFrame(const std::string& uri, const TBrowserDispatch& disp,
                                    bool beforeResponse) {
    // Frames whose documents never start (refused by the filter, stopped)
    // leave their entries until the top level changes: a page that keeps
    // rotating frames must not grow them without end.
    if (framesAnnounced_.size() >= kFrameEntries)
        framesAnnounced_.clear();
    if (frameDispatches_.size() >= kFrameEntries)
        frameDispatches_.clear();
    if (beforeResponse)
        framesAnnounced_.insert(uri);
    frameDispatches_.insert_or_assign(uri, disp);
}

void TBrowserControl::decideTopLevel(WebKitPolicyDecision* decision, const std::string& uri,
                                     int32_t flags) {
    topAnnouncedUri_ = uri;
    if (fireBeforeNavigate(dispatch_, uri, flags)) {
        topAnnouncedUri_.clear();
        topRefused_ = true;
        readyState_ = location_.empty() ? READYSTATE_UNINITIALIZED : READYSTATE_COMPLETE;
        webkit_policy_decision_ignore(decision);
    } else {
        webkit_policy_decision_use(decision);
    }
}

void TBrowserControl::decideFrame(WebKitPolicyDecision* decision, const std::string& uri) {
    TBrowserDispatch disp = TBrowserDispatch::Create();
    if (fireBeforeNavigate(disp, uri)) {
        webkit_policy_decision_ignore(decision);
    } else {
        rememberFrame(uri, disp, true);
        webkit_policy_decision_use(decision);
    }
}

bool TBrowserControl::decideNavigation(WebKitNavigationPolicyDecision* navigation) {
    WebKitPolicyDecision* decision = WEBKIT_POLICY_DECISION(navigation);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(navigation);
    const std::string uri = RequestUri(webkit_navigation_action_get_request(action));
    if (webkit_navigation_action_is_redirect(action)) {
        if (!provisional_)
            return false; // a frame's: the filter judges where it leads
        decideTopLevel(decision, uri);
        return true;
    }
    const auto decideAs = [&](bool topLevel) {
        if (topLevel)
            decideTopLevel(decision, uri);
        else
            decideFrame(decision, uri);
        return true;
    };

    if (hostStarted_.erase(NormalizedUri(uri)) > 0)
        return decideAs(true);
    switch (webkit_navigation_action_get_navigation_type(action)) {
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD: {
        // The list has already moved to the entry being travelled to.
        WebKitBackForwardListItem* current = webkit_back_forward_list_get_current_item(
            webkit_web_view_get_back_forward_list(view_.get()));
        const char* currentUri = current ? webkit_back_forward_list_item_get_uri(current) : nullptr;
        return decideAs(currentUri && uri == currentUri);
    }
    case WEBKIT_NAVIGATION_TYPE_RELOAD: {
        const char* viewUri = webkit_web_view_get_uri(view_.get());
        return decideAs(viewUri && uri == viewUri);
    }
    default:
        if (!OnBeforeNavigate2)
            return false;
        if (bool byUser = false; isReportedTopAction(action, uri, byUser)) {
            decideTopLevel(decision, uri, byUser ? NAVF_USERINITED : 0);
            return true;
        }
        classifyByFrames(decision, uri);
        return true;
    }
}

void TBrowserControl::classifyByFrames(WebKitPolicyDecision* decision, const std::string& uri) {
    auto held = std::make_unique<THeldDecision>(
        THeldDecision{this, GRef<WebKitPolicyDecision>::Share(decision), uri});
    const std::string script = std::string(kFrameScan) + "(" + JsonText(uri) + ")";
    webkit_web_view_evaluate_javascript(
        view_.get(), script.c_str(), -1, TFrameChannel::World(), nullptr, cancellable_.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<THeldDecision> held(static_cast<THeldDecision*>(data));
            GError* error = nullptr;
            GRef<JSCValue> value = GRef<JSCValue>::Adopt(webkit_web_view_evaluate_javascript_finish(
                WEBKIT_WEB_VIEW(source), result, &error));
            if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                g_error_free(error);
                return; // the host is gone; the engine decides alone
            }
            const bool inFrame =
                value && jsc_value_is_boolean(value.get()) && jsc_value_to_boolean(value.get());
            if (error)
                g_error_free(error);
            TBrowserControl& self = *held->Self;
            WebKitPolicyDecision* decision = held->Decision.get();
            if (!inFrame && IsWebAddress(held->Uri)) {
                webkit_policy_decision_use(decision); // decided at its response
                return;
            }
            self.Guarded([&] {
                if (inFrame)
                    self.decideFrame(decision, held->Uri);
                else
                    self.decideTopLevel(decision, held->Uri);
            });
        },
        held.release());
}

bool TBrowserControl::decideResponse(WebKitResponsePolicyDecision* decision) {
    const std::string uri = RequestUri(webkit_response_policy_decision_get_request(decision));
    if (webkit_response_policy_decision_is_main_frame_main_resource(decision)) {
        if (uri == topAnnouncedUri_)
            return downloadUnshowable(decision);
        topAnnouncedUri_ = uri;
        if (!fireBeforeNavigate(dispatch_, uri))
            return downloadUnshowable(decision);
        topAnnouncedUri_.clear();
        topRefused_ = true;
        webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
        return true;
    }
    if (auto it = framesAnnounced_.find(uri); it != framesAnnounced_.end()) {
        framesAnnounced_.erase(it);
        return false;
    }
    // A frame navigation that could not be recognised before its request
    // (a link inside a frame, a frame's script): announced now.
    TBrowserDispatch disp = TBrowserDispatch::Create();
    if (!fireBeforeNavigate(disp, uri)) {
        rememberFrame(uri, disp, false);
        return false;
    }
    webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    return true;
}

void TBrowserControl::loadChanged(WebKitLoadEvent event) {
    switch (event) {
    case WEBKIT_LOAD_STARTED: {
        readyState_ = READYSTATE_LOADING;
        provisional_ = true;
        topCommitted_ = false;
        topRefused_ = false;
        const char* uri = webkit_web_view_get_uri(view_.get());
        setStatusText(uri ? uri : "");
        break;
    }
    case WEBKIT_LOAD_REDIRECTED:
        break; // decided as a navigation of its own
    case WEBKIT_LOAD_COMMITTED: {
        readyState_ = READYSTATE_INTERACTIVE;
        provisional_ = false;
        topCommitted_ = true;
        topAnnouncedUri_.clear();
        contextLinkUri_.clear();
        const char* uri = webkit_web_view_get_uri(view_.get());
        location_ = uri ? uri : "";
        forgetFrames();
        if (OnNavigateComplete2) {
            std::string url = location_;
            OnNavigateComplete2(*this, dispatch_, url);
        }
        if (OnCommandStateChange)
            OnCommandStateChange(*this, -1, true);
        break;
    }
    case WEBKIT_LOAD_FINISHED: {
        readyState_ = READYSTATE_COMPLETE;
        provisional_ = false;
        topAnnouncedUri_.clear();
        setStatusText("");
        if (topCommitted_ && OnDocumentComplete) {
            topCommitted_ = false;
            std::string url = location_;
            OnDocumentComplete(*this, dispatch_, url);
        }
        topCommitted_ = false;
        break;
    }
    }
}

} // namespace orvalis::browser
