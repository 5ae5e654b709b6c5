#include "TempDir.h"
#include "browser/AddressIcons.h"
#include "browser/TravelLog.h"
#include "browser/TypedUrls.h"

#include <fstream>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace orvalis::browser {
namespace {

using ::testing::ElementsAre;

TEST(NormalizeAddressText, AddsASlashOnlyAfterAFolderName) {
    EXPECT_EQ(NormalizeAddressText("http://www.velmora.com/club"), "http://www.velmora.com/club/");
    EXPECT_EQ(NormalizeAddressText("http://www.velmora.com/club/"), "http://www.velmora.com/club/");
    EXPECT_EQ(NormalizeAddressText("http://www.velmora.com/a.asp"), "http://www.velmora.com/a.asp");
    // The only "/" are the scheme's: the host stays bare.
    EXPECT_EQ(NormalizeAddressText("http://www.velmora.co.kr"), "http://www.velmora.co.kr");
    EXPECT_EQ(NormalizeAddressText("localhost/dir"), "localhost/dir/");
    EXPECT_EQ(NormalizeAddressText("about:blank"), "about:blank");
    EXPECT_EQ(NormalizeAddressText(""), "");
}

TEST(TypedUrlsFromValues, LeavesOutValuesFoundInEarlierEntries) {
    // The second is the first without its trailing "/": one entry.
    EXPECT_THAT(TypedUrlsFromValues({"http://a.com/", "http://a.com"}),
                ElementsAre("http://a.com/"));
    // The other way round both stay.
    EXPECT_THAT(TypedUrlsFromValues({"http://a.com", "http://a.com/"}),
                ElementsAre("http://a.com", "http://a.com/"));
    // Missing, empty and blank values are skipped; others are trimmed.
    EXPECT_THAT(TypedUrlsFromValues({std::nullopt, "", "   ", " http://b.com \t", "http://c.com"}),
                ElementsAre("http://b.com", "http://c.com"));
    // The test is case-sensitive.
    EXPECT_THAT(TypedUrlsFromValues({"http://A.com/x", "http://a.com/x"}),
                ElementsAre("http://A.com/x", "http://a.com/x"));
}

TEST(TypedUrlValues, WritesAtMostTwentyFourAndSkipsEmptyEntries) {
    std::vector<std::string> items;
    for (int i = 1; i <= 30; ++i)
        items.push_back("http://site" + std::to_string(i) + ".com/");
    const auto values = TypedUrlValues(items);
    ASSERT_EQ(values.size(), 24u);
    EXPECT_EQ(values.front(), (std::pair<std::string, std::string>{"Url1", "http://site1.com/"}));
    EXPECT_EQ(values.back(), (std::pair<std::string, std::string>{"Url24", "http://site24.com/"}));

    const auto gaps = TypedUrlValues({"http://a/", "", "http://c/"});
    EXPECT_THAT(gaps, ElementsAre(std::pair<std::string, std::string>{"Url1", "http://a/"},
                                  std::pair<std::string, std::string>{"Url3", "http://c/"}));
}

TEST(TypedUrlList, MovesAChosenEntryToTheTopAndAddsOnlyNewTexts) {
    std::vector<std::string> items{"a", "b", "c", "d"};
    MoveTypedUrlToTop(items, 2);
    EXPECT_THAT(items, ElementsAre("c", "a", "b", "d"));
    MoveTypedUrlToTop(items, 0);
    MoveTypedUrlToTop(items, 9);
    EXPECT_THAT(items, ElementsAre("c", "a", "b", "d"));
    AddTypedUrl(items, "b");
    EXPECT_THAT(items, ElementsAre("c", "a", "b", "d"));
    AddTypedUrl(items, "B");
    EXPECT_THAT(items, ElementsAre("B", "c", "a", "b", "d"));
}

TEST(TravelLogOffsets, ListsRelativeEntriesNearestFirst) {
    EXPECT_THAT(TBrowserTravelLog::EntryOffsets(TLEF_RELATIVE_BACK, 3, 2), ElementsAre(-1, -2, -3));
    EXPECT_THAT(TBrowserTravelLog::EntryOffsets(TLEF_RELATIVE_FORE, 3, 2), ElementsAre(1, 2));
    EXPECT_THAT(
        TBrowserTravelLog::EntryOffsets(TLEF_RELATIVE_BACK | TLEF_RELATIVE_INCLUDE_CURRENT, 2, 2),
        ElementsAre(-1, -2, 0));
    EXPECT_THAT(TBrowserTravelLog::EntryOffsets(TLEF_ABSOLUTE, 2, 1), ElementsAre(-2, -1, 0, 1));
    EXPECT_TRUE(TBrowserTravelLog::EntryOffsets(TLEF_RELATIVE_BACK, 0, 5).empty());
    EXPECT_TRUE(TBrowserTravelLog::EntryOffsets(0, 4, 4).empty());
    // A menu's first item is one step away, its fifteenth fifteen.
    EXPECT_EQ(TBrowserTravelLog::BackOffset(0), -1);
    EXPECT_EQ(TBrowserTravelLog::BackOffset(14), -15);
    EXPECT_EQ(TBrowserTravelLog::ForwardOffset(0), 1);
    EXPECT_EQ(TBrowserTravelLog::ForwardOffset(2), 3);
}

using test::TempDir;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
    g_autofree char* dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0700);
    std::ofstream(path) << text;
}

