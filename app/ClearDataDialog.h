#pragma once

#include <functional>
#include <gtkmm.h>
#include <memory>
#include <string>

namespace orvalis::app {

// Asks whether to forget the logins and caches of the program's profile and,
// on 지우기, forgets them. One question at a time; asking again while it is
// shown brings it forward.
class TClearDataDialog {
public:
    // done receives the log line that tells the outcome.
    void Ask(Gtk::Window& parent, const std::string& caption,
             std::function<void(const std::string&)> done);

private:
    void Answered(int response);

    std::unique_ptr<Gtk::MessageDialog> dialog_;
    std::function<void(const std::string&)> done_;
    // Outlives this object only as a weak token: a clearing that ends after
    // the window closed reports to nobody.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace orvalis::app
