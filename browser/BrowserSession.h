#pragma once

#include "browser/BrowserProfile.h"

#include <cstdint>
#include <string>
#include <webkit/webkit.h>

namespace orvalis::browser {

// The program's one network session, shared by every browser and pop-up
// window of the process, over the program's own profile: nothing of the
// user's other browsers is read or changed.
WebKitNetworkSession* ProgramSession();
// Chooses that profile; only before the first ProgramSession(). Without a
// choice the session is private and writes nothing.
void UseProfile(const TBrowserProfile& profile);
const TBrowserProfile& ProgramProfile();
// The program's one web context, with the engine's cache and memory limits
// chosen for one site shown all day; pop-ups share it through their opener.
WebKitWebContext* ProgramContext();

// TProxySettings: the proxy that the browser's traffic goes through.
struct TProxySettings {
    int32_t Port = 80;
    std::string Address;
    std::string UserName;
    std::string Password;
    bool AutoLoadProxy = false;
    std::string UserAgent;

    // Sends every request of the process's browsers to Server ("host:port"),
    // this machine's addresses included: no host skips the proxy. A second
    // call replaces the first; the setting stays to the end of the process.
    // False when Server is not a host name and a decimal port from 1 to 65535.
    static bool ApplyProxy(const std::string& UserAgent, const std::string& Server);
    // The result of the last ApplyProxy.
    static bool ProxyApplied();
};

} // namespace orvalis::browser
