#include "app/PageNotifications.h"

namespace orvalis::app {

namespace {

constexpr const char* Action = "page-notification";

std::string NotificationId(uint64_t id) {
    return "page-" + std::to_string(id);
}

} // namespace

TPageNotifications::TPageNotifications(Gtk::ApplicationWindow& window,
                                       browser::TBrowserHost& browser, TMessageBar& bar,
                                       std::function<bool(const std::string& host)> mayAsk)
    : window_(window), bar_(bar), permissions_(browser) {
    permissions_.MayAsk = std::move(mayAsk);
    permissions_.OnNotificationRequest = [this](std::shared_ptr<browser::TNotificationAsk> a) {
        ask(a);
    };
    permissions_.OnShowNotification = [this](const browser::TPageNotification& n) { show(n); };
    permissions_.OnCloseNotification = [this](uint64_t id) { withdraw(id); };
}

TPageNotifications::~TPageNotifications() {
    if (application_)
        application_->remove_action(Action);
}

void TPageNotifications::ask(const std::shared_ptr<browser::TNotificationAsk>& ask) {
    bar_.Show(ask->Host() + "에서 알림을 보내려고 합니다",
              {{"허용", [ask] { ask->Answer(true); }}, {"거부", [ask] { ask->Answer(false); }}},
              [ask] { ask->Dismiss(); });
}

void TPageNotifications::show(const browser::TPageNotification& notification) {
    auto application = window_.get_application();
    // Without a session bus there is nobody to show it to.
    if (!application || !application->get_dbus_connection())
        return;
    if (!application_) {
        application_ = application;
        application_->add_action_with_parameter(
            Action, Glib::VARIANT_TYPE_UINT64,
            [this](const Glib::VariantBase& id) { activated(id); });
    }
    auto desktop = Gio::Notification::create(notification.Title);
    desktop->set_body(notification.Body);
    desktop->set_default_action_variant(std::string("app.") + Action,
                                        Glib::Variant<guint64>::create(notification.Id));
    application->send_notification(NotificationId(notification.Id), desktop);
}

void TPageNotifications::withdraw(uint64_t id) {
    if (application_)
        application_->withdraw_notification(NotificationId(id));
}

void TPageNotifications::activated(const Glib::VariantBase& id) {
    window_.present();
    if (id.is_of_type(Glib::VARIANT_TYPE_UINT64))
        permissions_.NotificationClicked(
            Glib::VariantBase::cast_dynamic<Glib::Variant<guint64>>(id).get());
}

} // namespace orvalis::app
