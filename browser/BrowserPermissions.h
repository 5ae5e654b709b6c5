#pragma once

#include "browser/GObjectRef.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <webkit/webkit.h>

namespace orvalis::browser {

class TBrowserControl;

// A page's request to send notifications, answered once. Dropped unanswered,
// it is refused for this time only.
class TNotificationAsk {
public:
    TNotificationAsk(WebKitPermissionRequest* request, std::string origin, std::string host);
    ~TNotificationAsk();
    TNotificationAsk(const TNotificationAsk&) = delete;
    TNotificationAsk& operator=(const TNotificationAsk&) = delete;

    const std::string& Origin() const { return origin_; }
    const std::string& Host() const { return host_; }
    // Answers, and remembers the answer for the origin in the profile.
    void Answer(bool allowed);
    // Refuses this once, remembering nothing.
    void Dismiss();

private:
    GRef<WebKitPermissionRequest> request_;
    std::string origin_;
    std::string host_;
};

// A notification that an allowed page shows.
struct TPageNotification {
    uint64_t Id = 0;
    std::string Title;
    std::string Body;
};

// The page's permission requests and notifications. Only the top-level
// document may ask to send notifications, and only when the user's latest
// input went to a document of its origin (the engine asks only at the user's
// gesture); every other request (a frame of another origin, location, camera,
// microphone, media keys, clipboard, pointer lock, website data, device
// information, anything else) is refused without asking. Answers are
// remembered per origin and given to every new web process of the program.
class TBrowserPermissions {
public:
    explicit TBrowserPermissions(TBrowserControl& browser);
    ~TBrowserPermissions();
    TBrowserPermissions(const TBrowserPermissions&) = delete;
    TBrowserPermissions& operator=(const TBrowserPermissions&) = delete;

    // Whether pages of a host may ask at all; nobody may while unassigned.
    std::function<bool(const std::string& host)> MayAsk;
    // A page that may ask asks; answered through the request, now or later.
    std::function<void(std::shared_ptr<TNotificationAsk> ask)> OnNotificationRequest;
    std::function<void(const TPageNotification& notification)> OnShowNotification;
    // The page closed a notification it showed.
    std::function<void(uint64_t id)> OnCloseNotification;

    // The user activated a shown notification: the page hears of it.
    void NotificationClicked(uint64_t id);

private:
    friend struct TPermissionSignals;
    bool permissionRequested(WebKitPermissionRequest* request);
    bool showNotification(WebKitNotification* notification);
    void notificationClosed(WebKitNotification* notification);
    void inputReported(const std::string& origin);
    std::string askingOrigin();

    TBrowserControl& browser_;
    // Origins of the documents that took the user's latest input, with when.
    std::deque<std::pair<gint64, std::string>> inputs_;
    std::map<uint64_t, GRef<WebKitNotification>> shown_;
};

} // namespace orvalis::browser
