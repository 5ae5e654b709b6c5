#pragma once

#include <functional>
#include <gtkmm.h>
#include <string>
#include <vector>

namespace orvalis::app {

// A bar above the page that shows one message at a time: a text, the
// message's buttons and a close button. A new message replaces the one shown,
// which counts as closed.
class TMessageBar : public Gtk::Box {
public:
    struct TAction {
        std::string Text;
        std::function<void()> Run;
    };

    TMessageBar();

    // Shows the message; a button runs its action and closes the bar.
    // dismissed runs when the message goes without one of its buttons.
    void Show(const std::string& text, std::vector<TAction> actions,
              std::function<void()> dismissed = {});
    // Takes the message away, as its close button does.
    void Close();

private:
    Gtk::Label text_;
    Gtk::Box buttons_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Button close_;
    std::function<void()> dismissed_;
};

} // namespace orvalis::app