TEST(UserRegistry, StoresUnderTheConfigFolderOfTheEnvironment) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg-a", 1);
    EXPECT_EQ(TUserRegistry::DefaultPath(), "/tmp/cfg-a/orvalis/user-registry.ini");
    setenv("XDG_CONFIG_HOME", "relative/dir", 1); // not absolute: ignored
    EXPECT_EQ(TUserRegistry::DefaultPath(),
              std::string(g_get_home_dir()) + "/.config/orvalis/user-registry.ini");
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(UserRegistry, SaveWritesTwentyFourAndKeepsEverythingElse) {
    TempDir dir;
    const std::string path = dir.Path() + "/orvalis/user-registry.ini";
    WriteAll(path, "# the user's own note\n[Main]\nStart Page=http://www.velmora.co.kr/\n"
                   "[TypedURLs]\nUrl25=http://old25/\nUrl26=http://old26/\n");
    TUserRegistry store(path);
    std::vector<std::string> items;
    for (int i = 1; i <= 30; ++i)
        items.push_back("http://new" + std::to_string(i) + "/");
    ASSERT_TRUE(SaveTypedUrls(store, items));

    EXPECT_EQ(store.ReadString(kTypedUrlsKey, "Url1"), "http://new1/");
    EXPECT_EQ(store.ReadString(kTypedUrlsKey, "Url24"), "http://new24/");
    EXPECT_EQ(store.ReadString(kTypedUrlsKey, "Url25"), "http://old25/");
    EXPECT_EQ(store.ReadString(kTypedUrlsKey, "Url26"), "http://old26/");
    EXPECT_EQ(LoadStartPage(store), "http://www.velmora.co.kr/");
    EXPECT_NE(ReadAll(path).find("# the user's own note"), std::string::npos);
    // Read back: 24 new ones, then the 25th old one (the 26th is never read).
    const auto loaded = LoadTypedUrls(store);
    ASSERT_EQ(loaded.size(), 25u);
    EXPECT_EQ(loaded[23], "http://new24/");
    EXPECT_EQ(loaded[24], "http://old25/");
}

TEST(UserRegistry, MissingOrDamagedStoreReadsEmptyAndIsNeverLost) {
    TempDir dir;
    const std::string path = dir.Path() + "/orvalis/user-registry.ini";
    TUserRegistry store(path);
    EXPECT_TRUE(LoadTypedUrls(store).empty());
    EXPECT_EQ(LoadStartPage(store), "");

    const std::string damaged = "[TypedURLs\nUrl1=http://a/\n\x01\xff garbage";
    WriteAll(path, damaged);
    EXPECT_TRUE(LoadTypedUrls(store).empty());
    ASSERT_TRUE(SaveTypedUrls(store, {"http://b/"}));
    EXPECT_THAT(LoadTypedUrls(store), ElementsAre("http://b/"));
    // The damaged file is kept aside, not overwritten.
    EXPECT_EQ(ReadAll(path + ".damaged"), damaged);
}

TEST(UserRegistry, ValuesThatAreNotTextReadAsMissing) {
    TempDir dir;
    const std::string path = dir.Path() + "/user-registry.ini";
    WriteAll(path, "[TypedURLs]\nUrl1=http://\xc3\x28/\nUrl2=http://fine/\n");
    TUserRegistry store(path);
    EXPECT_THAT(LoadTypedUrls(store), ElementsAre("http://fine/"));
}

TEST(UserRegistry, UnreadableStoreIsLeftAlone) {
    TempDir dir;
    // A folder where the file should be cannot be read as a key file.
    const std::string path = dir.Path() + "/user-registry.ini";
    ASSERT_EQ(g_mkdir(path.c_str(), 0700), 0);
    TUserRegistry store(path);
    EXPECT_TRUE(LoadTypedUrls(store).empty());
    EXPECT_FALSE(SaveTypedUrls(store, {"http://a/"}));
    EXPECT_TRUE(g_file_test(path.c_str(), G_FILE_TEST_IS_DIR));
}

TEST(AddressIcons, OneIconPerKindOfAddress) {
    TempDir dir;
    const std::string file = dir.Path() + "/notes.txt";
    WriteAll(file, "x");
    auto first = [](const std::string& text) { return AddressIconNames(text).front(); };
    auto has = [](const std::string& text, const std::string& name) {
        const auto names = AddressIconNames(text);
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    EXPECT_EQ(first("http://www.velmora.co.kr/"), "text-html");
    EXPECT_EQ(first("www.velmora.com/main"), "text-html");
    EXPECT_EQ(first(dir.Path()), "folder");
    EXPECT_EQ(first("  " + dir.Path() + "  "), "folder");
    EXPECT_EQ(first(file), "text-plain");
    EXPECT_TRUE(has(file, "text-x-generic"));
    EXPECT_EQ(first("FILE:///nowhere/page.html"), "text-html");
    EXPECT_EQ(first("http://img.velmora.com/photo.JPG"), "image-jpeg");
    EXPECT_EQ(first("http://img.velmora.com/photo.jpeg?size=2"), "image-jpeg");
    EXPECT_EQ(first("http://velmora.com/a.zip"), "application-zip");
    EXPECT_EQ(first("userprofile"), "user-home");
    EXPECT_EQ(first("Desktop"), "user-desktop");
    EXPECT_EQ(first("recycle bin"), "text-html"); // no such folder here
}

} // namespace
} // namespace orvalis::browser
