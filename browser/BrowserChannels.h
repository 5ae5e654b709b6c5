#pragma once

#include <webkit/webkit.h>

namespace orvalis::browser {

// Keeps a web view to what the program's HTTP proxy carries and to its own
// windows: switches off the engine's channels that would leave without the
// proxy (peer connections, capture devices, WebTransport, name prefetching)
// and the inspector, takes the items that open other windows out of its
// context menu, and lets no dropped link or file be loaded.
void HoldOffChannels(WebKitWebView* view);

} // namespace orvalis::browser
