#include "guard/NavigationGuard.h"

#include "guard/SiteHosts.h"

#include <gtest/gtest.h>

using namespace orvalis::guard;

namespace {

TEST(NavigationGuard, TopLevelStaysOnTheSite) {
    EXPECT_TRUE(AllowsTopLevelNavigation("about:blank"));
    EXPECT_TRUE(AllowsTopLevelNavigation("ABOUT:BLANK"));
    EXPECT_TRUE(AllowsTopLevelNavigation("JavaScript:void(0)"));
    EXPECT_TRUE(AllowsTopLevelNavigation("http://www.velmora.co.kr/"));
    EXPECT_TRUE(AllowsTopLevelNavigation("http://club.VELMORA.com/club"));
    EXPECT_TRUE(AllowsTopLevelNavigation("http://www.lumenet.com/"));
    // Loose by design: the fragment anywhere in the address lets it through.
    EXPECT_TRUE(AllowsTopLevelNavigation("http://foreign.example/?r=velmora.com"));
    EXPECT_FALSE(AllowsTopLevelNavigation("http://foreign.example/"));
    EXPECT_FALSE(AllowsTopLevelNavigation("about:blank#x"));
    EXPECT_FALSE(AllowsTopLevelNavigation("http://lumenet.com/"));
    EXPECT_FALSE(AllowsTopLevelNavigation(""));
}

TEST(NavigationGuard, OnlyWebAddressesCarryTheSite) {
    EXPECT_TRUE(AllowsTopLevelNavigation("HTTPS://www.velmora.com/"));
    for (const char* url :
         {"data:text/html,velmora.com", "blob:http://www.velmora.com/1f2e", "file:///velmora.com/",
          "view-source:http://www.velmora.com/", "webkit://gpu?velmora.com",
          "about:srcdoc#velmora.com", "ftp://velmora.com/", "data:,javascript:velmora.com"})
        EXPECT_FALSE(AllowsTopLevelNavigation(url)) << url;
}

TEST(PopupPolicy, SitePopupIsTakenIntoTheMainWindow) {
    TPopupPolicy policy;
    int32_t rezult = 1;
    std::string url = "http://home.velmora.com/?owner=42";
    policy.EvaluateNewWindow(url, rezult);
    EXPECT_EQ(rezult, 0);
    EXPECT_TRUE(policy.PendingPopup);
    bool cancel = false;
    EXPECT_EQ(policy.NewWindow(cancel), url);
    EXPECT_TRUE(cancel);
    EXPECT_FALSE(policy.PendingPopup);
    EXPECT_EQ(policy.PendingPopupUrl, url);
    // The next window, not pending, is left to the browser.
    cancel = false;
    EXPECT_EQ(policy.NewWindow(cancel), std::nullopt);
    EXPECT_FALSE(cancel);
}

TEST(PopupPolicy, OtherPopupsAreLeftAlone) {
    TPopupPolicy policy;
    for (const char* url : {"http://HOME.velmora.com/?x", "http://ads.example/pop",
                            "http://pims.velmora.com/pims/main/other.asp"}) {
        int32_t rezult = 7;
        policy.EvaluateNewWindow(url, rezult);
        EXPECT_EQ(rezult, 7) << url;
    }
    EXPECT_FALSE(policy.PendingPopup);
    int32_t rezult = 7;
    policy.EvaluateNewWindow("x http://club.velmora.com/club/main/club_main.asp?id=1", rezult);
    EXPECT_EQ(rezult, 0);
}

TEST(FixUp, DocumentMustCoverTheAreaWithinTheMargin) {
    EXPECT_TRUE(FillsBrowserArea({0, 0}, {800, 600}, 800, 600));
    EXPECT_TRUE(FillsBrowserArea({7, 7}, {793, 593}, 800, 600));
    EXPECT_FALSE(FillsBrowserArea({8, 0}, {800, 600}, 800, 600));
    EXPECT_FALSE(FillsBrowserArea({0, 8}, {800, 600}, 800, 600));
    EXPECT_FALSE(FillsBrowserArea({0, 0}, {792, 600}, 800, 600));
    EXPECT_FALSE(FillsBrowserArea({0, 0}, {800, 592}, 800, 600));
    EXPECT_TRUE(FillsBrowserArea({-20, -300}, {1200, 4000}, 800, 600));
}

} // namespace

TEST(SiteHosts, OnlyTheSiteDomainsAndTheirHosts) {
    EXPECT_TRUE(IsSiteHost("velmora.com"));
    EXPECT_TRUE(IsSiteHost("WWW.Velmora.co.kr"));
    EXPECT_FALSE(IsSiteHost("notvelmora.com"));
    EXPECT_FALSE(IsSiteHost("velmora.com.foreign.example"));
    EXPECT_FALSE(IsSiteHost("www.lumenet.com"));
    EXPECT_FALSE(IsSiteHost(".velmora.com."));
    EXPECT_FALSE(IsSiteHost(""));
}
