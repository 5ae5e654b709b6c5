#pragma once

#include <cstdint>
#include <giomm.h>
#include <gtkmm.h>

namespace orvalis::app {

// The desktop's colour scheme as the settings portal gives it
// (org.freedesktop.appearance color-scheme).
enum class TColorScheme : uint32_t { NoPreference = 0, PreferDark = 1, PreferLight = 2 };

// Whether the window is to be dark: the portal's choice where it makes one,
// else the toolkit's own setting (the desktop's settings file or XSETTINGS).
bool PrefersDark(TColorScheme scheme, bool toolkitPrefersDark);

// Keeps the toolkit's dark-style setting in line with the desktop's colour
// scheme, also when it changes while the program runs. The window's theme
// and the pages' prefers-color-scheme both follow that setting. Without a
// settings portal the toolkit's setting is left as the desktop made it.
class TDesktopStyle : public sigc::trackable {
public:
    TDesktopStyle();
    ~TDesktopStyle();
    TDesktopStyle(const TDesktopStyle&) = delete;
    TDesktopStyle& operator=(const TDesktopStyle&) = delete;

private:
    void portalReady(const Glib::RefPtr<Gio::AsyncResult>& result);
    void schemeRead(const Glib::RefPtr<Gio::AsyncResult>& result);
    void settingChanged(const Glib::ustring& signal, const Glib::VariantContainerBase& parameters);
    void apply(const Glib::VariantBase& value);

    Glib::RefPtr<Gtk::Settings> settings_;
    bool toolkitPrefersDark_ = false;
    Glib::RefPtr<Gio::Cancellable> cancellable_;
    Glib::RefPtr<Gio::DBus::Proxy> portal_;
};

} // namespace orvalis::app
