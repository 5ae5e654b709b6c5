#include "browser/BrowserChannels.h"

#include <gtk/gtk.h>
#include <string_view>

namespace orvalis::browser {

namespace {

// Features of the engine that are not settings of their own. WebTransport
// speaks QUIC over UDP; a name prefetch asks the name servers directly; screen
// capture is a capture device like the camera.
constexpr std::string_view kFeaturesOff[] = {"WebTransport", "LinkDNSPrefetch", "ScreenCapture"};

void SwitchOffFeatures(WebKitSettings* settings) {
    WebKitFeatureList* features = webkit_settings_get_all_features();
    for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
        WebKitFeature* feature = webkit_feature_list_get(features, i);
        for (std::string_view id : kFeaturesOff)
            if (id == webkit_feature_get_identifier(feature))
                webkit_settings_set_feature_enabled(settings, feature, FALSE);
    }
    webkit_feature_list_unref(features);
}

bool OpensAnotherWindow(WebKitContextMenuAction action) {
    switch (action) {
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT:
        return true;
    default:
        return false;
    }
}

gboolean ContextMenu(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer) {
    for (GList* l = webkit_context_menu_get_items(menu); l;) {
        auto* item = static_cast<WebKitContextMenuItem*>(l->data);
        l = l->next;
        if (OpensAnotherWindow(webkit_context_menu_item_get_stock_action(item)))
            webkit_context_menu_remove(menu, item);
    }
    return FALSE;
}

// The engine loads a link or file dropped anywhere but into an editable
// field; text stays droppable. Looked at before the engine's own target.
void RefuseDroppedAddresses(WebKitWebView* view) {
    const char* addresses[] = {"text/uri-list", "_NETSCAPE_URL", "text/x-moz-url",
                               "application/vnd.portal.files",
                               "application/vnd.portal.filetransfer"};
    GtkDropTargetAsync* target = gtk_drop_target_async_new(
        gdk_content_formats_new(addresses, G_N_ELEMENTS(addresses)),
        static_cast<GdkDragAction>(GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK));
    auto noAction = +[](GtkDropTargetAsync*, GdkDrop*, double, double, gpointer) {
        return static_cast<GdkDragAction>(0);
    };
    g_signal_connect(target, "drag-enter", G_CALLBACK(noAction), nullptr);
    g_signal_connect(target, "drag-motion", G_CALLBACK(noAction), nullptr);
    g_signal_connect(target, "drop",
                     G_CALLBACK(+[](GtkDropTargetAsync*, GdkDrop* drop, double, double, gpointer) {
                         gdk_drop_finish(drop, static_cast<GdkDragAction>(0));
                         return TRUE;
                     }),
                     nullptr);
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(target), GTK_PHASE_CAPTURE);
    gtk_widget_add_controller(GTK_WIDGET(view), GTK_EVENT_CONTROLLER(target));
}

} // namespace

void HoldOffChannels(WebKitWebView* view) {
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    webkit_settings_set_enable_webrtc(settings, FALSE);
    webkit_settings_set_enable_media_stream(settings, FALSE);
    webkit_settings_set_enable_mock_capture_devices(settings, FALSE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    SwitchOffFeatures(settings);
    g_signal_connect(view, "context-menu", G_CALLBACK(ContextMenu), nullptr);
    RefuseDroppedAddresses(view);
}

} // namespace orvalis::browser
