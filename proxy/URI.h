#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvalis::proxy {

enum class TIPVersion : uint8_t { IPv4 = 0, IPv6 = 1 };

// Splits the absolute URL of a proxied request line into its parts and rebuilds
// the path-and-query form sent to the origin. Nothing is decoded or validated.
class TURI {
public:
    TURI() = default;
    explicit TURI(std::string_view url);

    // Parses `url`; every field is cleared first.
    void SetURL(std::string_view url);
    // Path + Document, then "?" + Params when Params is not empty.
    std::string GetPathAndParams() const;

    std::string Document;
    std::string Protocol;
    std::string URL;
    std::string Port;
    std::string Path;
    std::string Host;
    std::string Fragment;
    std::string UserName;
    std::string Password;
    std::string Params;
    TIPVersion IPVersion = TIPVersion::IPv4;
};

} // namespace orvalis::proxy
