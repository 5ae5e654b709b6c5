#pragma once

#include "app/DisplayState.h"

#include <string>
#include <webkit/webkit.h>

namespace orvalis::app {

// The zoom steps desktop browsers use, in percent.
inline constexpr int ZoomPercents[] = {30,  50,  67,  80,  90,  100, 110,
                                       120, 133, 150, 170, 200, 240, 300};

// The step nearest to a level (1.0 is 100 %).
double NearestZoomStep(double level);
// The step above or below the level's own, staying at the ends.
double ZoomStepFrom(double level, int direction);
// What the status panel shows: "확대 125%".
std::string ZoomText(double level);

// The page's zoom: keys and Ctrl+wheel step it, each step shown briefly in
// the status panel.
class TPageZoom {
public:
    TPageZoom(WebKitWebView* view, TDisplayState& display) : view_(view), display_(display) {}

    double Level() const { return webkit_web_view_get_zoom_level(view_); }
    // Sets a remembered level without showing it.
    void Restore(double level);
    // One step in (direction 1) or out (-1); 0 goes back to 100 %.
    void Step(int direction);
    // A wheel turn with Ctrl held: a step per notch, smooth turns added up
    // until they make one.
    void Wheel(double dy);

private:
    void Show(double level);

    WebKitWebView* view_;
    TDisplayState& display_;
    double wheelTurn_ = 0;
};

} // namespace orvalis::app
