#include "BrowserTestSupport.h"

#include <stdexcept>

namespace orvalis::browser::test {
namespace {

using EverydayBrowsingTest = BrowserTest;

TEST_F(EverydayBrowsingTest, TopLevelLinkIsDecidedBeforeItsRequestLeaves) {
    Load("/a.html");
    const std::string b = site_->Url("/b.html");
    int topDecisions = 0;
    int32_t flags = 0;
    browser_->OnBeforeNavigate2 = [&](TBrowserControl&, const TBrowserDispatch& pDisp,
                                      std::string& URL, int32_t& Flags, std::string&, std::string&,
                                      std::string&, bool& Cancel) {
        if (URL == b && pDisp == browser_->BrowserDispatch()) {
            ++topDecisions;
            flags = Flags;
            Cancel = true;
        }
    };
    RunScript("document.getElementById('link').click()");
    ASSERT_TRUE(WaitFor([&] { return topDecisions == 1; }));
    Settle(std::chrono::milliseconds(500));
    EXPECT_EQ(topDecisions, 1);
    EXPECT_FALSE(site_->Logged("/b.html"));
    EXPECT_EQ(browser_->LocationURL(), site_->Url("/a.html"));
    // A page script's click is not the user's.
    EXPECT_EQ(flags & NAVF_USERINITED, 0);
}

TEST_F(EverydayBrowsingTest, SameDocumentNavigationsMoveTheLocationAndEndComplete) {
    Load("/a.html");
    std::vector<std::string> completed;
    browser_->OnNavigateComplete2 = [&](TBrowserControl&, const TBrowserDispatch& pDisp,
                                        std::string& URL) {
        if (pDisp == browser_->BrowserDispatch())
            completed.push_back(URL);
    };
    RunScript("history.pushState({}, '', '/pushed.html')");
    ASSERT_TRUE(WaitFor([&] { return browser_->LocationURL() == site_->Url("/pushed.html"); }));
    EXPECT_EQ(completed, std::vector<std::string>{site_->Url("/pushed.html")});

    const std::string part = site_->Url("/pushed.html#part");
    browser_->Navigate(part);
    ASSERT_TRUE(WaitFor([&] { return browser_->LocationURL() == part; }));
    EXPECT_EQ(browser_->ReadyState(), READYSTATE_COMPLETE);

    browser_->Navigate("javascript:void(document.title = 'ran')");
    ASSERT_TRUE(WaitFor([&] {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return t && std::string(t) == "ran";
    }));
    EXPECT_EQ(browser_->ReadyState(), READYSTATE_COMPLETE);
    EXPECT_FALSE(site_->Logged("/pushed.html"));
}

TEST_F(EverydayBrowsingTest, HandlerExceptionIsReportedAndTheBrowserGoesOn) {
    std::vector<std::string> reported;
    browser_->OnHandlerError = [&](TBrowserControl&, const std::string& What) {
        reported.push_back(What);
    };
    browser_->OnTitleChange = [](TBrowserControl&, const std::string&) {
        throw std::runtime_error("title handler broke");
    };
    Load("/a.html");
    ASSERT_TRUE(WaitFor([&] { return !reported.empty(); }));
    EXPECT_EQ(reported[0], "title handler broke");
    Load("/b.html");
    EXPECT_EQ(browser_->LocationURL(), site_->Url("/b.html"));
}

} // namespace
} // namespace orvalis::browser::test
