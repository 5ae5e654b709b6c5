#pragma once

#include "browser/BrowserHost.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <memory>
#include <string>
#include <vector>

namespace orvalis::browser::test {

// The test site and its two relays (test_site.py), one per test suite.
class TestSite {
public:
    TestSite();
    ~TestSite();
    int SitePort = 0;
    int RelayA = 0;
    int RelayB = 0;
    std::string Url(const std::string& path) const;
    // Log lines so far ("site GET /a.html|UA", "relayA GET http://...|UA").
    std::vector<std::string> Log() const;
    bool Logged(const std::string& fragment) const;

private:
    std::string dir_;
    std::string logPath_;
    GPid pid_ = 0;
    int stdinFd_ = -1;
};

// Runs the main loop until pred holds or the time is up; generous by default
// because the machine may be busy.
bool WaitFor(const std::function<bool()>& pred,
             std::chrono::milliseconds timeout = std::chrono::seconds(60));
// Lets the main loop run for a while (only to give something unwanted the
// chance to happen before asserting that it did not).
void Settle(std::chrono::milliseconds time);

// A window with a browser host, pointed at relay A with a known user agent.
class BrowserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Navigates and waits for the top level's document to complete.
    void Load(const std::string& path);
    // Runs a script in the page and waits until it has run.
    void RunScript(const std::string& script);
    // Events recorded by Record(), as "kind:top|frame:url" lines.
    void Record();
    int Count(const std::string& line) const;
    int IndexOf(const std::string& line) const;

    static inline const std::string kAgent = "Mozilla/4.0 (Orvalis test; +agent@example.org)";
    static inline std::unique_ptr<TestSite> site_;
    std::unique_ptr<Gtk::Window> window_;
    TBrowserHost* browser_ = nullptr;
    std::vector<std::string> events_;
    int documentsComplete_ = 0;
};

} // namespace orvalis::browser::test
