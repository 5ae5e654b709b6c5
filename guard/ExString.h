#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvalis::guard {

using TWideStringArray = std::vector<std::string>;

// Maps only the ASCII capitals to small letters; every other byte stays.
std::string LowerAscii(std::string_view text);

// True when `pattern` occurs in `text` byte for byte. An empty pattern occurs
// nowhere, and nothing occurs in an empty text.
bool Occurs(std::string_view pattern, std::string_view text);

// The pieces of `text` between occurrences of `separator`, cutting at no more
// than `limit` separators when `limit` is positive. At most 1024 pieces: past
// 1023 cuts the rest is the last piece. An empty separator cuts nowhere.
TWideStringArray SplitText(std::string_view text, std::string_view separator, int limit);

// The element `index` places from the end (0 is the last), or empty text.
std::string ItemFromEnd(const TWideStringArray& items, int index);

// Leading spaces, an optional sign, then decimal digits or "$", "x" or "0x"
// and hexadecimal digits, nothing after; -1 for anything else.
int32_t ToInteger(std::string_view text);

// True when some entry of `list` occurs in `text`; entries are tried in order.
bool MatchesAnyEntry(std::string_view text, const TWideStringArray& list);

} // namespace orvalis::guard
