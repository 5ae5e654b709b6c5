// Navigations of the top level that the engine cannot place by itself:
// - links and forms that the user activates in the top-level document: a
//   script in the host's script world reports each one with its target before
//   the engine asks for the navigation's decision, so that OnBeforeNavigate2
//   decides it as the top level's before any request leaves;
// - same-document navigations (a fragment, history.pushState), which load
//   nothing and raise no load event: the address the view shows moves, and
//   the host follows it.

#include "browser/BrowserHost.h"
#include "browser/FrameChannel.h"
#include "browser/UriText.h"

#include <utility>

namespace orvalis::browser {

namespace {

constexpr const char* kTopHandler = "orvalisTop";

// Runs in the top-level document only. Listening on the window, after the
// page's own handlers, an activation that the page prevented is not reported.
// Links are reported however they are opened (in place, in another window,
// with a middle click). Each report says whether the user's own input made it:
// an event the engine raised (never one a script dispatched, as click() does)
// within a moment of the user's pointer or key.
constexpr const char* kTopActionScript = R"JS((() => {
  const handler = window.webkit && window.webkit.messageHandlers.orvalisTop;
  if (!handler) return;
  const here = (t) => !t || t === '_self' || t === '_top' || t === '_parent';
  const targetOf = (el) => el.getAttribute('target') ||
      ((document.querySelector('base[target]') || {}).target || '');
  let lastInput = -Infinity;
  for (const type of ['pointerdown', 'mousedown', 'keydown'])
    window.addEventListener(type, (e) => { if (e.isTrusted) lastInput = performance.now(); }, true);
  const report = (kind, url, e) => handler.postMessage(
      {kind, url, byUser: e.isTrusted && performance.now() - lastInput < 1000});
  const link = (e) => {
    if (e.defaultPrevented || e.altKey || e.button > 1) return;
    const a = e.target && e.target.closest && e.target.closest('a[href], area[href]');
    if (!a || a.hasAttribute('download')) return;
    report('link', a.href, e);
  };
  window.addEventListener('click', link);
  window.addEventListener('auxclick', link);
  window.addEventListener('submit', (e) => {
    if (e.defaultPrevented) return;
    const form = e.target, by = e.submitter;
    const target = (by && by.getAttribute('formtarget')) || targetOf(form);
    if (!here(target)) return;
    report('form', (by && by.formAction) || form.action, e);
  });
})();)JS";

bool BoolProperty(JSCValue* object, const char* name) {
    GRef<JSCValue> v = GRef<JSCValue>::Adopt(jsc_value_object_get_property(object, name));
    return v && jsc_value_is_boolean(v.get()) && jsc_value_to_boolean(v.get());
}

std::string StringProperty(JSCValue* object, const char* name) {
    GRef<JSCValue> v = GRef<JSCValue>::Adopt(jsc_value_object_get_property(object, name));
    if (!v || !jsc_value_is_string(v.get()))
        return {};
    g_autofree char* s = jsc_value_to_string(v.get());
    return s ? s : "";
}

} // namespace

void TBrowserControl::watchTopActions() {
    TFrameChannel::AddScript(
        contentManager_.get(), kTopActionScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, kTopHandler,
        G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* message, gpointer self) {
            auto& control = *static_cast<TBrowserControl*>(self);
            control.Guarded([&] {
                if (jsc_value_is_object(message))
                    control.topActionReported(StringProperty(message, "kind"),
                                              StringProperty(message, "url"),
                                              BoolProperty(message, "byUser"));
            });
        }),
        this);
    g_signal_connect(view_.get(), "context-menu",
                     G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, WebKitHitTestResult* hit,
                                    gpointer self) -> gboolean {
                         auto& control = *static_cast<TBrowserControl*>(self);
                         const char* link = webkit_hit_test_result_context_is_link(hit)
                                                ? webkit_hit_test_result_get_link_uri(hit)
                                                : nullptr;
                         control.contextLinkUri_ = link ? link : "";
                         return FALSE;
                     }),
                     this);
    g_signal_connect_swapped(view_.get(), "notify::uri", G_CALLBACK(+[](gpointer self) {
                                 auto& control = *static_cast<TBrowserControl*>(self);
                                 control.Guarded([&] { control.uriChanged(); });
                             }),
                             this);
}

void TBrowserControl::topActionReported(const std::string& kind, const std::string& url,
                                        bool byUser) {
    topActionKind_ = kind;
    topActionUri_ = url;
    topActionByUser_ = byUser;
}

bool TBrowserControl::isReportedTopAction(WebKitNavigationAction* action, const std::string& uri,
                                          bool& byUser) {
    // A link of the engine's own menu, which only the user opens.
    if (!contextLinkUri_.empty() &&
        NormalizedUri(std::exchange(contextLinkUri_, {})) == NormalizedUri(uri)) {
        byUser = true;
        return true;
    }
    const WebKitNavigationType type = webkit_navigation_action_get_navigation_type(action);
    if (type == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED)
        return takeReport(action, "link", uri, byUser);
    if (type == WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED ||
        type == WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED)
        return takeReport(action, "form", uri, byUser);
    return false;
}

bool TBrowserControl::takeReport(WebKitNavigationAction* action, const std::string& kind,
                                 const std::string& uri, bool& byUser) {
    const std::string reported = std::exchange(topActionUri_, {});
    byUser =
        std::exchange(topActionByUser_, false) && webkit_navigation_action_is_user_gesture(action);
    if (std::exchange(topActionKind_, {}) != kind || reported.empty())
        return false;
    // A form's address gains its fields as a query.
    const bool withQuery = kind != "form";
    return UriWithoutFragment(NormalizedUri(reported), withQuery) ==
           UriWithoutFragment(NormalizedUri(uri), withQuery);
}

bool TBrowserControl::refusesLinkInNewWindow(WebKitNavigationAction* action) {
    bool byUser = false;
    const std::string uri =
        webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    return isReportedTopAction(action, uri, byUser) &&
           fireBeforeNavigate(dispatch_, uri, byUser ? NAVF_USERINITED : 0);
}

void TBrowserControl::uriChanged() {
    // The address also moves when a load starts or is refused; what it
    // settles on is looked at once the engine is done with the change.
    if (!uriCheck_.connected())
        uriCheck_ = Glib::signal_idle().connect([this] {
            Guarded([this] { sameDocumentNavigated(); });
            return false;
        });
}

void TBrowserControl::sameDocumentNavigated() {
    const char* raw = webkit_web_view_get_uri(view_.get());
    const std::string uri = raw ? raw : "";
    if (provisional_ || uri.empty() || uri == location_ || !SameOrigin(uri, location_))
        return;
    // A refused or failed load may leave its address announced for a while;
    // a same-document navigation has made its own history entry.
    WebKitBackForwardListItem* current = webkit_back_forward_list_get_current_item(
        webkit_web_view_get_back_forward_list(view_.get()));
    const char* currentUri = current ? webkit_back_forward_list_item_get_uri(current) : nullptr;
    if (!currentUri || uri != currentUri)
        return;
    location_ = uri;
    topAnnouncedUri_.clear();
    if (readyState_ == READYSTATE_LOADING)
        readyState_ = READYSTATE_COMPLETE;
    if (OnNavigateComplete2) {
        std::string url = location_;
        OnNavigateComplete2(*this, dispatch_, url);
    }
}

} // namespace orvalis::browser
