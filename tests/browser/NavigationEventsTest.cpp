#include "BrowserTestSupport.h"

namespace orvalis::browser::test {
namespace {

using NavigationEventsTest = BrowserTest;

TEST_F(NavigationEventsTest, TopLevelNavigationRaisesBeforeNavigatedCompleteInOrder) {
    Record();
    std::vector<std::string> titles;
    browser_->OnTitleChange = [&](TBrowserControl&, const std::string& Text) {
        titles.push_back(Text);
    };
    Load("/a.html");
    const std::string url = site_->Url("/a.html");
    ASSERT_EQ(Count("before:top:" + url), 1);
    EXPECT_EQ(events_.front(), "before:top:" + url);
    EXPECT_LT(IndexOf("before:top:" + url), IndexOf("navigated:top:" + url));
    EXPECT_LT(IndexOf("navigated:top:" + url), IndexOf("complete:top:" + url));
    EXPECT_EQ(events_.back(), "complete:top:" + url);
    EXPECT_EQ(browser_->LocationURL(), url);
    EXPECT_EQ(browser_->ReadyState(), READYSTATE_COMPLETE);
    EXPECT_TRUE(WaitFor([&] { return !titles.empty() && titles.back() == "A"; }));

    // A page without a title is known by its address.
    Load("/untitled.html");
    EXPECT_TRUE(WaitFor([&] { return titles.back() == site_->Url("/untitled.html"); }));
    // So is the next one, after another page without a title.
    Load("/untitled.html?again");
    EXPECT_TRUE(WaitFor([&] { return titles.back() == site_->Url("/untitled.html?again"); }));
}

TEST_F(NavigationEventsTest, FramesHaveTheirOwnDispatchAndTheTopLevelCompletesLast) {
    Record();
    Load("/frames.html");
    // frame2 completes inside frame1; the top level waits for all three.
    ASSERT_TRUE(
        WaitFor([&] { return Count("complete:frame:" + site_->Url("/frame2.html")) == 1; }));
    const std::string top = site_->Url("/frames.html");
    EXPECT_EQ(events_.front(), "before:top:" + top);
    for (const char* frame : {"/frame1.html", "/frame2.html", "/frame3.html"}) {
        const std::string url = site_->Url(frame);
        EXPECT_EQ(Count("before:frame:" + url), 1) << frame;
        EXPECT_EQ(Count("navigated:frame:" + url), 1) << frame;
        EXPECT_EQ(Count("complete:frame:" + url), 1) << frame;
        EXPECT_LT(IndexOf("before:frame:" + url), IndexOf("navigated:frame:" + url)) << frame;
        EXPECT_LT(IndexOf("navigated:frame:" + url), IndexOf("complete:frame:" + url)) << frame;
        EXPECT_EQ(Count("before:top:" + url) + Count("complete:top:" + url), 0) << frame;
    }
    EXPECT_EQ(events_.back(), "complete:top:" + top);
    EXPECT_LT(IndexOf("complete:frame:" + site_->Url("/frame2.html")),
              IndexOf("complete:frame:" + site_->Url("/frame1.html")));
}

TEST_F(NavigationEventsTest, CancelledTopLevelNavigationLeavesPageTitleAndHistory) {
    Load("/a.html");
    Load("/c.html");
    ASSERT_TRUE(WaitFor([&] {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return t && std::string(t) == "C";
    }));
    const std::string b = site_->Url("/b.html");
    int cancelled = 0;
    bool completed = false;
    browser_->OnBeforeNavigate2 = [&](TBrowserControl&, const TBrowserDispatch& pDisp,
                                      std::string& URL, int32_t&, std::string&, std::string&,
                                      std::string&, bool& Cancel) {
        if (pDisp == browser_->BrowserDispatch() && URL == b) {
            Cancel = true;
            ++cancelled;
        }
    };
    browser_->OnNavigateComplete2 = [&](TBrowserControl&, const TBrowserDispatch&, std::string&) {
        completed = true;
    };
    WebKitBackForwardList* history = webkit_web_view_get_back_forward_list(browser_->WebView());
    const guint length = webkit_back_forward_list_get_length(history);

    // Started by the host: refused before any request.
    browser_->Navigate(b);
    ASSERT_TRUE(WaitFor([&] { return cancelled == 1; }));
    // Started by the page (a link): refused at its response.
    RunScript("location.href = '/b.html'");
    ASSERT_TRUE(WaitFor([&] { return cancelled == 2; }));
    Settle(std::chrono::milliseconds(500));

    EXPECT_FALSE(completed);
    EXPECT_EQ(browser_->LocationURL(), site_->Url("/c.html"));
    EXPECT_STREQ(webkit_web_view_get_uri(browser_->WebView()), site_->Url("/c.html").c_str());
    EXPECT_STREQ(webkit_web_view_get_title(browser_->WebView()), "C");
    EXPECT_EQ(webkit_back_forward_list_get_length(history), length);
    EXPECT_EQ(browser_->ReadyState(), READYSTATE_COMPLETE);
    // The page is still alive and scriptable.
    RunScript("document.title = 'still C'");
    EXPECT_TRUE(WaitFor([&] {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return t && std::string(t) == "still C";
    }));
}

TEST_F(NavigationEventsTest, FailedLoadIsReportedAndEitherKeepsThePageOrShowsTheErrorPage) {
    Load("/a.html");
    const std::string refused = site_->Url("/refused.html");
    std::vector<std::string> failed;
    bool keep = true;
    browser_->OnNavigateError = [&](TBrowserControl&, const TBrowserDispatch& pDisp,
                                    std::string& URL, std::string&, int32_t&, bool& Cancel) {
        EXPECT_TRUE(pDisp == browser_->BrowserDispatch());
        failed.push_back(URL);
        Cancel = keep;
    };
    // The relay closes the request unanswered, as the firewall refuses.
    RunScript("location.href = '/refused.html'");
    ASSERT_TRUE(WaitFor([&] { return failed.size() == 1; }));
    Settle(std::chrono::milliseconds(500));
    EXPECT_EQ(failed[0], refused);
    EXPECT_EQ(browser_->LocationURL(), site_->Url("/a.html"));
    EXPECT_STREQ(webkit_web_view_get_title(browser_->WebView()), "A"); // no error page
    EXPECT_EQ(browser_->ReadyState(), READYSTATE_COMPLETE);

    // Not kept: the host's page stands under the failed address, and its
    // button asks for that address again.
    keep = false;
    browser_->Navigate(refused);
    ASSERT_TRUE(WaitFor([&] {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return t && std::string(t) == "페이지를 열 수 없습니다" &&
               browser_->ReadyState() == READYSTATE_COMPLETE;
    }));
    EXPECT_EQ(browser_->LocationURL(), refused);
    RunScript("document.querySelector('button').click()");
    EXPECT_TRUE(WaitFor([&] { return failed.size() == 3; }));
}

TEST_F(NavigationEventsTest, CancelledFrameNavigationIsNeverRequested) {
    Record();
    auto record = browser_->OnBeforeNavigate2;
    browser_->OnBeforeNavigate2 = [&](TBrowserControl& sender, const TBrowserDispatch& pDisp,
                                      std::string& URL, int32_t& Flags, std::string& Target,
                                      std::string& Post, std::string& Headers, bool& Cancel) {
        record(sender, pDisp, URL, Flags, Target, Post, Headers, Cancel);
        Cancel = URL.find("blocked-frame") != std::string::npos;
    };
    Load("/cancel-frame.html");
    ASSERT_TRUE(WaitFor([&] { return site_->Logged("site GET /ok-frame.html"); }));
    Settle(std::chrono::milliseconds(300));
    EXPECT_EQ(Count("before:frame:" + site_->Url("/blocked-frame.html")), 1);
    EXPECT_FALSE(site_->Logged("blocked-frame"));
    EXPECT_EQ(Count("complete:frame:" + site_->Url("/blocked-frame.html")), 0);
    EXPECT_EQ(Count("complete:frame:" + site_->Url("/ok-frame.html")), 1);
}

TEST_F(NavigationEventsTest, CommandStateFollowsBackAndForward) {
    std::vector<std::string> states;
    browser_->OnCommandStateChange = [&](TBrowserControl&, int32_t Command, bool Enable) {
        if (Command != -1)
            states.push_back(std::to_string(Command) + (Enable ? "+" : "-"));
    };
    auto last = [&](int command) {
        for (auto it = states.rbegin(); it != states.rend(); ++it)
            if ((*it)[0] == '0' + command)
                return *it;
        return std::string();
    };
    Load("/a.html");
    Load("/b.html");
    ASSERT_TRUE(WaitFor([&] { return last(2) == "2+"; }));
    EXPECT_NE(last(1), "1+");

    std::string complete;
    browser_->OnDocumentComplete = [&](TBrowserControl&, const TBrowserDispatch&, std::string& U) {
        complete = U;
    };
    browser_->GoBack();
    ASSERT_TRUE(WaitFor([&] { return last(1) == "1+" && last(2) == "2-"; }));
    ASSERT_TRUE(WaitFor([&] { return complete == site_->Url("/a.html"); }));
    EXPECT_EQ(browser_->LocationURL(), site_->Url("/a.html"));
    browser_->GoBack(); // at the start of the history: nothing happens
    browser_->GoForward();
    ASSERT_TRUE(WaitFor([&] { return last(1) == "1-" && last(2) == "2+"; }));
    EXPECT_TRUE(WaitFor([&] { return browser_->LocationURL() == site_->Url("/b.html"); }));
}

TEST_F(NavigationEventsTest, StatusTextShowsTheAddressWhileLoadingThenEmpty) {
    std::vector<std::string> texts;
    browser_->OnStatusTextChange = [&](TBrowserControl&, const std::string& Text) {
        texts.push_back(Text);
    };
    Load("/a.html");
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], site_->Url("/a.html"));
    EXPECT_EQ(texts.back(), "");
}

TEST_F(NavigationEventsTest, BlankPageCompletesAndDocumentAppears) {
    EXPECT_FALSE(browser_->Document().Exists());
    browser_->ActivateDocument(); // no document yet: nothing happens
    browser_->OpenBlankPage(true);
    EXPECT_EQ(browser_->ReadyState(), READYSTATE_COMPLETE);
    EXPECT_EQ(browser_->LocationURL(), "about:blank");
}

} // namespace
} // namespace orvalis::browser::test
