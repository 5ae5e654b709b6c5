#include "proxy/URI.h"

#include <algorithm>

namespace orvalis::proxy {

namespace {

constexpr auto npos = std::string_view::npos;

// Splits off the parameters: after the first "?", or, without one, after the
// first "=". Leaves the text before that position in `rest`.
void TakeParams(std::string_view& rest, std::string& params) {
    size_t q = rest.find('?');
    if (q == npos) {
        q = rest.find('=');
    }
    if (q != npos) {
        params = std::string(rest.substr(q + 1));
        rest = rest.substr(0, q);
    }
}

} // namespace

TURI::TURI(std::string_view url) {
    if (!url.empty()) {
        SetURL(url);
    }
}

void TURI::SetURL(std::string_view url) {
    *this = TURI{};
    URL = std::string(url);
    // Backslashes become slashes; a UTF-8 byte sequence never contains one, so
    // every backslash is a real one.
    std::replace(URL.begin(), URL.end(), '\\', '/');

    std::string_view rest = URL;
    size_t scheme = rest.find("://");
    if (scheme != npos) {
        Protocol = std::string(rest.substr(0, scheme));
        rest = rest.substr(scheme + 3);
        TakeParams(rest, Params);

        std::string_view authority = rest;
        size_t slash = rest.find('/');
        if (slash != npos) {
            authority = rest.substr(0, slash);
            rest = rest.substr(slash + 1);
        } else {
            rest = {};
        }

        size_t at = authority.find('@');
        if (at != npos) {
            std::string_view user = authority.substr(0, at);
            authority = authority.substr(at + 1);
            size_t colon = user.find(':');
            UserName = std::string(user.substr(0, colon));
            if (colon != npos && !UserName.empty()) {
                Password = std::string(user.substr(colon + 1));
            }
        }

        std::string_view port;
        size_t open = authority.find('[');
        size_t close = authority.find(']');
        if (open != npos && close != npos && close > open) {
            Host = std::string(authority.substr(open + 1, close - open - 1));
            std::string_view after = authority.substr(close + 1);
            size_t colon = after.find(':');
            if (colon != npos) {
                port = after.substr(colon + 1);
            }
            IPVersion = TIPVersion::IPv6;
        } else {
            size_t colon = authority.find(':');
            Host = std::string(authority.substr(0, colon));
            if (colon != npos) {
                port = authority.substr(colon + 1);
            }
        }
        Port = std::string(port);

        size_t lastSlash = rest.rfind('/');
        if (lastSlash != npos) {
            Path = "/" + std::string(rest.substr(0, lastSlash + 1));
            rest = rest.substr(lastSlash + 1);
        } else {
            Path = "/";
        }
    } else {
        TakeParams(rest, Params);
        size_t lastSlash = rest.rfind('/');
        if (lastSlash != npos) {
            Path = std::string(rest.substr(0, lastSlash + 1));
            rest = rest.substr(lastSlash + 1);
        }
    }

    size_t hash = rest.find('#');
    Document = std::string(rest.substr(0, hash));
    if (hash != npos) {
        Fragment = std::string(rest.substr(hash + 1));
    }
}

std::string TURI::GetPathAndParams() const {
    std::string result = Path + Document;
    if (!Params.empty()) {
        result += '?';
        result += Params;
    }
    return result;
}

} // namespace orvalis::proxy
