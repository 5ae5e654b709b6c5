#include "browser/BrowserProfile.h"

#include <cstdlib>
#include <glib/gstdio.h>
#include <memory>
#include <unistd.h>

namespace orvalis::browser {

namespace {

constexpr const char* ProgramFolder = "orvalis";

} // namespace

// A profile holds the user's logins.
bool OwnDirectory(const std::string& path) {
    if (g_mkdir_with_parents(path.c_str(), 0700) != 0)
        return false;
    GStatBuf info;
    if (g_stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if ((info.st_mode & 077) != 0 && info.st_uid == getuid())
        g_chmod(path.c_str(), 0700);
    return access(path.c_str(), R_OK | W_OK | X_OK) == 0;
}

std::string UserBaseDirectory(const char* variable, const char* underHome) {
    const char* value = std::getenv(variable);
    if (value && g_path_is_absolute(value))
        return value;
    return std::string(g_get_home_dir()) + "/" + underHome;
}

TBrowserProfile TBrowserProfile::ForUser() {
    return {UserBaseDirectory("XDG_DATA_HOME", ".local/share") + "/" + ProgramFolder,
            UserBaseDirectory("XDG_CACHE_HOME", ".cache") + "/" + ProgramFolder};
}

TBrowserProfile::TBrowserProfile(std::string dataDirectory, std::string cacheDirectory)
    : dataDirectory_(std::move(dataDirectory)), cacheDirectory_(std::move(cacheDirectory)) {}

std::string TBrowserProfile::Prepare() const {
    for (const std::string* directory : {&dataDirectory_, &cacheDirectory_})
        if (!directory->empty() && !OwnDirectory(*directory))
            return *directory;
    return {};
}

WebKitNetworkSession* TBrowserProfile::NewSession() const {
    if (Ephemeral())
        return webkit_network_session_new_ephemeral();
    WebKitNetworkSession* session =
        webkit_network_session_new(dataDirectory_.c_str(), cacheDirectory_.c_str());
    // Without a store of their own the cookies would last only as long as
    // the network process.
    g_autofree char* cookies = g_build_filename(dataDirectory_.c_str(), "cookies.sqlite", nullptr);
    webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(session),
                                                 cookies, WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return session;
}

void ClearWebsiteData(WebKitNetworkSession* session, std::function<void(std::string)> done) {
    using TDone = std::function<void(std::string)>;
    webkit_website_data_manager_clear(
        webkit_network_session_get_website_data_manager(session), WEBKIT_WEBSITE_DATA_ALL, 0,
        nullptr,
        +[](GObject* manager, GAsyncResult* result, gpointer data) {
            std::unique_ptr<TDone> finished(static_cast<TDone*>(data));
            GError* error = nullptr;
            std::string reason;
            if (!webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(manager),
                                                          result, &error)) {
                reason = error ? error->message : "?";
                g_clear_error(&error);
            }
            (*finished)(reason);
        },
        new TDone(std::move(done)));
}

} // namespace orvalis::browser
