#include "app/DesktopStyle.h"

namespace orvalis::app {

namespace {

constexpr const char* Namespace = "org.freedesktop.appearance";
constexpr const char* Key = "color-scheme";

} // namespace

bool PrefersDark(TColorScheme scheme, bool toolkitPrefersDark) {
    switch (scheme) {
    case TColorScheme::PreferDark:
        return true;
    case TColorScheme::PreferLight:
        return false;
    case TColorScheme::NoPreference:
        break;
    }
    return toolkitPrefersDark;
}

TDesktopStyle::TDesktopStyle()
    : settings_(Gtk::Settings::get_default()), cancellable_(Gio::Cancellable::create()) {
    if (!settings_)
        return;
    toolkitPrefersDark_ = settings_->property_gtk_application_prefer_dark_theme().get_value();
    // Asked without waiting: the window does not wait for a desktop service.
    Gio::DBus::Proxy::create_for_bus(
        Gio::DBus::BusType::SESSION, "org.freedesktop.portal.Desktop",
        "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
        sigc::mem_fun(*this, &TDesktopStyle::portalReady), cancellable_, {},
        Gio::DBus::ProxyFlags::DO_NOT_LOAD_PROPERTIES);
}

TDesktopStyle::~TDesktopStyle() {
    cancellable_->cancel();
}

void TDesktopStyle::portalReady(const Glib::RefPtr<Gio::AsyncResult>& result) {
    try {
        portal_ = Gio::DBus::Proxy::create_for_bus_finish(result);
    } catch (const Glib::Error&) {
        return; // no session bus: the toolkit's setting stays
    }
    portal_->signal_signal().connect([this](const Glib::ustring&, const Glib::ustring& signal,
                                            const Glib::VariantContainerBase& parameters) {
        settingChanged(signal, parameters);
    });
    auto parameters =
        Glib::VariantContainerBase::create_tuple({Glib::Variant<Glib::ustring>::create(Namespace),
                                                  Glib::Variant<Glib::ustring>::create(Key)});
    portal_->call("Read", sigc::mem_fun(*this, &TDesktopStyle::schemeRead), cancellable_,
                  parameters);
}

void TDesktopStyle::schemeRead(const Glib::RefPtr<Gio::AsyncResult>& result) {
    try {
        Glib::VariantContainerBase reply = portal_->call_finish(result);
        Glib::VariantBase value;
        reply.get_child(value, 0);
        apply(value);
    } catch (const Glib::Error&) {
        // No portal, or one without the setting: the toolkit's setting stays.
    }
}

void TDesktopStyle::settingChanged(const Glib::ustring& signal,
                                   const Glib::VariantContainerBase& parameters) {
    if (signal != "SettingChanged" || parameters.get_n_children() != 3 ||
        !parameters.get_type().equal(Glib::VariantType("(ssv)")))
        return;
    Glib::Variant<Glib::ustring> space, key;
    parameters.get_child(space, 0);
    parameters.get_child(key, 1);
    if (space.get() != Namespace || key.get() != Key)
        return;
    Glib::VariantBase value;
    parameters.get_child(value, 2);
    apply(value);
}

void TDesktopStyle::apply(const Glib::VariantBase& value) {
    // The value may come boxed in variants (Read boxes it once more).
    GVariant* v = g_variant_ref(const_cast<GVariant*>(value.gobj()));
    while (v && g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(v);
        g_variant_unref(v);
        v = inner;
    }
    if (!v)
        return;
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) {
        const auto scheme = static_cast<TColorScheme>(g_variant_get_uint32(v));
        settings_->property_gtk_application_prefer_dark_theme().set_value(
            PrefersDark(scheme, toolkitPrefersDark_));
    }
    g_variant_unref(v);
}

} // namespace orvalis::app
