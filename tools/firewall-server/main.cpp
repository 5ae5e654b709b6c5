// Runs the firewall exactly as the program configures it, for benchmarks,
// interop tests and trying it by hand:
//   firewall-server --port PORT [--location URL]
// Prints each new log line as the log panel would show it and "count: N"
// after each change of the counter; SIGINT or SIGTERM stops it cleanly.

#include "app/DisplayRefresh.h"
#include "app/DisplayState.h"
#include "guard/Firewall.h"
#include "guard/LocationCopy.h"
#include "guard/RequestFilter.h"
#include "guard/SiteProfile.h"
#include "proxy/HTTPProxyServer.h"
#include "proxy/NumberRule.h"

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>

using namespace orvalis;

namespace {

struct TOptions {
    uint16_t Port = 0;
    std::string Location;
};

std::optional<TOptions> ParseOptions(int argc, char** argv) {
    TOptions options;
    bool havePort = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        const std::string_view value = argv[i + 1];
        if (name == "--port") {
            const auto port = proxy::ParseNumber(value);
            if (!port || *port < 1 || *port > 65535) {
                return std::nullopt;
            }
            options.Port = static_cast<uint16_t>(*port);
            havePort = true;
        } else if (name == "--location") {
            options.Location = value;
        } else {
            return std::nullopt;
        }
    }
    if (!havePort || argc % 2 == 0) {
        return std::nullopt;
    }
    return options;
}

// Wakes the printing loop on a display change or a stop request.
class TWakeUp {
public:
    void Signal(bool stop) {
        std::lock_guard lock(mutex_);
        pending_ = true;
        stop_ = stop_ || stop;
        changed_.notify_one();
    }
    // True when a stop was asked for.
    bool Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return pending_; });
        pending_ = false;
        return stop_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool pending_ = false;
    bool stop_ = false;
};

// Prints what the log panel and the counter would show since the last call.
class TPrinter {
public:
    explicit TPrinter(app::TDisplayState& display) : display_(display) {}

    void PrintChanges() {
        app::TDisplayChanges changes = app::RefreshDisplay(display_, shown_, app::TickCount());
        if (changes.LogText) {
            std::string_view text = *changes.LogText;
            if (!changes.ReplaceLog && printedLog_ && text.starts_with("\r\n")) {
                text.remove_prefix(2);
            }
            for (;;) {
                const size_t end = text.find("\r\n");
                std::cout << text.substr(0, end) << std::endl;
                if (end == std::string_view::npos) {
                    break;
                }
                text.remove_prefix(end + 2);
            }
            printedLog_ = true;
        }
        if (changes.BlockedCount) {
            std::cout << "count: " << *changes.BlockedCount << std::endl;
        }
    }

private:
    app::TDisplayState& display_;
    app::TShownDisplay shown_;
    bool printedLog_ = false;
};

} // namespace

int main(int argc, char** argv) {
    const std::optional<TOptions> options = ParseOptions(argc, argv);
    if (!options) {
        std::cerr << "usage: firewall-server --port PORT [--location URL]\n";
        return 2;
    }
    // Only the signal thread takes the stop signals; every later thread
    // inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TWakeUp wakeUp;
    app::TDisplayState display;
    display.SetChangeNotifier([&wakeUp] { wakeUp.Signal(false); });
    guard::TSiteRules rules;
    rules.MainPageList.Publish(guard::BuildMainPageList());
    rules.HostSuffixList.Publish(guard::BuildHostSuffixList());
    guard::TLocationCopy location;
    location.Set(options->Location);
    const guard::TRequestFilter filter(rules, location, display);

    proxy::THTTPProxyServer firewall;
    guard::ConfigureFirewall(firewall, options->Port, filter);
    try {
        firewall.SetActive(true);
    } catch (const std::exception& error) {
        std::cerr << "firewall-server: cannot listen on port " << options->Port << ": "
                  << error.what() << '\n';
        return 1;
    }

    std::thread signalThread([&stopSignals, &wakeUp] {
        int received = 0;
        sigwait(&stopSignals, &received);
        wakeUp.Signal(true);
    });
    TPrinter printer(display);
    while (!wakeUp.Wait()) {
        printer.PrintChanges();
    }
    firewall.SetActive(false);
    printer.PrintChanges();
    signalThread.join();
    return 0;
}
