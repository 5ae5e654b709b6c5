#include "browser/AddressCombo.h"

#include "BrowserTestSupport.h"
#include "TempDir.h"
#include "browser/TypedUrls.h"

#include <cstdlib>

namespace orvalis::browser::test {
namespace {

// The address bar above a browser in a real window, with the user's store in
// a temporary config folder; keys come through the X server.
class AddressComboTest : public BrowserTest {
protected:
    void SetUp() override {
        BrowserTest::SetUp();
        setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
        store_ = TUserRegistry(); // where the bar will look
    }
    void TearDown() override {
        bar_ = nullptr;
        BrowserTest::TearDown();
        unsetenv("XDG_CONFIG_HOME");
    }

    void Store(const std::vector<std::string>& urls, const std::string& startPage = {}) {
        std::vector<std::pair<std::string, std::string>> values;
        for (std::size_t i = 0; i < urls.size(); ++i)
            values.emplace_back("Url" + std::to_string(i + 1), urls[i]);
        ASSERT_TRUE(store_.WriteStrings(kTypedUrlsKey, values));
        if (!startPage.empty()) {
            ASSERT_TRUE(store_.WriteStrings(kMainKey, {{kStartPageName, startPage}}));
        }
    }
    std::string Stored(int i) {
        return store_.ReadString(kTypedUrlsKey, "Url" + std::to_string(i)).value_or("<none>");
    }

    // A new bar (the load reads the store) and browser in the window.
    void MakeBar() {
        window_->unset_child();
        box_ = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
        bar_ = Gtk::make_managed<TAddressCombo>();
        browser_ = Gtk::make_managed<TBrowserHost>();
        browser_->SetUserAgentMode(TUserAgentMode::uaInternal);
        browser_->SetUserAgentText(kAgent);
        box_->append(*bar_);
        box_->append(*browser_);
        window_->set_child(*box_);
        bar_->SetLinkedBrowser(browser_);
        browser_->OnBeforeNavigate2 = [this](TBrowserControl&, const TBrowserDispatch& pDisp,
                                             std::string& URL, int32_t&, std::string&, std::string&,
                                             std::string&, bool&) {
            if (pDisp == browser_->BrowserDispatch()) {
                navigations_.push_back(URL);
                textsAtNavigation_.push_back(bar_->Text());
            }
        };
    }
    void ReplaceBar() {
        box_->remove(*bar_);
        bar_ = Gtk::make_managed<TAddressCombo>();
        box_->prepend(*bar_);
        bar_->SetLinkedBrowser(browser_);
    }

