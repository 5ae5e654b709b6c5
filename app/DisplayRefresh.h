#pragma once

#include "app/DisplayState.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvalis::app {

// How long a status stays before the idle text returns, and the step of the
// log panel's flashing.
inline constexpr uint32_t StatusShowMs = 4000;
inline constexpr uint32_t FlashStepMs = 250;
// How long a note stays over the status text.
inline constexpr uint32_t NoteShowMs = 1500;

// The millisecond tick of the steady clock, wrapping at 32 bits.
uint32_t TickCount();

// What the controls show now; kept by the UI thread between refreshes.
struct TShownDisplay {
    std::string StatusPanelText;
    bool MemoHighlighted = false;
    uint32_t LogClears = 0;
    std::string PageMessageText;
};

// The changes one refresh makes to the controls. A log change either appends
// the new text or, after a clearing, replaces the whole text; either way the
// memo then scrolls to its end.
struct TDisplayChanges {
    bool ReplaceLog = false;
    std::optional<std::string> LogText;
    std::optional<std::string> StatusPanelText;
    std::optional<bool> MemoHighlighted;
    std::optional<int32_t> BlockedCount;
    std::optional<std::string> PageMessageText;
    // Milliseconds until the status cycle next changes what is shown, when it will.
    std::optional<uint32_t> NextChangeInMs;
};

// Copies what changed out of the display state under its lock and advances
// the status cycle, updating `shown` to what the controls will show.
TDisplayChanges RefreshDisplay(TDisplayState& state, TShownDisplay& shown, uint32_t now);

} // namespace orvalis::app
