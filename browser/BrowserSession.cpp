#include "browser/BrowserSession.h"

#include "browser/GObjectRef.h"

#include <charconv>

namespace orvalis::browser {

namespace {

bool proxyApplied = false;

TBrowserProfile& ChosenProfile() {
    static TBrowserProfile profile = TBrowserProfile::Private();
    return profile;
}

// Server must be "host:port"; a bracketed IPv6 literal is accepted as host.
bool ValidServer(const std::string& server) {
    const auto colon = server.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == server.size())
        return false;
    const std::string host = server.substr(0, colon);
    if (host.find_first_of(" /?#@\t\r\n") != std::string::npos)
        return false;
    unsigned port = 0;
    const char* first = server.data() + colon + 1;
    const char* last = server.data() + server.size();
    auto [end, ec] = std::from_chars(first, last, port);
    return ec == std::errc() && end == last && port >= 1 && port <= 65535;
}

// The program shows one site in one window all day: the engine may keep what
// that needs (the document-browser cache model, no back/forward page cache
// beyond it) and is asked to give memory back once its processes grow past
// these limits, instead of caching in proportion to the machine's memory.
// Each web process starts releasing at a third of its limit, looked at every
// 30 s by default; with 384 MiB so looked at, the soak's web processes rose
// and fell between 354 and 626 MiB in total and kept rising. 256 MiB looked
// at every 10 s holds them level at about a third of what the engine keeps
// unasked.
constexpr guint WebProcessLimitMiB = 256;
constexpr guint NetworkProcessLimitMiB = 256;
constexpr double MemoryPollSeconds = 10;

GRef<WebKitMemoryPressureSettings, webkit_memory_pressure_settings_copy,
     webkit_memory_pressure_settings_free>
MemoryLimit(guint mebibytes) {
    auto settings = decltype(MemoryLimit(0))::Adopt(webkit_memory_pressure_settings_new());
    webkit_memory_pressure_settings_set_memory_limit(settings.get(), mebibytes);
    webkit_memory_pressure_settings_set_poll_interval(settings.get(), MemoryPollSeconds);
    return settings;
}

} // namespace

WebKitWebContext* ProgramContext() {
    // Lives as long as the process, like the session.
    static WebKitWebContext* context = [] {
        auto limit = MemoryLimit(WebProcessLimitMiB);
        auto* created = WEBKIT_WEB_CONTEXT(g_object_new(
            WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", limit.get(), nullptr));
        webkit_web_context_set_cache_model(created, WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
        return created;
    }();
    return context;
}

WebKitNetworkSession* ProgramSession() {
    // Lives as long as the process: pop-ups and late callbacks may still use it.
    static WebKitNetworkSession* session = [] {
        // Read when the network process starts, so set before the session exists.
        webkit_network_session_set_memory_pressure_settings(
            MemoryLimit(NetworkProcessLimitMiB).get());
        return ChosenProfile().NewSession();
    }();
    return session;
}

void UseProfile(const TBrowserProfile& profile) {
    ChosenProfile() = profile;
}

const TBrowserProfile& ProgramProfile() {
    return ChosenProfile();
}

bool TProxySettings::ApplyProxy(const std::string& /*UserAgent*/, const std::string& Server) {
    // The agent name only named the handle of the other platform's internet
    // options; the user agent proper is the browser's setting.
    if (!ValidServer(Server)) {
        proxyApplied = false;
        return false;
    }
    // The engine resolves a proxy's name again for every connection it opens,
    // and the firewall takes one connection per request: name this machine by
    // its address so a page of a hundred files pays no hundred lookups.
    const std::string host = Server.substr(0, Server.rfind(':'));
    const std::string uri = "http://" + (g_ascii_strcasecmp(host.c_str(), "localhost") == 0
                                             ? "127.0.0.1" + Server.substr(host.size())
                                             : Server);
    GRef<WebKitNetworkProxySettings, webkit_network_proxy_settings_copy,
         webkit_network_proxy_settings_free>
        settings =
            decltype(settings)::Adopt(webkit_network_proxy_settings_new(uri.c_str(), nullptr));
    webkit_network_session_set_proxy_settings(ProgramSession(), WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
                                              settings.get());
    proxyApplied = true;
    return true;
}

bool TProxySettings::ProxyApplied() {
    return proxyApplied;
}

} // namespace orvalis::browser
