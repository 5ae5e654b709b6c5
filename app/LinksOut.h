#pragma once

#include "app/MessageBar.h"

#include <gtkmm.h>
#include <memory>
#include <string>

namespace orvalis::app {

// Links out: an address that the guard kept out of the window after the user
// asked for it is offered on the message bar, and only the user's click there
// hands it to the desktop's default handler for its scheme.
class TLinksOut {
public:
    TLinksOut(Gtk::Window& window, TMessageBar& bar);

    // Whether the desktop may be given the address: http, https and mailto.
    static bool MayOpenOutside(const std::string& url);
    // Offers the address on the bar, when the desktop may be given it.
    void Offer(const std::string& url);

private:
    void openOutside(const std::string& url);

    Gtk::Window& window_;
    TMessageBar& bar_;
    // Tells a late answer of the desktop whether this object still exists.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace orvalis::app
