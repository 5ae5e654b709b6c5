#include "BrowserTestSupport.h"

#include <cstdlib>

namespace orvalis::browser::test {
namespace {

class FocusKeysTest : public BrowserTest {
protected:
    // Real key and wheel events through the X server.
    void XDo(const std::string& args) {
        const std::string command = "xdotool " + args + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    void FocusWindow() {
        XDo("search --sync --name '^" + window_->get_title() + "$' windowfocus --sync");
    }
    std::string Title() {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return t ? t : "";
    }
};

TEST_F(FocusKeysTest, CtrlNNeverReachesThePageWhileCtrlMDoes) {
    std::vector<char> masked;
    browser_->OnMaskedCtrlChar = [&](TCustomBrowserHost&, char MaskedChar) {
        masked.push_back(MaskedChar);
    };
    Load("/keys.html");
    browser_->ActivateDocument();
    FocusWindow();
    ASSERT_TRUE(WaitFor([&] { return window_->is_active(); }));
    XDo("key ctrl+n ctrl+alt+n ctrl+shift+n ctrl+m");
    ASSERT_TRUE(WaitFor([&] { return Title().find("-m") != std::string::npos; }));
    // Ctrl+Shift+N passes; plain and Alt-ed Ctrl+N are swallowed.
    EXPECT_EQ(Title(), "keys:-Sn-m");
    EXPECT_EQ(masked, (std::vector<char>{'N', 'N'}));
}

TEST_F(FocusKeysTest, EmptyShortcutListSwallowsNothing) {
    browser_->DisableCtrlShortcuts.clear();
    Load("/keys.html");
    browser_->ActivateDocument();
    FocusWindow();
    ASSERT_TRUE(WaitFor([&] { return window_->is_active(); }));
    XDo("key ctrl+n ctrl+m");
    ASSERT_TRUE(WaitFor([&] { return Title().find("-m") != std::string::npos; }));
    EXPECT_EQ(Title(), "keys:-n-m");
}

TEST_F(FocusKeysTest, FirstWheelNotchOverThePageFocusesItWithoutScrolling) {
    // An entry beside the page holds the focus at first.
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    auto* entry = Gtk::make_managed<Gtk::Entry>();
    window_->unset_child();
    browser_ = Gtk::make_managed<TBrowserHost>();
    browser_->SetUserAgentMode(TUserAgentMode::uaInternal);
    browser_->SetUserAgentText(kAgent);
    box->append(*entry);
    box->append(*browser_);
    window_->set_child(*box);
    Load("/tall.html");
    FocusWindow();
    entry->grab_focus();
    ASSERT_TRUE(WaitFor([&] {
        GtkWidget* f = gtk_root_get_focus(GTK_ROOT(window_->gobj()));
        return f && (f == GTK_WIDGET(entry->gobj()) ||
                     gtk_widget_is_ancestor(f, GTK_WIDGET(entry->gobj())));
    }));

    auto scrollY = [&] {
        int y = -1;
        bool done = false;
        browser_->Document().GetBox([&](std::optional<TDocumentBox>) { done = true; });
        WaitFor([&] { return done; });
        webkit_web_view_evaluate_javascript(
            browser_->WebView(), "window.scrollY", -1, nullptr, nullptr, nullptr,
            [](GObject* v, GAsyncResult* r, gpointer data) {
                JSCValue* value =
                    webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(v), r, nullptr);
                *static_cast<int*>(data) = value ? jsc_value_to_int32(value) : -2;
                if (value)
                    g_object_unref(value);
            },
            &y);
        WaitFor([&] { return y != -1; });
        return y;
    };
    XDo("mousemove --window $(xdotool search --name '^" + window_->get_title() + "$') 400 300");
    XDo("click 5");
    ASSERT_TRUE(WaitFor([&] {
        GtkWidget* f = gtk_root_get_focus(GTK_ROOT(window_->gobj()));
        return f && (f == GTK_WIDGET(browser_->WebView()) ||
                     gtk_widget_is_ancestor(f, GTK_WIDGET(browser_->WebView())));
    }));
    Settle(std::chrono::milliseconds(300));
    EXPECT_EQ(scrollY(), 0);
    XDo("click 5");
    EXPECT_TRUE(WaitFor([&] { return scrollY() > 0; }));
}

TEST_F(FocusKeysTest, DialogsOfTheWindowGetItsIconAndTheApplicationsTitle) {
    window_->set_icon_name("orvalis-test-icon");
    browser_->DialogBoxes.NewCaption = "Orvalis v0.11b";
    Gtk::Window dialog;
    dialog.set_title("Some engine dialog");
    dialog.set_transient_for(*window_);
    EXPECT_EQ(dialog.get_title(), "Some engine dialog");
    EXPECT_EQ(dialog.get_icon_name(), "orvalis-test-icon");
    Gtk::Window untitled;
    untitled.set_transient_for(*window_);
    EXPECT_EQ(untitled.get_title(), "Orvalis v0.11b");
    EXPECT_EQ(TBrowserHost::DialogCaption("Microsoft Internet Explorer", "Orvalis"), "Orvalis");
    EXPECT_EQ(TBrowserHost::DialogCaption("Microsoft Internet Explorer에서 보낸 메시지", "Orvalis"),
              "Orvalis에서 보낸 메시지");
    EXPECT_EQ(TBrowserHost::DialogCaption("Internet Explorer - Microsoft Internet Explorer", "O"),
              "O - Internet Explorer");

    Gtk::Window other; // not the page's: left alone
    other.set_title("Elsewhere");
    EXPECT_EQ(other.get_title(), "Elsewhere");
}

} // namespace
} // namespace orvalis::browser::test
