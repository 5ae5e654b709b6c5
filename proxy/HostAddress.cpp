#include "proxy/HostAddress.h"

#include <arpa/inet.h>

namespace orvalis::proxy {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The last label of a name is never a number: such a text is an address in
// some notation, or a mistake, never a name to resolve.
bool LastLabelIsNumeric(std::string_view host) {
    std::string_view label = host.substr(host.rfind('.') + 1);
    if (label.size() > 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X')) {
        label.remove_prefix(2);
        return label.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
    }
    return !label.empty() && label.find_first_not_of("0123456789") == std::string_view::npos;
}

bool HasUnsafeByte(std::string_view host) {
    for (char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::array<uint8_t, 4>> DecimalIPv4(std::string_view host) {
    std::array<uint8_t, 4> octets{};
    size_t position = 0;
    for (size_t index = 0; index < octets.size(); ++index) {
        const size_t end = index + 1 < octets.size() ? host.find('.', position) : host.size();
        if (end == std::string_view::npos || end == position) {
            return std::nullopt;
        }
        unsigned value = 0;
        for (char c : host.substr(position, end - position)) {
            if (!IsDigit(c)) {
                return std::nullopt;
            }
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > 255) {
                return std::nullopt;
            }
        }
        octets[index] = static_cast<uint8_t>(value);
        position = end + 1;
    }
    return octets;
}

TContactHost ContactHost(std::string_view host) {
    if (host.empty() || HasUnsafeByte(host)) {
        return {};
    }
    if (const auto octets = DecimalIPv4(host)) {
        return {TContactHost::TKind::Address,
                std::to_string((*octets)[0]) + '.' + std::to_string((*octets)[1]) + '.' +
                    std::to_string((*octets)[2]) + '.' + std::to_string((*octets)[3])};
    }
    if (host.find_first_of(":[]") != std::string_view::npos || LastLabelIsNumeric(host)) {
        return {};
    }
    // Whatever else the C library would still take for an address.
    in_addr address{};
    const std::string text(host);
    if (inet_aton(text.c_str(), &address) != 0) {
        return {};
    }
    return {TContactHost::TKind::Name, text};
}

} // namespace orvalis::proxy
