#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvalis::proxy {

// A host written as exactly four dot-separated decimal numbers, each 0 to
// 255; leading zeros are decimal ("010" is ten). Nothing else is read as an
// address: no octal, no hexadecimal, no fewer parts.
std::optional<std::array<uint8_t, 4>> DecimalIPv4(std::string_view host);

// What the relay contacts for a host text: the decimal address itself, a name
// for the resolver, or nothing at all.
struct TContactHost {
    enum class TKind : uint8_t { Refused, Address, Name };
    TKind Kind = TKind::Refused;
    // The dotted address ("198.18.230.1") or the name, as given.
    std::string Text;
};

// Numeric-looking hosts that are not four decimal numbers (which the C
// library would read as octal, hexadecimal or short forms), IPv6 literals and
// texts holding control bytes, spaces or 0x7F are refused, so that what is
// contacted is always what the request filter judged.
TContactHost ContactHost(std::string_view host);

} // namespace orvalis::proxy
