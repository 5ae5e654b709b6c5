#include "browser/BrowserOptions.h"

namespace orvalis::browser {

bool IsMaskedCtrlKeyIn(const std::string& DisableCtrlShortcuts, const TKeyMessage& message) {
    return !DisableCtrlShortcuts.empty() && message.KeyDown && message.Ctrl && !message.Shift &&
           message.Key != 0 && DisableCtrlShortcuts.find(message.Key) != std::string::npos;
}

} // namespace orvalis::browser
