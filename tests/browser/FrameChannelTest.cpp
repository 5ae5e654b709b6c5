#include "BrowserTestSupport.h"

namespace orvalis::browser::test {
namespace {

using FrameChannelTest = BrowserTest;

std::optional<TDocumentBox> BoxOf(const TBrowserDocument& document) {
    std::optional<TDocumentBox> box;
    bool done = false;
    document.GetBox([&](std::optional<TDocumentBox> b) {
        box = b;
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done; }));
    return box;
}

TEST_F(FrameChannelTest, CompletedDocumentsGiveTheirPlaceAndRunStatements) {
    std::optional<TBrowserDispatch> frame1;
    Record();
    auto record = browser_->OnDocumentComplete;
    browser_->OnDocumentComplete = [&](TBrowserControl& sender, const TBrowserDispatch& pDisp,
                                       std::string& URL) {
        record(sender, pDisp, URL);
        if (URL == site_->Url("/frame1.html"))
            frame1 = pDisp;
    };
    Load("/frames.html");
    ASSERT_TRUE(frame1.has_value());

    // The top level fills the browser area from its corner.
    auto top = BoxOf(browser_->Document());
    ASSERT_TRUE(top.has_value());
    EXPECT_EQ(top->Left, 0);
    EXPECT_EQ(top->Top, 0);
    EXPECT_EQ(top->Width, browser_->get_width());

    // The frame sits inside its element's 2-pixel border at (10, 20).
    auto box = BoxOf(browser_->Document(*frame1));
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->Left, 12);
    EXPECT_EQ(box->Top, 22);
    EXPECT_EQ(box->Width, 300);

    bool ran = false, done = false;
    browser_->Document(*frame1).ExecScript("document.body.setAttribute('data-fixed', 'yes')",
                                           [&](bool ok) {
                                               ran = ok;
                                               done = true;
                                           });
    ASSERT_TRUE(WaitFor([&] { return done; }));
    EXPECT_TRUE(ran);
    RunScript("document.title = document.getElementById('f1').contentDocument.body"
              ".getAttribute('data-fixed')");
    EXPECT_TRUE(WaitFor([&] {
        const char* t = webkit_web_view_get_title(browser_->WebView());
        return t && std::string(t) == "yes";
    }));

    // A failing statement reports failure; the channel stays usable.
    done = false;
    browser_->Document(*frame1).ExecScript("throw new Error('x')", [&](bool ok) {
        ran = ok;
        done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return done; }));
    EXPECT_FALSE(ran);
    EXPECT_TRUE(BoxOf(browser_->Document(*frame1)).has_value());

    // Once the page is left, the old frame's document is gone.
    Load("/a.html");
    EXPECT_FALSE(browser_->Document(*frame1).Exists());
    EXPECT_FALSE(BoxOf(browser_->Document(*frame1)).has_value());
    EXPECT_TRUE(WaitFor([&] { return browser_->Document().Exists(); }));
}

} // namespace
} // namespace orvalis::browser::test
