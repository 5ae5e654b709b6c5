#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvalis::proxy {

// The header lines of one HTTP message, exactly as received and in order
// (duplicates kept, never sorted). A line's name is the text before its first
// colon; a line starting with a space or tab continues the line above it.
class THeaderList {
public:
    void Clear() { lines_.clear(); }
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const { return lines_.at(index); }
    const std::vector<std::string>& Lines() const { return lines_; }

    // Index of the first line whose name equals `name` ignoring ASCII case, or -1.
    int IndexOfHeader(std::string_view name) const;
    // Text before the first colon of line `index`; empty without a colon.
    std::string Names(int index) const;
    // Value starting at line `index` with continuation lines joined by one
    // space, trimmed; empty when `index` is out of range.
    std::string ValueFromIndex(int index) const;
    // Value of the first line named `name`; empty when there is none.
    std::string ValueOf(std::string_view name) const;

private:
    std::vector<std::string> lines_;
};

} // namespace orvalis::proxy
