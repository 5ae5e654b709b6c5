#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvalis::guard {

inline constexpr std::string_view NavigationRefusedText =
    "이 브라우저는 벨모라 전용으로 제작되었습니다.";

// Whether the top-level page may go to `url`: the blank page, scripts, and
// http or https addresses of the site and its partner portal. Frames are not
// judged here.
bool AllowsTopLevelNavigation(std::string_view url);

// Turns the site's own pop-ups into navigations of the main window: the
// browser first asks whether a window may open, then announces it.
class TPopupPolicy {
public:
    // When `url` holds an allowed pop-up text (case-sensitive), remembers it
    // and answers 0 in `rezult`; otherwise leaves `rezult` as it is.
    void EvaluateNewWindow(std::string_view url, int32_t& rezult);
    // When a pop-up is pending, cancels the new window and gives the address
    // to open in the main window instead.
    std::optional<std::string> NewWindow(bool& cancel);

    bool PendingPopup = false;
    // Kept after use; the next allowed pop-up overwrites it.
    std::string PendingPopupUrl;
};

struct TPoint {
    int X = 0;
    int Y = 0;
};

inline constexpr int FixUpMargin = 8;
// Switches automatic scroll bars on for a document that fills the browser
// area. The body's scroll attribute is what the site's pages set; this engine
// ignores it and honours the body's overflow instead, so both are set.
inline constexpr std::string_view FixUpScript =
    "document.body.scroll = 'auto'; document.body.style.overflow = 'auto'";

// Whether a document whose corners lie at `topLeft` and `bottomRight` (in the
// browser's coordinates) covers a browser area of `width` by `height`, within
// the fix-up margin.
bool FillsBrowserArea(TPoint topLeft, TPoint bottomRight, int width, int height);

} // namespace orvalis::guard