    void FocusBar() {
        XDo("search --sync --name '^" + window_->get_title() + "$' windowfocus --sync");
        ASSERT_TRUE(WaitFor([&] { return window_->is_active(); }));
        bar_->Entry().grab_focus();
        // The entry's text field inside it takes the focus.
        ASSERT_TRUE(WaitFor([&] {
            GtkWidget* f = gtk_root_get_focus(GTK_ROOT(window_->gobj()));
            return f && gtk_widget_is_ancestor(f, GTK_WIDGET(bar_->Entry().gobj()));
        }));
    }
    void XDo(const std::string& args) {
        const std::string command = "xdotool " + args + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    // Presses the keys and lets the window handle them.
    void Keys(const std::string& keys, const std::function<bool()>& done) {
        XDo("key --delay 40 " + keys);
        EXPECT_TRUE(WaitFor(done)) << "after keys " << keys;
    }
    std::string Url(const std::string& path) { return site_->Url(path); }
    // Waits until the bar has taken in the page its navigation loaded.
    bool Settled(const std::string& url) {
        return WaitFor([&] { return !bar_->Items().empty() && bar_->Items().front() == url; });
    }

    TempDir config_;
    TUserRegistry store_;
    Gtk::Box* box_ = nullptr;
    TAddressCombo* bar_ = nullptr;
    std::vector<std::string> navigations_;
    std::vector<std::string> textsAtNavigation_;
};

TEST_F(AddressComboTest, StartsWithTheStartPageAndTheStoredListAndItsHint) {
    Store(
        {"http://www.velmora.com/main/", "http://www.velmora.com/main", "http://news.velmora.com/"},
        "http://www.velmora.co.kr/");
    MakeBar();
    EXPECT_EQ(bar_->Text(), "http://www.velmora.co.kr/");
    EXPECT_EQ(bar_->Items(), (std::vector<std::string>{"http://www.velmora.com/main/",
                                                       "http://news.velmora.com/"}));
    EXPECT_EQ(bar_->get_tooltip_text(), "주소표시줄(F6)");
    // The window sets the page's address: the browser goes nowhere.
    bar_->SetText("http://www.velmora.com/x");
    Settle(std::chrono::milliseconds(300));
    EXPECT_TRUE(navigations_.empty());
    EXPECT_EQ(bar_->Text(), "http://www.velmora.com/x");
}

TEST_F(AddressComboTest, EnterWithAnEmptyTextDoesNothing) {
    MakeBar();
    FocusBar();
    Keys("Return Down", [] { return true; });
    Settle(std::chrono::milliseconds(500));
    EXPECT_TRUE(navigations_.empty());
    EXPECT_FALSE(bar_->DroppedDown());
    EXPECT_FALSE(g_file_test(store_.Path().c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(AddressComboTest, EnterGoesToExactlyTheTypedTextShowsProgressAndKeepsIt) {
    MakeBar();
    double most = 0;
    bar_->Entry().property_progress_fraction().signal_changed().connect(
        [&] { most = std::max(most, bar_->Entry().get_progress_fraction()); });
    const std::string typed = Url("/folder");
    FocusBar();
    XDo("type --delay 20 '" + typed + "'");
    ASSERT_TRUE(WaitFor([&] { return bar_->Text() == typed; })) << bar_->Text();
    Keys("Return", [&] { return !navigations_.empty(); });
    ASSERT_EQ(navigations_.size(), 1u);
    EXPECT_EQ(navigations_[0], typed);
    // The bar's text alone got the trailing "/".
    EXPECT_EQ(textsAtNavigation_[0], typed + "/");

    // Once loaded: the browser's address, first in the list; the list was
    // saved before it joined.
    ASSERT_TRUE(Settled(typed));
    EXPECT_EQ(bar_->Text(), typed);
    EXPECT_EQ(Stored(1), "<none>");
    EXPECT_GT(most, 0.0);
    EXPECT_TRUE(WaitFor([&] { return bar_->Entry().get_progress_fraction() == 0.0; }));
    EXPECT_TRUE(WaitFor([&] { return bar_->get_tooltip_text() == "Missing"; })); // page title
}

TEST_F(AddressComboTest, ArrowsWalkTheListAndEnterTakesTheChosenEntryToTheTop) {
    const std::vector<std::string> urls{Url("/a.html"), Url("/b.html"), Url("/c.html"),
                                        Url("/keys.html")};
    Store(urls);
    MakeBar();
    FocusBar();
    Keys("Down", [&] { return bar_->DroppedDown(); });
    EXPECT_EQ(bar_->ItemIndex(), -1);
    Keys("Up", [] { return true; });
    Settle(std::chrono::milliseconds(200));
    EXPECT_EQ(bar_->ItemIndex(), -1) << "Up with nothing chosen chose an entry";
    Keys("Down Down Down", [&] { return bar_->ItemIndex() == 2; });
    EXPECT_EQ(bar_->Text(), urls[2]);
    Keys("Up", [&] { return bar_->ItemIndex() == 1; });
    EXPECT_EQ(bar_->Text(), urls[1]);
    Keys("Down", [&] { return bar_->ItemIndex() == 2; });
    EXPECT_EQ(bar_->Text(), urls[2]);
    Settle(std::chrono::milliseconds(300));
    EXPECT_TRUE(navigations_.empty()) << "arrow keys navigated";

    Keys("Return", [&] { return !navigations_.empty(); });
    EXPECT_EQ(navigations_, std::vector<std::string>{urls[2]});
    EXPECT_FALSE(bar_->DroppedDown());
    EXPECT_EQ(bar_->Items(), (std::vector<std::string>{urls[2], urls[0], urls[1], urls[3]}));
    EXPECT_EQ(Stored(1), urls[2]);
    EXPECT_EQ(Stored(2), urls[0]);
    EXPECT_EQ(Stored(3), urls[1]);
    EXPECT_EQ(Stored(4), urls[3]);
    ASSERT_TRUE(Settled(urls[2]));
    EXPECT_EQ(navigations_.size(), 1u);
}

TEST_F(AddressComboTest, TypingOrEscapeClosesTheOpenList) {
    Store({Url("/a.html"), Url("/b.html")}, Url("/a.html"));
    MakeBar();
    FocusBar();
    Keys("Down", [&] { return bar_->DroppedDown(); });
    EXPECT_EQ(bar_->ItemIndex(), 0); // the entry equal to the text
    Keys("End x", [&] { return !bar_->DroppedDown(); });
    EXPECT_EQ(bar_->Text(), Url("/a.htmlx"));
    Keys("Down", [&] { return bar_->DroppedDown(); });
    Keys("Escape", [&] { return !bar_->DroppedDown(); });
    Keys("alt+Down", [&] { return bar_->DroppedDown(); });
    Keys("alt+Up", [&] { return !bar_->DroppedDown(); });
    EXPECT_TRUE(navigations_.empty());
}

TEST_F(AddressComboTest, DownStopsAtTheTwentyFifthEntry) {
    std::vector<std::string> urls;
    for (int i = 1; i <= 26; ++i)
        urls.push_back("http://www.velmora.com/p" + std::string(i < 10 ? "0" : "") +
                       std::to_string(i) + "/");
    Store(urls);
    MakeBar();
    ASSERT_EQ(bar_->Items().size(), 25u);
    FocusBar();
    Keys("Down", [&] { return bar_->DroppedDown(); });
    std::string downs;
    for (int i = 0; i < 25; ++i)
        downs += " Down";
    Keys(downs, [&] { return bar_->ItemIndex() == 24; });
    EXPECT_EQ(bar_->Text(), urls[24]);
    Keys("Down Down", [] { return true; });
    Settle(std::chrono::milliseconds(300));
    EXPECT_EQ(bar_->ItemIndex(), 24);
    EXPECT_EQ(bar_->Text(), urls[24]);
    EXPECT_TRUE(bar_->DroppedDown());
}

TEST_F(AddressComboTest, TheListIsSavedOnceANavigationAndSurvivesARestart) {
    Store({Url("/a.html")}, "http://www.velmora.co.kr/");
    MakeBar();
    int saves = 0;
    bar_->OnUpdateRegistry = [&](const std::string&, bool&) { ++saves; };
    for (const std::string& url : {Url("/b.html"), Url("/c.html")}) {
        bar_->SetText(url);
        FocusBar();
        Keys("Return", [&] { return !navigations_.empty() && navigations_.back() == url; });
        ASSERT_TRUE(Settled(url));
    }
    EXPECT_EQ(saves, 2);

    // The last address joined the list after its save.
    ReplaceBar();
    EXPECT_EQ(bar_->Items(), (std::vector<std::string>{Url("/b.html"), Url("/a.html")}));
    EXPECT_EQ(bar_->Text(), "http://www.velmora.co.kr/");

    // Without its browser the bar still keeps what is typed.
    box_->remove(*browser_);
    browser_ = nullptr;
    EXPECT_EQ(bar_->LinkedBrowser(), nullptr);
    bar_->SetText(Url("/d.html"));
    FocusBar();
    Keys("Return", [&] { return bar_->Items().front() == Url("/d.html"); });
}

TEST_F(AddressComboTest, TypedTextsWithoutSchemeOrNamingAFolderAreCompleted) {
    MakeBar();
    const std::string bare = "site.test:" + std::to_string(site_->SitePort) + "/a.html";
    browser_->NavigateToText("  " + bare + "  ");
    ASSERT_TRUE(WaitFor([&] { return navigations_.size() == 1; }));
    EXPECT_EQ(navigations_[0], "http://" + bare);
    ASSERT_TRUE(WaitFor([&] { return browser_->LocationURL() == "http://" + bare; }));

    TempDir folder;
    browser_->NavigateToText(folder.Path());
    ASSERT_TRUE(WaitFor([&] { return navigations_.size() == 2; }));
    EXPECT_EQ(navigations_[1], "file://" + folder.Path());

    browser_->NavigateToText(" \t ");
    Settle(std::chrono::milliseconds(300));
    EXPECT_EQ(navigations_.size(), 2u);

    // The go button completes the text as Enter does.
    bar_->SetText(bare);
    bar_->Go();
    ASSERT_TRUE(WaitFor([&] { return navigations_.size() == 3; }));
    EXPECT_EQ(navigations_[2], "http://" + bare);
}

} // namespace
} // namespace orvalis::browser::test
