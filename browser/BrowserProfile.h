#pragma once

#include <functional>
#include <string>
#include <webkit/webkit.h>

namespace orvalis::browser {

// A base directory of the user's (XDG_DATA_HOME, XDG_CACHE_HOME,
// XDG_CONFIG_HOME): the variable's value when it is an absolute path, else
// the home folder followed by underHome. Read anew at each call: GLib keeps
// its first answer for the life of the process.
std::string UserBaseDirectory(const char* variable, const char* underHome);

// Creates a directory of the user's alone (mode 0700) where missing, and
// takes away others' access to an existing one of the user's; true when the
// program can read and write there.
bool OwnDirectory(const std::string& path);

// Where the engine keeps what it remembers of the user (cookies, local
// storage, IndexedDB, the HTTP cache), or nowhere: a private profile keeps
// everything in memory and writes nothing.
class TBrowserProfile {
public:
    // The user's own: $XDG_DATA_HOME/orvalis and $XDG_CACHE_HOME/orvalis.
    static TBrowserProfile ForUser();
    static TBrowserProfile Private() { return {}; }
    TBrowserProfile(std::string dataDirectory, std::string cacheDirectory);

    bool Ephemeral() const { return dataDirectory_.empty(); }
    const std::string& DataDirectory() const { return dataDirectory_; }
    const std::string& CacheDirectory() const { return cacheDirectory_; }

    // Creates the directories (mode 0700) where missing. Empty when the
    // profile can be used; otherwise the directory that cannot.
    std::string Prepare() const;
    // A network session of its own over this profile (a new reference).
    WebKitNetworkSession* NewSession() const;

private:
    TBrowserProfile() = default;

    std::string dataDirectory_;
    std::string cacheDirectory_;
};

// Forgets everything the session remembers: cookies, storage and caches.
// done gets an empty text, or the engine's reason, on the UI thread.
void ClearWebsiteData(WebKitNetworkSession* session, std::function<void(std::string)> done);

} // namespace orvalis::browser
