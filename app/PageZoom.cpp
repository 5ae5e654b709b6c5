#include "app/PageZoom.h"

#include <cmath>
#include <iterator>

namespace orvalis::app {

namespace {

double StepLevel(size_t index) {
    return ZoomPercents[index] / 100.0;
}

size_t NearestIndex(double level) {
    size_t best = 0;
    for (size_t i = 1; i < std::size(ZoomPercents); ++i)
        if (std::fabs(StepLevel(i) - level) < std::fabs(StepLevel(best) - level))
            best = i;
    return best;
}

} // namespace

double NearestZoomStep(double level) {
    return StepLevel(NearestIndex(std::isfinite(level) ? level : 1.0));
}

double ZoomStepFrom(double level, int direction) {
    const size_t index = NearestIndex(level);
    if (direction > 0 && index + 1 < std::size(ZoomPercents))
        return StepLevel(index + 1);
    if (direction < 0 && index > 0)
        return StepLevel(index - 1);
    return StepLevel(index);
}

std::string ZoomText(double level) {
    return "확대 " + std::to_string(static_cast<int>(std::lround(level * 100))) + "%";
}

void TPageZoom::Restore(double level) {
    webkit_web_view_set_zoom_level(view_, NearestZoomStep(level));
}

void TPageZoom::Step(int direction) {
    Show(direction == 0 ? 1.0 : ZoomStepFrom(Level(), direction));
}

void TPageZoom::Wheel(double dy) {
    wheelTurn_ += dy;
    if (std::fabs(wheelTurn_) < 1)
        return;
    // Turning the wheel away from the user enlarges, as everywhere.
    const int direction = wheelTurn_ < 0 ? 1 : -1;
    wheelTurn_ = 0;
    Step(direction);
}

void TPageZoom::Show(double level) {
    webkit_web_view_set_zoom_level(view_, level);
    display_.Note(ZoomText(level));
}

} // namespace orvalis::app
