// Program entry: one independent window per launch; no arguments are read.
#include "app/Unit1.h"

#include <gtkmm.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The window runs all day, and the toolkit's drawing frees much of what it
// allocates: glibc keeps freed pages inside its heap resident (it returns
// only the heap's top), about 25 MiB after half an hour of browsing. Once a
// minute they are handed back.
constexpr unsigned HeapTrimSeconds = 60;

void TrimHeapNowAndThen() {
#ifdef __GLIBC__
    Glib::signal_timeout().connect_seconds(
        [] {
            malloc_trim(0);
            return true;
        },
        HeapTrimSeconds);
#endif
}

} // namespace

int main(int, char** argv) {
    auto app = Gtk::Application::create("org.orvalis.Orvalis", Gio::Application::Flags::NON_UNIQUE);
    Glib::set_application_name("Orvalis");
    std::unique_ptr<orvalis::app::TMainForm> MainForm;
    app->signal_activate().connect([&] {
        Gtk::IconTheme::get_for_display(Gdk::Display::get_default())
            ->add_resource_path("/org/orvalis/Orvalis/icons");
        Gtk::Window::set_default_icon_name("org.orvalis.Orvalis");
        MainForm = std::make_unique<orvalis::app::TMainForm>();
        app->add_window(*MainForm);
        MainForm->present();
        TrimHeapNowAndThen();
    });
    return app->run(1, argv);
}
