#include "browser/TravelLog.h"

#include "browser/BrowserHost.h"

namespace orvalis::browser {

namespace {

int32_t Length(GList* list) {
    const int32_t n = static_cast<int32_t>(g_list_length(list));
    g_list_free(list);
    return n;
}

} // namespace

void TBrowserTravelLog::SetBrowser(TBrowserHost* browser) {
    if (browser == browser_.get())
        return;
    browser_.Set(browser);
    store_.Reset();
}

bool TBrowserTravelLog::ready() const {
    // A document exists once a load has started: the engine keeps a history
    // from then on, and the blank page of start-up is still loading when the
    // store is attached.
    return Enabled && browser_ &&
           (browser_->ReadyState() != READYSTATE_UNINITIALIZED || !browser_->LocationURL().empty());
}

bool TBrowserTravelLog::AttachStore() {
    if (!ready())
        return false;
    store_ = GRef<WebKitBackForwardList>::Share(
        webkit_web_view_get_back_forward_list(browser_->WebView()));
    return static_cast<bool>(store_);
}

std::vector<int32_t> TBrowserTravelLog::EntryOffsets(uint32_t Flags, int32_t back,
                                                     int32_t forward) {
    std::vector<int32_t> offsets;
    if ((Flags & TLEF_ABSOLUTE) == TLEF_ABSOLUTE) {
        for (int32_t i = -back; i <= forward; ++i)
            offsets.push_back(i);
        return offsets;
    }
    if (Flags & TLEF_RELATIVE_BACK)
        for (int32_t i = 1; i <= back; ++i)
            offsets.push_back(-i);
    if (Flags & TLEF_RELATIVE_INCLUDE_CURRENT)
        offsets.push_back(0);
    if (Flags & TLEF_RELATIVE_FORE)
        for (int32_t i = 1; i <= forward; ++i)
            offsets.push_back(i);
    return offsets;
}

void TBrowserTravelLog::ListEntries(uint32_t Flags) {
    if (!ready() || !store_)
        return;
    WebKitBackForwardList* list = store_.get();
    // The entries are taken at once, so that a handler that travels or loads
    // does not change what this enumeration gives.
    std::vector<GRef<WebKitBackForwardListItem>> entries;
    for (int32_t offset : EntryOffsets(Flags, Length(webkit_back_forward_list_get_back_list(list)),
                                       Length(webkit_back_forward_list_get_forward_list(list))))
        entries.push_back(GRef<WebKitBackForwardListItem>::Share(
            webkit_back_forward_list_get_nth_item(list, offset)));
    bool cancel = false;
    for (const auto& entry : entries) {
        if (cancel)
            break;
        if (!OnEntry || !entry)
            continue;
        const char* uri = webkit_back_forward_list_item_get_uri(entry.get());
        if (!uri)
            continue; // unreadable: left out
        const char* title = webkit_back_forward_list_item_get_title(entry.get());
        // An untitled page is known by its address, as in the window title.
        OnEntry(title && *title ? title : uri, uri, cancel);
    }
}

int32_t TBrowserTravelLog::TravelByOffset(int32_t Offset) {
    if (!ready() || !store_)
        return 1;
    // Held: a handler of OnTravelTo may change the history.
    auto entry = GRef<WebKitBackForwardListItem>::Share(
        webkit_back_forward_list_get_nth_item(store_.get(), Offset));
    if (!entry)
        return 1;
    bool cancel = false;
    if (OnTravelTo)
        OnTravelTo(Offset, cancel);
    if (cancel || !ready())
        return 1;
    webkit_web_view_go_to_back_forward_list_item(browser_->WebView(), entry.get());
    return 0;
}

} // namespace orvalis::browser
