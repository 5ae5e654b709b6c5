#pragma once

#include "browser/GObjectRef.h"
#include "browser/WidgetLink.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <webkit/webkit.h>

namespace orvalis::browser {

class TBrowserHost;

// Which entries of the history an enumeration gives.
constexpr uint32_t TLEF_RELATIVE_INCLUDE_CURRENT = 0x01;
constexpr uint32_t TLEF_RELATIVE_BACK = 0x10;
constexpr uint32_t TLEF_RELATIVE_FORE = 0x20;
constexpr uint32_t TLEF_ABSOLUTE = 0x31;

using TOnEntryEvent =
    std::function<void(const std::string& Title, const std::string& Url, bool& Cancel)>;
using TOnTravelToEvent = std::function<void(int32_t OffSet, bool& Cancel)>;

// The pages one can go back or forward to in the linked browser, from the
// engine's back/forward list, and travel to one of them.
//
// Ready means: Enabled, a browser set, and the browser has (or is loading)
// a document. Every operation does nothing when not ready; the listings and
// TravelByOffset also need AttachStore first.
class TBrowserTravelLog {
public:
    TBrowserTravelLog() = default;
    TBrowserTravelLog(const TBrowserTravelLog&) = delete;
    TBrowserTravelLog& operator=(const TBrowserTravelLog&) = delete;

    TBrowserHost* Browser() const { return browser_.get(); }
    // A new browser drops the store of the old one.
    void SetBrowser(TBrowserHost* browser);

    bool Enabled = true;
    TOnEntryEvent OnEntry;
    TOnTravelToEvent OnTravelTo;

    bool AttachStore();
    // Raises OnEntry once per entry that Flags select, in the order of
    // EntryOffsets, until a handler sets Cancel.
    void ListEntries(uint32_t Flags);
    void ListBackEntries() { ListEntries(TLEF_RELATIVE_BACK); }
    void ListForwardEntries() { ListEntries(TLEF_RELATIVE_FORE); }
    // Travels Offset entries forward (negative: back). 0 when it travelled,
    // 1 when nothing was done (not ready, no such entry, or cancelled).
    int32_t TravelByOffset(int32_t Offset);

    // The offsets from the current entry that an enumeration gives, in its
    // order, for a history of back entries behind and forward entries ahead:
    // relative back and forward entries nearest first (back first, then the
    // current one when included, then forward); TLEF_ABSOLUTE gives the whole
    // history from the oldest entry to the newest.
    static std::vector<int32_t> EntryOffsets(uint32_t Flags, int32_t back, int32_t forward);
    // The offset of the entry listed at position index (from 0) of a back or
    // forward listing.
    static int32_t BackOffset(int32_t index) { return -index - 1; }
    static int32_t ForwardOffset(int32_t index) { return index + 1; }

private:
    bool ready() const;

    TWidgetLink<TBrowserHost> browser_;
    GRef<WebKitBackForwardList> store_;
};

} // namespace orvalis::browser
