#include "BrowserTestSupport.h"

namespace orvalis::browser::test {
namespace {

using HostSettingsTest = BrowserTest;

TEST_F(HostSettingsTest, ProxySeesExactlyTheUserAgentSet) {
    Load("/a.html");
    EXPECT_TRUE(site_->Logged("relayA GET " + site_->Url("/a.html") + "|" + kAgent));
    EXPECT_TRUE(site_->Logged("site GET /a.html|" + kAgent));
    EXPECT_EQ(browser_->AppliedUserAgent(), kAgent);

    // Back to the engine's own text in the default mode.
    browser_->SetUserAgentMode(TUserAgentMode::uaDefault);
    EXPECT_EQ(browser_->AppliedUserAgent(), "");
    Load("/b.html");
    bool ownAgent = false;
    for (const auto& line : site_->Log())
        if (line.rfind("site GET /b.html|", 0) == 0)
            ownAgent = line.find("Orvalis") == std::string::npos && line.size() > 20;
    EXPECT_TRUE(ownAgent);
}

TEST_F(HostSettingsTest, SecondApplyProxyStaysInForce) {
    ASSERT_TRUE(TProxySettings::ApplyProxy(kAgent, "localhost:" + std::to_string(site_->RelayB)));
    EXPECT_TRUE(TProxySettings::ProxyApplied());
    Load("/c.html");
    EXPECT_TRUE(site_->Logged("relayB GET " + site_->Url("/c.html")));
    EXPECT_FALSE(site_->Logged("relayA GET " + site_->Url("/c.html")));
}

TEST_F(HostSettingsTest, MalformedProxyServerIsRefused) {
    for (const char* server : {"", "localhost", "localhost:", ":8080", "localhost:0",
                               "localhost:65536", "localhost:80x", "local host:80", "a/b:80"}) {
        EXPECT_FALSE(TProxySettings::ApplyProxy(kAgent, server)) << server;
        EXPECT_FALSE(TProxySettings::ProxyApplied()) << server;
    }
    EXPECT_TRUE(TProxySettings::ApplyProxy(kAgent, "[::1]:8080"));
    EXPECT_TRUE(TProxySettings::ApplyProxy(kAgent, "localhost:" + std::to_string(site_->RelayA)));
}

TEST_F(HostSettingsTest, OptionsGiveFlagsAndEngineSwitches) {
    // The component's defaults, then the main window's settings.
    EXPECT_EQ(browser_->DownloadControlFlags(), 0x70u);
    EXPECT_EQ(browser_->HostUIFlags(), 0x44000u);
    browser_->SetDownloadOptions({TDownloadOption::DownloadImages, TDownloadOption::DownloadVideos,
                                  TDownloadOption::DontDownloadActiveX});
    browser_->SetUserInterfaceOptions(
        {TUserInterfaceOption::DontUse3DBorders, TUserInterfaceOption::EnableThemes});
    EXPECT_EQ(browser_->DownloadControlFlags(), 0x430u);
    EXPECT_EQ(browser_->HostUIFlags(), 0x40004u);
    WebKitSettings* settings = webkit_web_view_get_settings(browser_->WebView());
    EXPECT_TRUE(webkit_settings_get_auto_load_images(settings));
    EXPECT_TRUE(webkit_settings_get_enable_media(settings));
    EXPECT_TRUE(webkit_settings_get_enable_javascript_markup(settings));

    browser_->SetDownloadOptions({TDownloadOption::DontExecuteScripts});
    browser_->SetUserInterfaceOptions({});
    EXPECT_EQ(browser_->HostUIFlags(), 0u);
    EXPECT_FALSE(webkit_settings_get_auto_load_images(settings));
    EXPECT_FALSE(webkit_settings_get_enable_media(settings));
    EXPECT_FALSE(webkit_settings_get_enable_javascript_markup(settings));
    browser_->SetDownloadOptions({});
    EXPECT_EQ(browser_->DownloadControlFlags(), 0u);
}

} // namespace
} // namespace orvalis::browser::test
