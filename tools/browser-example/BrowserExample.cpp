// Opens the browser host in a window, for trying it by hand:
//   browser-example URL [PROXY-HOST:PORT]
// Events are printed to standard output as they arrive.

#include "browser/BrowserHost.h"

#include <gtkmm.h>
#include <iostream>
#include <memory>

using namespace orvalis::browser;

namespace {

class ExampleWindow : public Gtk::ApplicationWindow {
public:
    ExampleWindow(const std::string& url, const std::string& proxy) {
        set_title("Browser host example");
        set_default_size(1000, 750);
        auto* browser = Gtk::make_managed<TBrowserHost>();
        set_child(*browser);
        browser->SetSilent(false);
        browser->SetUserAgentMode(TUserAgentMode::uaInternal);
        browser->SetUserAgentText("Mozilla/4.0 (Orvalis example; +orvalis@example.org)");
        if (!proxy.empty() && !TProxySettings::ApplyProxy(browser->UserAgent(), proxy))
            std::cerr << "not a proxy address (host:port): " << proxy << "\n";

        auto where = [browser](const TBrowserDispatch& d) {
            return d == browser->BrowserDispatch() ? "top  " : "frame";
        };
        browser->OnBeforeNavigate2 = [where](TBrowserControl&, const TBrowserDispatch& pDisp,
                                             std::string& URL, int32_t&, std::string&, std::string&,
                                             std::string&, bool&) {
            std::cout << "before    " << where(pDisp) << " " << URL << std::endl;
        };
        browser->OnNavigateComplete2 = [where](TBrowserControl&, const TBrowserDispatch& pDisp,
                                               std::string& URL) {
            std::cout << "navigated " << where(pDisp) << " " << URL << std::endl;
        };
        browser->OnDocumentComplete = [where](TBrowserControl&, const TBrowserDispatch& pDisp,
                                              std::string& URL) {
            std::cout << "complete  " << where(pDisp) << " " << URL << std::endl;
        };
        browser->OnTitleChange = [this](TBrowserControl&, const std::string& Text) {
            set_title(Text);
        };
        browser->OnStatusTextChange = [](TBrowserControl&, const std::string& Text) {
            std::cout << "status    " << Text << std::endl;
        };
        browser->OnCommandStateChange = [](TBrowserControl&, int32_t Command, bool Enable) {
            if (Command != -1)
                std::cout << "command   " << Command << (Enable ? " on" : " off") << std::endl;
        };
        browser->OnEvaluateNewWindow =
            [](TCustomBrowserHost&, const std::string& pszUrl, const std::string&,
               const std::string&, const std::string&, bool, uint32_t dwFlags, uint32_t, int32_t&) {
                std::cout << "new window " << pszUrl << " flags " << dwFlags << std::endl;
            };
        browser->OnMaskedCtrlChar = [](TCustomBrowserHost&, char MaskedChar) {
            std::cout << "masked    Ctrl+" << MaskedChar << std::endl;
        };
        browser->Navigate(url);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: " << argv[0] << " URL [PROXY-HOST:PORT]\n";
        return 2;
    }
    const std::string url = argv[1];
    const std::string proxy = argc == 3 ? argv[2] : "";
    auto app = Gtk::Application::create("org.example.orvalis.browser-example",
                                        Gio::Application::Flags::NON_UNIQUE);
    std::unique_ptr<ExampleWindow> window;
    app->signal_activate().connect([&] {
        window = std::make_unique<ExampleWindow>(url, proxy);
        app->add_window(*window);
        window->present();
    });
    // GTK must not read the URL and proxy as its own arguments.
    return app->run(1, argv);
}
