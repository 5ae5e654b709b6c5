#include "guard/SiteProfile.h"

namespace orvalis::guard {

TWideStringArray BuildMainPageList() {
    return {
        "www.velmora.com/main", "www.velmora.com/main2", "news.velmora.com", "music.velmora.com",
        "video.velmora.com",    "search.velmora.com",    "us.velmora.com",
    };
}

TWideStringArray BuildHostSuffixList() {
    return {
        ".adverra.co.kr/", ".clickvane.com/", "/velmora.com/", "/velmora.co.kr/",  ".velmora.com/",
        ".velmora.com:",   ".velmora.co.kr/", ".lumenet.com/", ".lumesearch.com/", ".lumeimg.com/",
    };
}

void TRuleList::Publish(TWideStringArray entries) {
    if (storage_) {
        return; // filled once; readers may hold references to the first list
    }
    storage_ = std::make_unique<const TWideStringArray>(std::move(entries));
    published_.store(storage_.get(), std::memory_order_release);
}

const TWideStringArray& TRuleList::Entries() const {
    static const TWideStringArray empty;
    const TWideStringArray* list = published_.load(std::memory_order_acquire);
    return list ? *list : empty;
}

} // namespace orvalis::guard
