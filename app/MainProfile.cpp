// What the window remembers of its user: the profile's notes at start, the
// window as the user left it, the page's zoom, and forgetting it all.
#include "app/Unit1.h"

namespace orvalis::app {

void TMainForm::AddProfileActions() {
    zoom_ = std::make_unique<TPageZoom>(Browser->WebView(), display_);
    add_action("zoom-in", [this] { zoom_->Step(1); });
    add_action("zoom-out", [this] { zoom_->Step(-1); });
    add_action("zoom-reset", [this] { zoom_->Step(0); });
    add_action("clear-data", [this] {
        clearData_.Ask(*this, std::string(AppCaption),
                       [this](const std::string& line) { display_.WriteLog(line, true); });
    });

    // Ctrl+wheel over the page zooms it instead of scrolling.
    auto wheel = Gtk::EventControllerScroll::create();
    wheel->set_flags(Gtk::EventControllerScroll::Flags::VERTICAL);
    wheel->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    wheel->signal_scroll().connect(
        [this, wheel = wheel.get()](double, double dy) {
            if ((wheel->get_current_event_state() & Gdk::ModifierType::CONTROL_MASK) !=
                Gdk::ModifierType::CONTROL_MASK) {
                return false;
            }
            zoom_->Wheel(dy);
            return true;
        },
        false);
    Panel_Browser.add_controller(wheel);

    // Hidden, the log panel no longer tells its height: it is kept from before,
    // and given back when the panel shows again.
    Panel_Log.property_visible().signal_changed().connect([this] {
        if (Panel_Log.get_visible()) {
            SizeLogPanel();
        } else if (Panel_Log.get_height() > 0) {
            windowState_.LogHeight = Panel_Log.get_height();
        }
    });
}

void TMainForm::RestoreWindowState() {
    for (const std::string& note : profile_.Notes()) {
        display_.WriteLog(note, true);
    }
    if (profile_.PrivateRun()) {
        AddressBar.OnUpdateRegistry = [](const std::string&, bool& Cancel) { Cancel = true; };
    }
    windowState_ = profile_.WindowState();
    int width = windowState_.Width;
    int height = windowState_.Height;
    // Never larger than the screen it opens on (the first, before it is shown).
    GListModel* monitors = gdk_display_get_monitors(get_display()->gobj());
    if (auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, 0))) {
        GdkRectangle screen;
        gdk_monitor_get_geometry(monitor, &screen);
        g_object_unref(monitor);
        width = std::max(WindowMinSide, std::min(width, screen.width));
        height = std::max(WindowMinSide, std::min(height, screen.height));
    }
    set_default_size(width, height);
    if (windowState_.Maximized) {
        maximize();
    }
    if (windowState_.FullScreen) {
        fullscreen();
    }
    if (!windowState_.LogVisible) {
        Action_LogExecute();
    }
    zoom_->Restore(windowState_.Zoom);
    SizeLogPanel();
}

// The log panel's height, once laid out: the splitter moved until it has it.
void TMainForm::SizeLogPanel() {
    Splitter_Log.add_tick_callback([this, tries = 0](const Glib::RefPtr<Gdk::FrameClock>&) mutable {
        if (!Panel_Log.get_visible()) {
            return false;
        }
        if (Panel_Log.get_height() <= 0) {
            return true;
        }
        const int off = Panel_Log.get_height() - windowState_.LogHeight;
        if (off == 0 || ++tries > 10) {
            return false;
        }
        Splitter_Log.set_position(Splitter_Log.get_position() + off);
        return true;
    });
}

void TMainForm::SaveWindowState() {
    TWindowState state = windowState_;
    state.Maximized = is_maximized();
    state.FullScreen = is_fullscreen();
    if (!state.Maximized && !state.FullScreen && get_width() > 0 && get_height() > 0) {
        state.Width = get_width();
        state.Height = get_height();
    } else {
        // The size it comes back to when no longer maximized.
        int width = 0;
        int height = 0;
        get_default_size(width, height);
        if (width > 0 && height > 0) {
            state.Width = width;
            state.Height = height;
        }
    }
    state.LogVisible = Panel_Log.get_visible();
    if (state.LogVisible && Panel_Log.get_height() > 0) {
        state.LogHeight = Panel_Log.get_height();
    }
    state.Zoom = zoom_->Level();
    profile_.SaveWindowState(state);
}

} // namespace orvalis::app
