// Permission requests and notifications of the page, and the notification
// answers remembered in the profile.

#include "browser/BrowserPermissions.h"

#include "browser/BrowserHost.h"
#include "browser/FrameChannel.h"

#include <optional>

namespace orvalis::browser {

namespace {

constexpr const char* kInputHandler = "orvalisInput";

// Runs in every frame: each input of the user (never an event a script
// dispatched) reports the origin of the document that took it.
constexpr const char* kInputScript = R"JS((() => {
  const handler = window.webkit && window.webkit.messageHandlers.orvalisInput;
  if (!handler) return;
  const seen = (e) => { if (e.isTrusted) handler.postMessage(String(self.origin)); };
  for (const type of ['pointerdown', 'mousedown', 'keydown', 'touchstart'])
    window.addEventListener(type, seen, true);
})();)JS";

// The engine lets a document ask for 5 s after the user's gesture; inputs
// older than this no longer tell who may be asking.
constexpr gint64 kInputWindow = 10 * G_USEC_PER_SEC;
constexpr size_t kInputs = 32;

constexpr const char* kAnswersFile = "notification-permissions.ini";
constexpr const char* kGroup = "Notifications";

using TOriginRef =
    GRef<WebKitSecurityOrigin, webkit_security_origin_ref, webkit_security_origin_unref>;

std::string OriginOf(const std::string& uri) {
    TOriginRef origin = TOriginRef::Adopt(webkit_security_origin_new_for_uri(uri.c_str()));
    g_autofree char* text = origin ? webkit_security_origin_to_string(origin.get()) : nullptr;
    return text ? text : "";
}

std::string HostOf(const std::string& origin) {
    TOriginRef parsed = TOriginRef::Adopt(webkit_security_origin_new_for_uri(origin.c_str()));
    const char* host = parsed ? webkit_security_origin_get_host(parsed.get()) : nullptr;
    return host ? host : "";
}

// The answers per origin: kept for the process, and in the profile beside the
// session's own data when the session keeps any.
class TAnswers {
public:
    static TAnswers& Get() {
        static TAnswers answers;
        return answers;
    }

    std::optional<bool> Find(const std::string& origin) const {
        auto it = answers_.find(origin);
        return it == answers_.end() ? std::nullopt : std::optional<bool>(it->second);
    }

    void Remember(const std::string& origin, bool allowed) {
        answers_[origin] = allowed;
        save();
    }

private:
    TAnswers() {
        WebKitNetworkSession* session = ProgramSession();
        const char* dir = webkit_network_session_is_ephemeral(session)
                              ? nullptr
                              : webkit_website_data_manager_get_base_data_directory(
                                    webkit_network_session_get_website_data_manager(session));
        if (dir)
            file_ = std::string(dir) + G_DIR_SEPARATOR_S + kAnswersFile;
        load();
        WebKitWebContext* context = ProgramContext();
        g_signal_connect(context, "initialize-notification-permissions",
                         G_CALLBACK(+[](WebKitWebContext* c, gpointer self) {
                             static_cast<TAnswers*>(self)->initialize(c);
                         }),
                         this);
        // For a web process that is already starting.
        initialize(context);
    }

    void load() {
        g_autoptr(GKeyFile) file = g_key_file_new();
        if (file_.empty() ||
            !g_key_file_load_from_file(file, file_.c_str(), G_KEY_FILE_NONE, nullptr))
            return;
        g_auto(GStrv) keys = g_key_file_get_keys(file, kGroup, nullptr, nullptr);
        for (char** key = keys; key && *key; ++key) {
            g_autofree char* value = g_key_file_get_string(file, kGroup, *key, nullptr);
            if (value && (g_str_equal(value, "allow") || g_str_equal(value, "deny")))
                answers_[*key] = g_str_equal(value, "allow");
        }
    }

    void save() const {
        if (file_.empty())
            return;
        g_autoptr(GKeyFile) file = g_key_file_new();
        for (const auto& [origin, allowed] : answers_)
            g_key_file_set_string(file, kGroup, origin.c_str(), allowed ? "allow" : "deny");
        gsize length = 0;
        g_autofree char* data = g_key_file_to_data(file, &length, nullptr);
        g_autofree char* dir = g_path_get_dirname(file_.c_str());
        g_mkdir_with_parents(dir, 0700);
        g_file_set_contents(file_.c_str(), data, static_cast<gssize>(length), nullptr);
    }

    void initialize(WebKitWebContext* context) const {
        GList* allowed = nullptr;
        GList* denied = nullptr;
        for (const auto& [origin, allow] : answers_) {
            if (WebKitSecurityOrigin* o = webkit_security_origin_new_for_uri(origin.c_str())) {
                GList*& list = allow ? allowed : denied;
                list = g_list_prepend(list, o);
            }
        }
        webkit_web_context_initialize_notification_permissions(context, allowed, denied);
        g_list_free_full(allowed, reinterpret_cast<GDestroyNotify>(webkit_security_origin_unref));
        g_list_free_full(denied, reinterpret_cast<GDestroyNotify>(webkit_security_origin_unref));
    }

    std::string file_;
    std::map<std::string, bool> answers_;
};

} // namespace

TNotificationAsk::TNotificationAsk(WebKitPermissionRequest* request, std::string origin,
                                   std::string host)
    : request_(GRef<WebKitPermissionRequest>::Share(request)), origin_(std::move(origin)),
      host_(std::move(host)) {}

