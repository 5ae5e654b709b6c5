// Program entry: one independent window per launch; no arguments are read.
#include "app/Unit1.h"
#include "app/WindowRenderer.h"

#include <gtkmm.h>

int main(int, char** argv) {
    auto app = Gtk::Application::create("org.orvalis.Orvalis", Gio::Application::Flags::NON_UNIQUE);
    Glib::set_application_name("Orvalis");
    std::unique_ptr<orvalis::app::TMainForm> MainForm;
    app->signal_activate().connect([&] {
        orvalis::app::ChooseWindowRenderer();
        Gtk::IconTheme::get_for_display(Gdk::Display::get_default())
            ->add_resource_path("/org/orvalis/Orvalis/icons");
        Gtk::Window::set_default_icon_name("org.orvalis.Orvalis");
        MainForm = std::make_unique<orvalis::app::TMainForm>();
        app->add_window(*MainForm);
        MainForm->present();
    });
    return app->run(1, argv);
}
