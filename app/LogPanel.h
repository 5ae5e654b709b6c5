#pragma once

#include "app/DisplayRefresh.h"

#include <gtkmm/textview.h>

namespace orvalis::app {

// Shows a refresh's log changes in the log panel's text view: the new text
// appended (or the whole text replaced), the view kept at its end, and the
// flash colour switched on or off.
void ShowLogChanges(Gtk::TextView& memo, const TDisplayChanges& changes);

} // namespace orvalis::app