TNotificationAsk::~TNotificationAsk() {
    Dismiss();
}

void TNotificationAsk::Answer(bool allowed) {
    if (!request_)
        return;
    TAnswers::Get().Remember(origin_, allowed);
    if (allowed)
        webkit_permission_request_allow(request_.get());
    else
        webkit_permission_request_deny(request_.get());
    request_.Reset();
}

void TNotificationAsk::Dismiss() {
    if (request_)
        webkit_permission_request_deny(request_.get());
    request_.Reset();
}

struct TPermissionSignals {
    static gboolean PermissionRequest(WebKitWebView*, WebKitPermissionRequest* request,
                                      gpointer self) {
        auto& p = *static_cast<TBrowserPermissions*>(self);
        if (!p.browser_.Guarded([&] { return p.permissionRequested(request); }))
            webkit_permission_request_deny(request);
        return TRUE;
    }
    static gboolean ShowNotification(WebKitWebView*, WebKitNotification* notification,
                                     gpointer self) {
        auto& p = *static_cast<TBrowserPermissions*>(self);
        return p.browser_.Guarded([&] { return p.showNotification(notification); });
    }
    static void NotificationClosed(WebKitNotification* notification, gpointer self) {
        auto& p = *static_cast<TBrowserPermissions*>(self);
        p.browser_.Guarded([&] { p.notificationClosed(notification); });
    }
    static void InputReported(WebKitUserContentManager*, JSCValue* message, gpointer self) {
        auto& p = *static_cast<TBrowserPermissions*>(self);
        if (!jsc_value_is_string(message))
            return;
        g_autofree char* origin = jsc_value_to_string(message);
        p.browser_.Guarded([&] { p.inputReported(origin ? origin : ""); });
    }
};

TBrowserPermissions::TBrowserPermissions(TBrowserControl& browser) : browser_(browser) {
    TAnswers::Get();
    WebKitWebView* view = browser_.WebView();
    TFrameChannel::AddScript(webkit_web_view_get_user_content_manager(view), kInputScript,
                             WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, kInputHandler,
                             G_CALLBACK(TPermissionSignals::InputReported), this);
    g_signal_connect(view, "permission-request", G_CALLBACK(TPermissionSignals::PermissionRequest),
                     this);
    g_signal_connect(view, "show-notification", G_CALLBACK(TPermissionSignals::ShowNotification),
                     this);
}

TBrowserPermissions::~TBrowserPermissions() {
    WebKitWebView* view = browser_.WebView();
    g_signal_handlers_disconnect_by_data(view, this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(view), this);
    for (auto& [id, notification] : shown_)
        g_signal_handlers_disconnect_by_data(notification.get(), this);
}

void TBrowserPermissions::inputReported(const std::string& origin) {
    const gint64 now = g_get_monotonic_time();
    while (!inputs_.empty() &&
           (inputs_.size() >= kInputs || now - inputs_.front().first > kInputWindow))
        inputs_.pop_front();
    inputs_.emplace_back(now, origin);
}

// The top-level document's origin when the user's recent inputs all went to
// documents of that origin; empty otherwise (a frame of another origin may be
// the one asking).
std::string TBrowserPermissions::askingOrigin() {
    const std::string top = OriginOf(browser_.LocationURL());
    const gint64 now = g_get_monotonic_time();
    bool recent = false;
    for (const auto& [when, origin] : inputs_) {
        if (now - when > kInputWindow)
            continue;
        if (origin != top)
            return {};
        recent = true;
    }
    return recent ? top : std::string();
}

bool TBrowserPermissions::permissionRequested(WebKitPermissionRequest* request) {
    if (!WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request))
        return false;
    const std::string origin = askingOrigin();
    const std::string host = HostOf(origin);
    if (origin.empty() || host.empty() || !MayAsk || !MayAsk(host) || !OnNotificationRequest)
        return false;
    auto ask = std::make_shared<TNotificationAsk>(request, origin, host);
    if (auto known = TAnswers::Get().Find(origin))
        ask->Answer(*known);
    else
        OnNotificationRequest(std::move(ask));
    return true;
}

bool TBrowserPermissions::showNotification(WebKitNotification* notification) {
    if (!OnShowNotification)
        return false;
    const uint64_t id = webkit_notification_get_id(notification);
    shown_.insert_or_assign(id, GRef<WebKitNotification>::Share(notification));
    g_signal_connect(notification, "closed", G_CALLBACK(TPermissionSignals::NotificationClosed),
                     this);
    const char* title = webkit_notification_get_title(notification);
    const char* body = webkit_notification_get_body(notification);
    OnShowNotification({id, title ? title : "", body ? body : ""});
    return true;
}

void TBrowserPermissions::notificationClosed(WebKitNotification* notification) {
    const uint64_t id = webkit_notification_get_id(notification);
    g_signal_handlers_disconnect_by_data(notification, this);
    shown_.erase(id);
    if (OnCloseNotification)
        OnCloseNotification(id);
}

void TBrowserPermissions::NotificationClicked(uint64_t id) {
    if (auto it = shown_.find(id); it != shown_.end())
        webkit_notification_clicked(it->second.get());
}

} // namespace orvalis::browser
