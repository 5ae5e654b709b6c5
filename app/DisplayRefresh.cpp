#include "app/DisplayRefresh.h"

#include <algorithm>
#include <chrono>

namespace orvalis::app {

uint32_t TickCount() {
    auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

namespace {

// The log panel takes the status colour in the second half of each of the
// first three seconds.
bool FlashOn(uint32_t elapsed) {
    uint32_t q = elapsed / FlashStepMs;
    return q == 2 || q == 3 || q == 6 || q == 7 || q == 10 || q == 11;
}

} // namespace

TDisplayChanges RefreshDisplay(TDisplayState& state, TShownDisplay& shown, uint32_t now) {
    TDisplayChanges changes;
    std::string statusText;
    std::string idleText;
    std::string noteText;
    TStatusColor statusColor = TStatusColor::WindowBackground;
    uint32_t elapsed = 0;
    uint32_t noteElapsed = 0;
    state.Access([&](TDisplayFields& f) {
        if (f.LogLength != f.ShownLogLength || f.LogClears != shown.LogClears) {
            // After a clearing, or a log shorter than shown, the text is new.
            changes.ReplaceLog = f.LogClears != shown.LogClears || f.LogLength < f.ShownLogLength;
            changes.LogText = changes.ReplaceLog
                                  ? f.LogText
                                  : f.LogText.substr(static_cast<size_t>(f.ShownLogLength));
            f.ShownLogLength = f.LogLength;
            shown.LogClears = f.LogClears;
        }
        if (f.StatusFresh) {
            f.StatusSince = now;
            f.StatusFresh = false;
        }
        if (f.NoteFresh) {
            f.NoteSince = now;
            f.NoteFresh = false;
        }
        elapsed = now - f.StatusSince;
        noteElapsed = now - f.NoteSince;
        if (noteElapsed >= NoteShowMs) {
            f.NoteText.clear(); // shown once, not again when the tick wraps
        }
        statusText = f.StatusText;
        idleText = f.IdleStatusText;
        noteText = f.NoteText;
        statusColor = f.StatusColor;
        if (f.BlockedCountChanged) {
            changes.BlockedCount = f.BlockedCount;
            f.BlockedCountChanged = false;
        }
        if (f.PageMessageChanged) {
            changes.PageMessageText = shown.PageMessageText = f.PageMessageText;
            f.PageMessageChanged = false;
        }
    });

    std::string panelText = idleText;
    if (elapsed < StatusShowMs) {
        panelText = statusText;
        if (statusColor != TStatusColor::WindowBackground) {
            bool highlighted = FlashOn(elapsed);
            if (highlighted != shown.MemoHighlighted) {
                changes.MemoHighlighted = shown.MemoHighlighted = highlighted;
            }
            changes.NextChangeInMs = FlashStepMs - elapsed % FlashStepMs;
        } else {
            changes.NextChangeInMs = StatusShowMs - elapsed;
        }
    } else if (shown.MemoHighlighted) {
        changes.MemoHighlighted = shown.MemoHighlighted = false;
    }
    if (!noteText.empty()) {
        panelText = noteText;
        const uint32_t noteLeft = NoteShowMs - noteElapsed;
        changes.NextChangeInMs = std::min(changes.NextChangeInMs.value_or(noteLeft), noteLeft);
    }
    if (shown.StatusPanelText != panelText) {
        changes.StatusPanelText = shown.StatusPanelText = panelText;
    }
    return changes;
}

} // namespace orvalis::app
