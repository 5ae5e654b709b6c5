#pragma once

#include "guard/ExString.h"

#include <array>
#include <atomic>
#include <memory>
#include <string_view>

namespace orvalis::guard {

// One block of the site's server addresses: the first two octets as exact
// texts and an inclusive range of third octets.
struct TAddressRange {
    std::string_view FirstOctet;
    std::string_view SecondOctet;
    int Lower;
    int Upper;
};

// The site-specific values. Every pattern is lower case.
namespace SiteProfile {
inline constexpr std::string_view ProductName = "Orvalis";
inline constexpr std::string_view AppCaption = "Orvalis v0.11b";
inline constexpr std::string_view ReleaseDate = "2009.02.15";
inline constexpr std::string_view ContactAddress = "orvalis@example.org";
inline constexpr std::string_view HomeUrl = "http://www.velmora.co.kr";
// Music stream: a Host ending in the port, a document beginning with the path.
inline constexpr std::string_view StreamPort = ":9575";
inline constexpr std::string_view StreamDocument = "/_music128?";
// Flash video: a path ending in the extension whose query begins with the key,
// asked for by a movie (a Referer whose path ends in the Flash extension).
inline constexpr std::string_view VideoPathEnd = ".mp4";
inline constexpr std::string_view VideoQueryStart = "key=";
inline constexpr std::string_view FlashPathEnd = ".swf";
inline constexpr TAddressRange AddressRangeA{"198", "18", 228, 245};
inline constexpr TAddressRange AddressRangeB{"198", "19", 253, 255};
inline constexpr std::string_view SiteFragment = "velmora.co";
inline constexpr std::string_view PartnerFragment = ".lumenet.co";
inline constexpr std::array<std::string_view, 3> PopupAllowList{
    "http://pims.velmora.com/pims/main/pims_main.asp",
    "http://home.velmora.com/?",
    "http://club.velmora.com/club/main/club_main.asp",
};
// The site's own domains: they and the hosts under them are the site.
inline constexpr std::array<std::string_view, 2> SiteDomains{"velmora.com", "velmora.co.kr"};
} // namespace SiteProfile

// The portal pages, on which every request is let through.
TWideStringArray BuildMainPageList();
// The hosts whose requests are always allowed, each with its delimiters.
TWideStringArray BuildHostSuffixList();

// A rule list filled once at start-up and read by any thread without a lock;
// until it is published it reads as empty.
class TRuleList {
public:
    void Publish(TWideStringArray entries);
    const TWideStringArray& Entries() const;

private:
    std::unique_ptr<const TWideStringArray> storage_;
    std::atomic<const TWideStringArray*> published_{nullptr};
};

struct TSiteRules {
    TRuleList MainPageList;
    TRuleList HostSuffixList;
};

} // namespace orvalis::guard
