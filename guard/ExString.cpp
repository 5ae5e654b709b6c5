#include "guard/ExString.h"

#include "proxy/NumberRule.h"

namespace orvalis::guard {

std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

bool Occurs(std::string_view pattern, std::string_view text) {
    return !pattern.empty() && text.find(pattern) != std::string_view::npos;
}

TWideStringArray SplitText(std::string_view text, std::string_view separator, int limit) {
    constexpr int maxPieces = 1024;
    TWideStringArray pieces;
    if (!separator.empty()) {
        int cuts = 0;
        size_t start = 0;
        for (size_t at = text.find(separator); at != std::string_view::npos;
             at = text.find(separator, start)) {
            pieces.emplace_back(text.substr(start, at - start));
            start = at + separator.size();
            ++cuts;
            if ((limit > 0 && cuts >= limit) || cuts >= maxPieces - 1) {
                break;
            }
        }
        text.remove_prefix(start);
    }
    pieces.emplace_back(text);
    return pieces;
}

std::string ItemFromEnd(const TWideStringArray& items, int index) {
    if (index < 0 || static_cast<size_t>(index) >= items.size()) {
        return {};
    }
    return items[items.size() - 1 - static_cast<size_t>(index)];
}

int32_t ToInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    return proxy::ParseInteger32(text).value_or(-1);
}

bool MatchesAnyEntry(std::string_view text, const TWideStringArray& list) {
    for (const std::string& entry : list) {
        if (Occurs(entry, text)) {
            return true;
        }
    }
    return false;
}

} // namespace orvalis::guard
