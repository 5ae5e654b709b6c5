// The text helpers on arbitrary input: splitting and joining back gives the
// text, and the piece count stays within its bound.
#include "guard/ExString.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace orvalis::guard;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    int limit = static_cast<int8_t>(data[0]);
    size_t separatorLength = data[1] % 4;
    std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::string_view separator = rest.substr(0, separatorLength);
    std::string_view text = rest.substr(separator.size());

    TWideStringArray pieces = SplitText(text, separator, limit);
    if (pieces.empty() || pieces.size() > 1024 ||
        (limit > 0 && pieces.size() > size_t(limit) + 1)) {
        std::abort();
    }
    std::string joined = pieces[0];
    for (size_t i = 1; i < pieces.size(); ++i) {
        joined += separator;
        joined += pieces[i];
    }
    if (joined != text) {
        std::abort();
    }
    if (limit >= 0 && size_t(limit) < pieces.size() &&
        ItemFromEnd(pieces, limit) != pieces[pieces.size() - 1 - size_t(limit)]) {
        std::abort();
    }
    ToInteger(text);
    // Every non-empty piece is part of the text, and empty ones match nothing.
    bool anyPiece = std::any_of(pieces.begin(), pieces.end(), [](auto& p) { return !p.empty(); });
    if (MatchesAnyEntry(text, pieces) != anyPiece) {
        std::abort();
    }
    std::string lower = LowerAscii(text);
    if (lower.size() != text.size()) {
        std::abort();
    }
    return 0;
}
