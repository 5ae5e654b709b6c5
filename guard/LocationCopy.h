#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace orvalis::guard {

// The browser's top-level location as published by the UI thread for the
// request filter, under a lock of its own held only while copying.
class TLocationCopy {
public:
    void Set(std::string_view location) {
        std::string copy(location);
        std::lock_guard lock(mutex_);
        location_.swap(copy);
    }
    std::string Get() const {
        std::lock_guard lock(mutex_);
        return location_;
    }

private:
    mutable std::mutex mutex_;
    std::string location_;
};

} // namespace orvalis::guard
