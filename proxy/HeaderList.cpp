#include "proxy/HeaderList.h"

#include "proxy/NumberRule.h"

#include <algorithm>

namespace orvalis::proxy {

namespace {

std::string_view NameOf(std::string_view line) {
    auto colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view{} : line.substr(0, colon);
}

bool IsContinuation(std::string_view line) {
    return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

} // namespace

int THeaderList::IndexOfHeader(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        if (SameIgnoringCase(NameOf(lines_[i]), name)) {
            return i;
        }
    }
    return -1;
}

std::string THeaderList::Names(int index) const {
    if (index < 0 || index >= Count()) {
        return {};
    }
    return std::string(NameOf(lines_[index]));
}

std::string THeaderList::ValueFromIndex(int index) const {
    if (index < 0 || index >= Count()) {
        return {};
    }
    std::string_view line = lines_[index];
    size_t nameLength = NameOf(line).size();
    // The rest after the name and the one character behind it (the colon).
    std::string value(nameLength + 1 <= line.size() ? line.substr(nameLength + 1)
                                                    : std::string_view{});
    for (int next = index + 1; next < Count() && IsContinuation(lines_[next]); ++next) {
        std::string joined(Trimmed(value));
        joined += ' ';
        joined += Trimmed(lines_[next]);
        value = std::move(joined);
    }
    return std::string(Trimmed(value));
}

std::string THeaderList::ValueOf(std::string_view name) const {
    return ValueFromIndex(IndexOfHeader(name));
}

} // namespace orvalis::proxy
