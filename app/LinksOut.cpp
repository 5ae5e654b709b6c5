#include "app/LinksOut.h"

#include <gio/gio.h>

namespace orvalis::app {

namespace {

struct TLaunch {
    std::weak_ptr<bool> Alive;
    TMessageBar* Bar;
};

} // namespace

TLinksOut::TLinksOut(Gtk::Window& window, TMessageBar& bar) : window_(window), bar_(bar) {}

bool TLinksOut::MayOpenOutside(const std::string& url) {
    g_autofree char* scheme = g_uri_parse_scheme(url.c_str());
    if (!scheme || !g_uri_is_valid(url.c_str(), G_URI_FLAGS_NONE, nullptr))
        return false;
    return g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0 ||
           g_ascii_strcasecmp(scheme, "mailto") == 0;
}

void TLinksOut::Offer(const std::string& url) {
    if (!MayOpenOutside(url))
        return;
    bar_.Show(url, {{"기본 브라우저에서 열기", [this, url] { openOutside(url); }}});
}

void TLinksOut::openOutside(const std::string& url) {
    GdkAppLaunchContext* context =
        gdk_display_get_app_launch_context(window_.get_display()->gobj());
    g_app_info_launch_default_for_uri_async(
        url.c_str(), G_APP_LAUNCH_CONTEXT(context), nullptr,
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<TLaunch> launch(static_cast<TLaunch*>(data));
            GError* error = nullptr;
            if (g_app_info_launch_default_for_uri_finish(result, &error))
                return;
            g_error_free(error);
            if (!launch->Alive.expired())
                launch->Bar->Show("이 주소를 열 프로그램을 찾지 못했습니다.", {});
        },
        new TLaunch{alive_, &bar_});
    g_object_unref(context);
}

} // namespace orvalis::app
