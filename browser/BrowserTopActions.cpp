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
// Links with another target (a frame, a new window) and modified clicks do
// not navigate this document.
constexpr const char* kTopActionScript = R"JS((() => {
  const handler = window.webkit && window.webkit.messageHandlers.orvalisTop;
  if (!handler) return;
  const here = (t) => !t || t === '_self' || t === '_top' || t === '_parent';
  const targetOf = (el) => el.getAttribute('target') ||
      ((document.querySelector('base[target]') || {}).target || '');
  window.addEventListener('click', (e) => {
    if (e.defaultPrevented || e.button !== 0 || e.ctrlKey || e.metaKey || e.shiftKey || e.altKey)
      return;
    const a = e.target && e.target.closest && e.target.closest('a[href], area[href]');
    if (!a || a.hasAttribute('download') || !here(targetOf(a))) return;
    handler.postMessage({kind: 'link', url: a.href});
  });
  window.addEventListener('submit', (e) => {
    if (e.defaultPrevented) return;
    const form = e.target, by = e.submitter;
    const target = (by && by.getAttribute('formtarget')) || targetOf(form);
    if (!here(target)) return;
    handler.postMessage({kind: 'form', url: (by && by.formAction) || form.action});
  });
})();)JS";

std::string StringProperty(JSCValue* object, const char* name) {
    GRef<JSCValue> v = GRef<JSCValue>::Adopt(jsc_value_object_get_property(object, name));
    if (!v || !jsc_value_is_string(v.get()))
        return {};
    g_autofree char* s = jsc_value_to_string(v.get());
    return s ? s : "";
}

} // namespace

void TBrowserControl::watchTopActions() {
    WebKitUserContentManager* manager = contentManager_.get();
    GRef<WebKitUserScript, webkit_user_script_ref, webkit_user_script_unref> script =
        decltype(script)::Adopt(webkit_user_script_new_for_world(
            kTopActionScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, TFrameChannel::World(), nullptr, nullptr));
    webkit_user_content_manager_add_script(manager, script.get());
    webkit_user_content_manager_register_script_message_handler(manager, kTopHandler,
                                                                TFrameChannel::World());
    const std::string signal = std::string("script-message-received::") + kTopHandler;
    g_signal_connect(manager, signal.c_str(),
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* message, gpointer self) {
                         auto& control = *static_cast<TBrowserControl*>(self);
                         control.Guarded([&] {
                             if (jsc_value_is_object(message))
                                 control.topActionReported(StringProperty(message, "kind"),
                                                           StringProperty(message, "url"));
                         });
                     }),
                     this);
    g_signal_connect_swapped(view_.get(), "notify::uri", G_CALLBACK(+[](gpointer self) {
                                 auto& control = *static_cast<TBrowserControl*>(self);
                                 control.Guarded([&] { control.uriChanged(); });
                             }),
                             this);
}

void TBrowserControl::topActionReported(const std::string& kind, const std::string& url) {
    topActionKind_ = kind;
    topActionUri_ = url;
}

bool TBrowserControl::isReportedTopAction(WebKitNavigationAction* action, const std::string& uri) {
    const WebKitNavigationType type = webkit_navigation_action_get_navigation_type(action);
    std::string kind;
    if (type == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED)
        kind = "link";
    else if (type == WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED ||
             type == WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED)
        kind = "form";
    else
        return false;
    const std::string reported = std::exchange(topActionUri_, {});
    if (std::exchange(topActionKind_, {}) != kind || reported.empty())
        return false;
    // A form's address gains its fields as a query.
    const bool withQuery = kind == "link";
    return UriWithoutFragment(NormalizedUri(reported), withQuery) ==
           UriWithoutFragment(NormalizedUri(uri), withQuery);
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
