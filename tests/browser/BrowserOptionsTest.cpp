#include "browser/BrowserOptions.h"

#include "browser/SpellChecking.h"
#include "browser/UriText.h"

#include <gtest/gtest.h>

namespace orvalis::browser {
namespace {

TEST(BrowserOptionsTest, ProgramSettingsGiveTheirFlagWords) {
    const TDownloadOptions download{TDownloadOption::DownloadImages,
                                    TDownloadOption::DownloadVideos,
                                    TDownloadOption::DontDownloadActiveX};
    const TUserInterfaceOptions ui{TUserInterfaceOption::DontUse3DBorders,
                                   TUserInterfaceOption::EnableThemes};
    EXPECT_EQ(download.Flags(), 0x430u);
    EXPECT_EQ(ui.Flags(), 0x40004u);
    EXPECT_EQ(TDownloadOptions{}.Flags(), 0u);
    EXPECT_EQ(TUserInterfaceOptions{}.Flags(), 0u);
    // A member named twice counts once.
    EXPECT_EQ(
        (TDownloadOptions{TDownloadOption::WorkOffline, TDownloadOption::WorkOffline}.Flags()),
        0x80000000u);
    EXPECT_TRUE(download.Contains(TDownloadOption::DownloadVideos));
    EXPECT_FALSE(download.Contains(TDownloadOption::DownloadBGSounds));
}

TEST(BrowserOptionsTest, CtrlShortcutFilterMasksListedKeysWithCtrlAndWithoutShift) {
    const std::string masked = "N";
    auto key = [](char k, bool ctrl, bool shift, bool alt) {
        TKeyMessage m;
        m.Key = k;
        m.Ctrl = ctrl;
        m.Shift = shift;
        m.Alt = alt;
        return m;
    };
    EXPECT_TRUE(IsMaskedCtrlKeyIn(masked, key('N', true, false, false)));
    EXPECT_TRUE(IsMaskedCtrlKeyIn(masked, key('N', true, false, true))); // Alt is not looked at
    EXPECT_FALSE(IsMaskedCtrlKeyIn(masked, key('N', true, true, false)));
    EXPECT_FALSE(IsMaskedCtrlKeyIn(masked, key('N', false, false, false)));
    EXPECT_FALSE(IsMaskedCtrlKeyIn(masked, key('M', true, false, false)));
    EXPECT_FALSE(IsMaskedCtrlKeyIn("", key('N', true, false, false)));
    EXPECT_FALSE(IsMaskedCtrlKeyIn(masked, key(0, true, false, false)));
    TKeyMessage up = key('N', true, false, false);
    up.KeyDown = false;
    EXPECT_FALSE(IsMaskedCtrlKeyIn(masked, up));
    EXPECT_FALSE(IsMaskedCtrlKeyIn("n", key('N', true, false, false))); // case-sensitive
}

TEST(BrowserOptionsTest, AddressesAreComparedInTheEnginesSpelling) {
    EXPECT_EQ(NormalizedUri("HTTP://WWW.Example.COM"), "http://www.example.com/");
    EXPECT_EQ(NormalizedUri("http://a.test:80/x?q=A#F"), "http://a.test/x?q=A#F");
    EXPECT_EQ(NormalizedUri("http://a.test:8080/p"), "http://a.test:8080/p");
    EXPECT_EQ(NormalizedUri("about:blank"), "about:blank");
    EXPECT_EQ(NormalizedUri("not a uri"), "not a uri");
    EXPECT_EQ(NormalizedUri(""), "");
}

TEST(BrowserOptionsTest, SpellingIsCheckedInOneKoreanAndOneEnglishDictionary) {
    EXPECT_EQ(SpellCheckingLanguages({"de_DE", "en_GB", "en_US", "ko_KR"}),
              (std::vector<std::string>{"ko_KR", "en_US"}));
    EXPECT_EQ(SpellCheckingLanguages({"en_AU", "en_GB", "fr"}),
              (std::vector<std::string>{"en_AU"}));
    EXPECT_TRUE(SpellCheckingLanguages({"de_DE", "english"}).empty());
}

} // namespace
} // namespace orvalis::browser
