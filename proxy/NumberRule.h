#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvalis::proxy {

// Reads a whole text as a signed 32-bit integer: an optional sign, then decimal
// digits, or hexadecimal digits after "$", "x" or "0x" (either case) taken as a
// 32-bit pattern of at most eight significant digits. Anything else, or a
// decimal value out of range, is not a number.
std::optional<int32_t> ParseInteger32(std::string_view text);

// The number rule for port texts and header values: ParseInteger32 of the
// trimmed text.
std::optional<int32_t> ParseNumber(std::string_view text);

// ParseNumber with the caller's default for "not a number".
int32_t NumberOr(std::string_view text, int32_t fallback);

// Comparisons of protocol words (header names, commands), ignoring the case
// of ASCII letters only.
char AsciiLower(char c);
bool SameIgnoringCase(std::string_view a, std::string_view b);
bool StartsIgnoringCase(std::string_view text, std::string_view prefix);
bool LessIgnoringCase(std::string_view a, std::string_view b);

// Removes every character with a code of 32 or less from both ends.
std::string_view Trimmed(std::string_view text);

} // namespace orvalis::proxy
