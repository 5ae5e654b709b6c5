#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace orvalis::app {

// The two system colours the status may carry; a status in the window
// background colour is shown without flashing the log panel.
enum class TStatusColor : uint8_t { WindowBackground = 5, Highlight = 13 };

// What the log panel, the status panel and the counter are to show. The
// writers run on any thread; the UI thread copies it into the controls.
struct TDisplayFields {
    std::string LogText;        // lines joined by CR LF, none after the last
    int32_t LogLength = 0;      // bytes of LogText
    int32_t ShownLogLength = 0; // LogLength when the log panel was last refreshed
    // Counts clearings, so that a refresh replaces the shown text even when a
    // cleared and rewritten log happens to have its old length.
    uint32_t LogClears = 0;
    std::string StatusText;
    TStatusColor StatusColor = TStatusColor::WindowBackground;
    bool StatusFresh = false; // Status was called and the UI has not started timing it
    uint32_t StatusSince = 0; // millisecond tick at which the UI started timing
    std::string IdleStatusText;
    // A short note over the status text (the zoom level), which neither
    // replaces the status nor touches the log panel's flashing.
    std::string NoteText;
    bool NoteFresh = false;
    uint32_t NoteSince = 0;
    int32_t BlockedCount = 0;
    bool BlockedCountChanged = false;
    // A longer message (a download's progress) for the page's status panel,
    // outside the status cycle.
    std::string PageMessageText;
    bool PageMessageChanged = false;
};

class TDisplayState {
public:
    // Appends a line (after CR LF unless the log is empty), with the local
    // time stamp in front when `stamped`. Always true.
    bool WriteLog(std::string_view text, bool stamped);
    // Sets the status text and colour and marks it fresh. Always true.
    bool Status(std::string_view text, TStatusColor color);
    // Shows a note in the status panel for a moment.
    void Note(std::string_view text);
    // Shows a message in full in the page's status panel; the status text and
    // a refusal's flashing go on undisturbed. Always true.
    bool PageMessage(std::string_view text);
    // Counts one refused request.
    void CountBlock();
    // Empties the log.
    void ClearLog();
    void SetIdleStatusText(std::string_view text);

    // Runs `f` on the fields under the display lock; keep it short.
    template <class F> decltype(auto) Access(F&& f) {
        std::lock_guard lock(mutex_);
        return f(fields_);
    }

    // Called after every change, outside the lock, on the changing thread.
    // Set it once before any writer runs.
    void SetChangeNotifier(std::function<void()> notifier) { notifier_ = std::move(notifier); }

private:
    void Notify() const;

    std::mutex mutex_;
    TDisplayFields fields_;
    std::function<void()> notifier_;
};

} // namespace orvalis::app
