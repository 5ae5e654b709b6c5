#pragma once

#include <string_view>

namespace orvalis::app {

// True for the OpenGL renderer names of the software rasterizers.
bool IsSoftwareRasterizer(std::string_view glRenderer);

// Picks how the program's windows draw; call once the display is open and
// before the first window is shown.
void ChooseWindowRenderer();

} // namespace orvalis::app
