#include "BrowserTestSupport.h"

#include <cstdio>
#include <fstream>
#include <glib/gstdio.h>
#include <sstream>
#include <unistd.h>

namespace orvalis::browser::test {

TestSite::TestSite() {
    g_autofree char* dir = g_dir_make_tmp("orvalis-browser-XXXXXX", nullptr);
    dir_ = dir;
    logPath_ = dir_ + "/requests.log";
    const char* argv[] = {"python3", ORVALIS_TEST_SITE, logPath_.c_str(), nullptr};
    int stdoutFd = -1;
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH,
                                  nullptr, nullptr, &pid_, &stdinFd_, &stdoutFd, nullptr, &error)) {
        ADD_FAILURE() << "test site did not start: " << error->message;
        g_error_free(error);
        return;
    }
    std::string line;
    char c;
    while (read(stdoutFd, &c, 1) == 1 && c != '\n')
        line += c;
    close(stdoutFd);
    if (std::sscanf(line.c_str(), "site=%d relayA=%d relayB=%d", &SitePort, &RelayA, &RelayB) != 3)
        ADD_FAILURE() << "test site said: " << line;
}

TestSite::~TestSite() {
    if (stdinFd_ >= 0)
        close(stdinFd_); // the site ends when its input closes
    if (pid_) {
        int status = 0;
        waitpid(pid_, &status, 0);
        g_spawn_close_pid(pid_);
    }
    g_remove(logPath_.c_str());
    g_rmdir(dir_.c_str());
}

std::string TestSite::Url(const std::string& path) const {
    // A name the relays resolve: loopback addresses themselves bypass the proxy.
    return "http://site.test:" + std::to_string(SitePort) + path;
}

std::vector<std::string> TestSite::Log() const {
    std::vector<std::string> lines;
    std::ifstream in(logPath_);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool TestSite::Logged(const std::string& fragment) const {
    for (const auto& line : Log())
        if (line.find(fragment) != std::string::npos)
            return true;
    return false;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Wakes the loop now and then so that the deadline is noticed.
    sigc::connection tick = Glib::signal_timeout().connect([] { return true; }, 50);
    bool ok = pred();
    while (!ok && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        ok = pred();
    }
    tick.disconnect();
    return ok;
}

void Settle(std::chrono::milliseconds time) {
    WaitFor([] { return false; }, time);
}

void BrowserTest::SetUpTestSuite() {
    site_ = std::make_unique<TestSite>();
}

void BrowserTest::TearDownTestSuite() {
    site_.reset();
}

void BrowserTest::SetUp() {
    window_ = std::make_unique<Gtk::Window>();
    window_->set_default_size(800, 600);
    window_->set_title("browser-test-" + std::to_string(getpid()));
    auto* browser = Gtk::make_managed<TBrowserHost>();
    browser_ = browser;
    window_->set_child(*browser);
    browser_->SetUserAgentMode(TUserAgentMode::uaInternal);
    browser_->SetUserAgentText(kAgent);
    browser_->SetSilent(false);
    ASSERT_TRUE(TProxySettings::ApplyProxy(kAgent, "localhost:" + std::to_string(site_->RelayA)));
    window_->present();
    ASSERT_TRUE(WaitFor([this] { return window_->get_mapped(); }));
}

void BrowserTest::TearDown() {
    window_->unset_child();
    window_.reset();
    Settle(std::chrono::milliseconds(50));
}

void BrowserTest::Load(const std::string& path) {
    const std::string url = site_->Url(path);
    bool done = false;
    auto previous = browser_->OnDocumentComplete;
    browser_->OnDocumentComplete = [&, previous](TBrowserControl& sender,
                                                 const TBrowserDispatch& pDisp, std::string& URL) {
        if (previous)
            previous(sender, pDisp, URL);
        if (pDisp == sender.BrowserDispatch() && URL == url)
            done = true;
    };
    browser_->Navigate(url);
    EXPECT_TRUE(WaitFor([&] { return done; })) << "loading " << url;
    browser_->OnDocumentComplete = previous;
}

void BrowserTest::RunScript(const std::string& script) {
    bool done = false;
    webkit_web_view_evaluate_javascript(
        browser_->WebView(), script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* view, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
            if (value)
                g_object_unref(value);
            if (error)
                g_error_free(error);
            *static_cast<bool*>(data) = true;
        },
        &done);
    EXPECT_TRUE(WaitFor([&] { return done; }));
}

void BrowserTest::Record() {
    auto where = [this](const TBrowserDispatch& pDisp) {
        return pDisp == browser_->BrowserDispatch() ? "top" : "frame";
    };
    browser_->OnBeforeNavigate2 = [this, where](TBrowserControl&, const TBrowserDispatch& pDisp,
                                                std::string& URL, int32_t&, std::string&,
                                                std::string&, std::string&, bool&) {
        events_.push_back(std::string("before:") + where(pDisp) + ":" + URL);
    };
    browser_->OnNavigateComplete2 = [this, where](TBrowserControl&, const TBrowserDispatch& pDisp,
                                                  std::string& URL) {
        events_.push_back(std::string("navigated:") + where(pDisp) + ":" + URL);
    };
    browser_->OnDocumentComplete = [this, where](TBrowserControl&, const TBrowserDispatch& pDisp,
                                                 std::string& URL) {
        events_.push_back(std::string("complete:") + where(pDisp) + ":" + URL);
        ++documentsComplete_;
    };
}

int BrowserTest::Count(const std::string& line) const {
    return static_cast<int>(std::count(events_.begin(), events_.end(), line));
}

int BrowserTest::IndexOf(const std::string& line) const {
    auto it = std::find(events_.begin(), events_.end(), line);
    return it == events_.end() ? -1 : static_cast<int>(it - events_.begin());
}

} // namespace orvalis::browser::test
