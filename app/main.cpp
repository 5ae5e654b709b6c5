// Program entry: one program per user session, whose window a second launch
// brings forward; `--private` runs a program of its own that remembers
// nothing. Without a session bus every launch runs on its own.
#include "app/ProgramProfile.h"
#include "app/Unit1.h"
#include "app/WindowRenderer.h"

#include <algorithm>
#include <csignal>
#include <glib-unix.h>
#include <gtkmm.h>
#include <string_view>

int main(int argc, char** argv) {
    // Before the toolkit opens the display, which the graphics driver's cache
    // follows; the options proper are read below.
    const orvalis::app::TLibraryFiles libraryFiles(
        std::any_of(argv + 1, argv + argc,
                    [](const char* arg) { return std::string_view(arg) == "--private"; }));
    auto app = Gtk::Application::create("org.orvalis.Orvalis");
    Glib::set_application_name("Orvalis");
    app->add_main_option_entry(Gio::Application::OptionType::BOOL, "private", '\0',
                               "로그인 정보, 캐시와 창 상태를 저장하지 않고 실행합니다");
    // Arguments besides the options are collected to be refused.
    app->add_main_option_entry(Gio::Application::OptionType::STRING_VECTOR, G_OPTION_REMAINING);
    bool privateRun = false;
    app->signal_handle_local_options().connect(
        [&](const Glib::RefPtr<Glib::VariantDict>& options) {
            if (options->contains(G_OPTION_REMAINING)) {
                g_printerr("orvalis: 인수는 받지 않습니다 (--help 참고)\n");
                return 1;
            }
            privateRun = options->contains("private");
            // A private run shares nothing with the user's program, so it
            // neither hands over to it nor takes its place.
            if (privateRun) {
                app->set_flags(app->get_flags() | Gio::Application::Flags::NON_UNIQUE);
            }
            return -1;
        },
        false);
    std::unique_ptr<orvalis::app::TProgramProfile> profile;
    std::unique_ptr<orvalis::app::TMainForm> MainForm;
    app->signal_activate().connect([&] {
        if (MainForm) {
            MainForm->present();
            return;
        }
        orvalis::app::ChooseWindowRenderer();
        Gtk::IconTheme::get_for_display(Gdk::Display::get_default())
            ->add_resource_path("/org/orvalis/Orvalis/icons");
        Gtk::Window::set_default_icon_name("org.orvalis.Orvalis");
        profile = std::make_unique<orvalis::app::TProgramProfile>(privateRun);
        MainForm = std::make_unique<orvalis::app::TMainForm>(*profile);
        app->add_window(*MainForm);
        MainForm->present();
        // Asked to end (at logout, say), the window closes as by the user,
        // so what it remembers is kept.
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
            g_unix_signal_add(
                signal,
                +[](gpointer window) -> gboolean {
                    static_cast<Gtk::Window*>(window)->close();
                    return G_SOURCE_CONTINUE;
                },
                MainForm.get());
        }
    });
    return app->run(argc, argv);
}
