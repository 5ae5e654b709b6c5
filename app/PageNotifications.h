#pragma once

#include "app/MessageBar.h"
#include "browser/BrowserHost.h"
#include "browser/BrowserPermissions.h"

#include <functional>
#include <gtkmm.h>
#include <string>

namespace orvalis::app {

// The page's notifications: a page of a host that may ask (mayAsk) asks on the
// message bar; what an allowed page shows goes to the desktop through the
// application, and activating it brings the window forward and tells the page.
class TPageNotifications {
public:
    TPageNotifications(Gtk::ApplicationWindow& window, browser::TBrowserHost& browser,
                       TMessageBar& bar, std::function<bool(const std::string& host)> mayAsk);
    ~TPageNotifications();

private:
    void ask(const std::shared_ptr<browser::TNotificationAsk>& ask);
    void show(const browser::TPageNotification& notification);
    void withdraw(uint64_t id);
    void activated(const Glib::VariantBase& id);

    Gtk::ApplicationWindow& window_;
    TMessageBar& bar_;
    browser::TBrowserPermissions permissions_;
    Glib::RefPtr<Gtk::Application> application_; // once an action is registered on it
};

} // namespace orvalis::app
