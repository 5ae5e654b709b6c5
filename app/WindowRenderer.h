#pragma once

namespace orvalis::app {

// Picks how the program's windows draw; call once the display is open and
// before the first window is shown.
void ChooseWindowRenderer();

} // namespace orvalis::app
