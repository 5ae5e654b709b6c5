#include "BrowserTestSupport.h"

namespace orvalis::browser::test {
namespace {

using PopupsDialogsTest = BrowserTest;

struct NewWindows {
    std::vector<std::string> Events;
    int32_t Answer = E_FAIL;
    bool Cancel = true;
};

void Watch(TBrowserHost& browser, NewWindows& seen) {
    browser.OnEvaluateNewWindow =
        [&seen](TCustomBrowserHost&, const std::string& pszUrl, const std::string& pszName,
                const std::string&, const std::string&, bool, uint32_t, uint32_t, int32_t& Rezult) {
            EXPECT_EQ(Rezult, E_FAIL);
            seen.Events.push_back("evaluate:" + pszUrl + ":" + pszName);
            Rezult = seen.Answer;
        };
    browser.OnNewWindow2 = [&seen](TBrowserControl&, TBrowserHost*& ppDisp, bool& Cancel) {
        EXPECT_EQ(ppDisp, nullptr);
        EXPECT_FALSE(Cancel);
        seen.Events.push_back("new");
        Cancel = seen.Cancel;
    };
}

TEST_F(PopupsDialogsTest, WindowOpenAndBlankTargetAreEvaluatedThenAnnounced) {
    NewWindows seen;
    seen.Answer = S_OK;
    Watch(*browser_, seen);
    Load("/popup.html");
    RunScript("document.getElementById('open').click()");
    ASSERT_TRUE(WaitFor([&] { return seen.Events.size() == 2; }));
    EXPECT_EQ(seen.Events[0].rfind("evaluate:" + site_->Url("/c.html") + ":", 0), 0u);
    EXPECT_EQ(seen.Events[1], "new");

    RunScript("document.getElementById('blank').click()");
    ASSERT_TRUE(WaitFor([&] { return seen.Events.size() == 4; }));
    EXPECT_EQ(seen.Events[2].rfind("evaluate:" + site_->Url("/b.html") + ":", 0), 0u);
    EXPECT_EQ(seen.Events[3], "new");
    // Cancelled: no window, no request.
    Settle(std::chrono::milliseconds(300));
    EXPECT_FALSE(site_->Logged("GET /c.html"));
    EXPECT_EQ(Gtk::Window::get_toplevels()->get_n_items(), 1u);
}

TEST_F(PopupsDialogsTest, RefusedOrUnrequestedPopupsAreBlocked) {
    NewWindows seen;
    seen.Answer = S_FALSE; // blocked by the handler: no OnNewWindow2
    Watch(*browser_, seen);
    Load("/popup.html");
    RunScript("document.getElementById('open').click()");
    ASSERT_TRUE(WaitFor([&] { return seen.Events.size() == 1; }));

    // Left to the blocker (E_FAIL): a page's own pop-up, nobody having clicked.
    seen.Answer = E_FAIL;
    seen.Cancel = false;
    Load("/autopopup.html");
    ASSERT_TRUE(WaitFor([&] { return seen.Events.size() == 2; }));
    EXPECT_EQ(seen.Events[1], "evaluate:" + site_->Url("/c.html?auto") + ":");
    Settle(std::chrono::milliseconds(300));
    EXPECT_EQ(seen.Events.size(), 2u);
    EXPECT_EQ(Gtk::Window::get_toplevels()->get_n_items(), 1u);
    EXPECT_FALSE(site_->Logged("c.html?auto"));
}

TEST_F(PopupsDialogsTest, PopupAllowedByTheHandlerOpensASecondaryWindowThroughTheProxy) {
    NewWindows seen;
    seen.Answer = S_OK;
    seen.Cancel = false;
    Watch(*browser_, seen);
    Load("/popup.html");
    RunScript("window.open('/c.html?popup')");
    ASSERT_TRUE(WaitFor([] { return Gtk::Window::get_toplevels()->get_n_items() == 2; }));
    EXPECT_TRUE(
        WaitFor([&] { return site_->Logged("relayA GET " + site_->Url("/c.html?popup")); }));
    // The page closes its pop-up.
    RunScript("window.open('', 'named').close()");
}

TEST_F(PopupsDialogsTest, AlertAndConfirmReachOnShowMessageAndThePageGetsTheAnswer) {
    std::vector<std::string> messages;
    std::vector<uint32_t> types;
    int32_t button = IDOK;
    browser_->OnShowMessage = [&](TCustomBrowserHost&, Gtk::Window* HWND,
                                  const std::string& lpstrText, const std::string&, uint32_t dwType,
                                  const std::string&, uint32_t, TMessageResult& plResult) {
        EXPECT_EQ(HWND, window_.get());
        messages.push_back(lpstrText);
        types.push_back(dwType);
        plResult.Set(button);
        return S_OK;
    };
    Load("/dialogs.html");
    auto title = [&] {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return std::string(t ? t : "");
    };
    RunScript("setTimeout(ask, 0)");
    ASSERT_TRUE(WaitFor([&] { return title() == "confirm:true"; }));
    button = IDCANCEL;
    RunScript("setTimeout(ask, 0)");
    ASSERT_TRUE(WaitFor([&] { return title() == "confirm:false"; }));
    RunScript("setTimeout(tell, 0)");
    ASSERT_TRUE(WaitFor([&] { return title() == "alerted"; }));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "Go on?");
    EXPECT_EQ(messages[2], "Hello \xec\x95\x88\xeb\x85\x95");
    EXPECT_EQ(types[0], MB_OKCANCEL | MB_ICONQUESTION);
    EXPECT_EQ(types[2], MB_OK | MB_ICONWARNING);
}

TEST_F(PopupsDialogsTest, AnswerMayComeLaterFromTheHandlersOwnDialog) {
    std::unique_ptr<TMessageResult> kept;
    browser_->OnShowMessage = [&](TCustomBrowserHost&, Gtk::Window*, const std::string&,
                                  const std::string&, uint32_t, const std::string&, uint32_t,
                                  TMessageResult& plResult) {
        kept = std::make_unique<TMessageResult>(std::move(plResult));
        return S_OK;
    };
    Load("/dialogs.html");
    RunScript("setTimeout(ask, 0)");
    ASSERT_TRUE(WaitFor([&] { return kept != nullptr; }));
    kept->Set(IDOK);
    EXPECT_TRUE(WaitFor([&] {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return t && std::string(t) == "confirm:true";
    }));
}

TEST_F(PopupsDialogsTest, SilentHostShowsNoMessageAndConfirmIsRefused) {
    browser_->SetSilent(true);
    Load("/dialogs.html");
    RunScript("setTimeout(ask, 0)");
    EXPECT_TRUE(WaitFor([&] {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return t && std::string(t) == "confirm:false";
    }));
}

} // namespace
} // namespace orvalis::browser::test
