#include "app/DisplayState.h"

#include "app/LogStamp.h"

namespace orvalis::app {

bool TDisplayState::WriteLog(std::string_view text, bool stamped) {
    // The stamp is formatted before the lock is taken.
    std::string line = stamped ? CurrentStamp() : std::string();
    line += text;
    {
        std::lock_guard lock(mutex_);
        if (!fields_.LogText.empty()) {
            fields_.LogText += "\r\n";
        }
        fields_.LogText += line;
        fields_.LogLength = static_cast<int32_t>(fields_.LogText.size());
    }
    Notify();
    return true;
}

bool TDisplayState::Status(std::string_view text, TStatusColor color) {
    {
        std::lock_guard lock(mutex_);
        fields_.StatusFresh = true;
        fields_.StatusText = std::string(text);
        fields_.StatusColor = color;
    }
    Notify();
    return true;
}

void TDisplayState::Note(std::string_view text) {
    {
        std::lock_guard lock(mutex_);
        fields_.NoteText = std::string(text);
        fields_.NoteFresh = true;
    }
    Notify();
}

bool TDisplayState::PageMessage(std::string_view text) {
    {
        std::lock_guard lock(mutex_);
        fields_.PageMessageText = std::string(text);
        fields_.PageMessageChanged = true;
    }
    Notify();
    return true;
}

void TDisplayState::CountBlock() {
    {
        std::lock_guard lock(mutex_);
        ++fields_.BlockedCount;
        fields_.BlockedCountChanged = true;
    }
    Notify();
}

void TDisplayState::ClearLog() {
    {
        std::lock_guard lock(mutex_);
        fields_.LogText.clear();
        fields_.LogLength = 0;
        ++fields_.LogClears;
    }
    Notify();
}

void TDisplayState::SetIdleStatusText(std::string_view text) {
    {
        std::lock_guard lock(mutex_);
        fields_.IdleStatusText = std::string(text);
    }
    Notify();
}

void TDisplayState::Notify() const {
    if (notifier_) {
        notifier_();
    }
}

} // namespace orvalis::app
