#include "browser/TravelLog.h"

#include "BrowserTestSupport.h"

namespace orvalis::browser::test {
namespace {

// The travel log over a real browser's history.
class TravelLogTest : public BrowserTest {
protected:
    struct TEntry {
        std::string Title;
        std::string Url;
    };
    // Lists as the window's history menus do: 15 entries at most.
    std::vector<TEntry> List(bool back) {
        std::vector<TEntry> entries;
        log_.OnEntry = [&](const std::string& Title, const std::string& Url, bool& Cancel) {
            entries.push_back({Title, Url});
            if (entries.size() > 14)
                Cancel = true;
        };
        if (back)
            log_.ListBackEntries();
        else
            log_.ListForwardEntries();
        log_.OnEntry = nullptr;
        return entries;
    }
    std::string Page(int i) { return site_->Url("/a.html?page=" + std::to_string(i)); }
    bool At(const std::string& url) {
        return WaitFor(
            [&] { return browser_->LocationURL() == url && browser_->ReadyState() == 4; });
    }

    TBrowserTravelLog log_;
};

TEST_F(TravelLogTest, ListsTheFifteenNearestAndTravelsToThem) {
    for (int i = 0; i <= 20; ++i)
        Load("/a.html?page=" + std::to_string(i));
    log_.SetBrowser(browser_);
    ASSERT_TRUE(log_.AttachStore());

    auto back = List(true);
    ASSERT_EQ(back.size(), 15u);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(back[i].Url, Page(19 - i)) << i;
    EXPECT_EQ(back[0].Title, "A");
    EXPECT_TRUE(List(false).empty());

    std::vector<int32_t> travelled;
    log_.OnTravelTo = [&](int32_t OffSet, bool&) { travelled.push_back(OffSet); };
    EXPECT_EQ(log_.TravelByOffset(TBrowserTravelLog::BackOffset(14)), 0);
    ASSERT_TRUE(At(Page(5)));
    EXPECT_EQ(travelled, std::vector<int32_t>{-15});

    // Forward, nearest first, after going back.
    auto forward = List(false);
    ASSERT_EQ(forward.size(), 15u);
    EXPECT_EQ(forward[0].Url, Page(6));
    EXPECT_EQ(forward[14].Url, Page(20));
    back = List(true);
    ASSERT_EQ(back.size(), 5u);
    EXPECT_EQ(back[0].Url, Page(4));

    EXPECT_EQ(log_.TravelByOffset(TBrowserTravelLog::ForwardOffset(2)), 0);
    ASSERT_TRUE(At(Page(8)));

    // A handler that cancels keeps the browser where it is.
    log_.OnTravelTo = [](int32_t, bool& Cancel) { Cancel = true; };
    EXPECT_EQ(log_.TravelByOffset(-1), 1);
    Settle(std::chrono::milliseconds(300));
    EXPECT_EQ(browser_->LocationURL(), Page(8));
}

TEST_F(TravelLogTest, EmptyHistoryListsNothing) {
    Load("/a.html");
    log_.SetBrowser(browser_);
    ASSERT_TRUE(log_.AttachStore());
    EXPECT_TRUE(List(true).empty());
    EXPECT_TRUE(List(false).empty());
    EXPECT_EQ(log_.TravelByOffset(-1), 1);
    EXPECT_EQ(log_.TravelByOffset(1), 1);
}

TEST_F(TravelLogTest, DisabledOrUnattachedLogDoesNothing) {
    // No document yet: nothing to attach to.
    log_.SetBrowser(browser_);
    EXPECT_FALSE(log_.AttachStore());
    // The blank page of start-up, not yet loaded, is enough.
    browser_->OpenBlankPage(false);
    EXPECT_TRUE(log_.AttachStore());

    Load("/a.html");
    Load("/b.html");
    TBrowserTravelLog unattached;
    unattached.SetBrowser(browser_);
    int entries = 0;
    unattached.OnEntry = [&](const std::string&, const std::string&, bool&) { ++entries; };
    unattached.ListBackEntries();
    EXPECT_EQ(unattached.TravelByOffset(-1), 1);

    log_.Enabled = false;
    log_.OnEntry = unattached.OnEntry;
    log_.ListBackEntries();
    EXPECT_EQ(log_.TravelByOffset(-1), 1);
    EXPECT_EQ(entries, 0);
    log_.Enabled = true;
    log_.ListBackEntries();
    EXPECT_GT(entries, 0);

    // Another browser (or none) drops the store.
    log_.SetBrowser(nullptr);
    EXPECT_FALSE(log_.AttachStore());
    EXPECT_EQ(log_.TravelByOffset(-1), 1);
    Settle(std::chrono::milliseconds(300));
    EXPECT_EQ(browser_->LocationURL(), site_->Url("/b.html"));

    // A browser that is gone is let go.
    log_.SetBrowser(browser_);
    ASSERT_TRUE(log_.AttachStore());
    window_->unset_child();
    browser_ = nullptr;
    EXPECT_TRUE(WaitFor([&] { return log_.Browser() == nullptr; }, std::chrono::seconds(5)));
    log_.ListBackEntries();
    EXPECT_EQ(log_.TravelByOffset(-1), 1);
}

} // namespace
} // namespace orvalis::browser::test
