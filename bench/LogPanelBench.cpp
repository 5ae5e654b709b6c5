// Cost of one display refresh in the real log panel (a GTK text view in a
// window on an X display): nothing changed, and one new line, each on an
// empty and on a 10,000-line log. A refresh costs its call (the refresh step
// and the text view's update) plus the work of the frame that shows it
// (layout and drawing), timed from the frame's start to its end; the wait for
// the frame's turn is not counted. Run under an X server:
//   xvfb-run -a build/release/bench/bench_log_panel
#include "app/DisplayRefresh.h"
#include "app/LogPanel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtkmm.h>
#include <vector>

using namespace orvalis::app;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Rounds = 300;

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

struct TFrameTimer {
    Clock::time_point started;
    Clock::duration work{};
    bool painted = false;

    static void Before(GdkFrameClock*, TFrameTimer* self) { self->started = Clock::now(); }
    static void After(GdkFrameClock*, TFrameTimer* self) {
        self->work = Clock::now() - self->started;
        self->painted = true;
    }
};

struct TSample {
    std::vector<double> call;
    std::vector<double> frame;
};

void Report(const char* name, TSample& s) {
    auto median = [](std::vector<double>& v) {
        if (v.empty()) {
            return 0.0;
        }
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto p95 = [](std::vector<double>& v) { return v.empty() ? 0.0 : v[v.size() * 95 / 100]; };
    const double call = median(s.call), frame = median(s.frame);
    std::printf("%-28s call %8.1f us (p95 %8.1f)   frame %8.1f us (p95 %8.1f)\n", name, call,
                p95(s.call), frame, p95(s.frame));
}

class TBench {
public:
    explicit TBench(const Glib::RefPtr<Gtk::Application>& app) {
        window_.set_default_size(900, 300);
        scroller_.set_child(memo_);
        memo_.set_editable(false);
        memo_.set_cursor_visible(false);
        memo_.set_wrap_mode(Gtk::WrapMode::NONE);
        window_.set_child(scroller_);
        app->add_window(window_);
        window_.present();
        Settle();
        auto* clock = gtk_widget_get_frame_clock(GTK_WIDGET(memo_.gobj()));
        g_signal_connect(clock, "before-paint", G_CALLBACK(TFrameTimer::Before), &timer_);
        g_signal_connect(clock, "after-paint", G_CALLBACK(TFrameTimer::After), &timer_);
    }

    void Run() {
        for (int lines : {0, 10000}) {
            TDisplayState state;
            TShownDisplay shown;
            for (int i = 0; i < lines; ++i) {
                state.WriteLog(
                    "차단됨: http://ads.foreign.example/banner" + std::to_string(i) + ".gif", true);
            }
            Refresh(state, shown);
            Settle();
            TSample unchanged, oneLine;
            for (int round = 0; round < Rounds; ++round) {
                Refresh(state, shown, &unchanged);
                state.WriteLog("차단됨: http://tracker.foreign.example/pixel.svg", true);
                Refresh(state, shown, &oneLine);
            }
            const std::string label = lines ? "10,000-line log" : "empty log";
            Report((label + ", unchanged").c_str(), unchanged);
            Report((label + ", one new line").c_str(), oneLine);
        }
    }

    void Close() { window_.close(); }

private:
    // Lets every pending frame finish.
    void Settle() {
        for (int i = 0; i < 50; ++i) {
            while (g_main_context_iteration(nullptr, false)) {
            }
            g_usleep(2000);
        }
    }

    void Refresh(TDisplayState& state, TShownDisplay& shown, TSample* sample = nullptr) {
        timer_.painted = false;
        const auto started = Clock::now();
        const TDisplayChanges changes = RefreshDisplay(state, shown, TickCount());
        ShowLogChanges(memo_, changes);
        const bool changed = changes.LogText.has_value();
        const auto call = Clock::now() - started;
        // A refresh that changed nothing asks for no frame.
        const auto deadline = Clock::now() + std::chrono::milliseconds(changed ? 500 : 0);
        while (!timer_.painted && Clock::now() < deadline) {
            g_main_context_iteration(nullptr, false);
        }
        if (sample) {
            sample->call.push_back(Microseconds(call));
            if (timer_.painted) {
                sample->frame.push_back(Microseconds(timer_.work));
            }
        }
    }

    Gtk::Window window_;
    Gtk::ScrolledWindow scroller_;
    Gtk::TextView memo_;
    TFrameTimer timer_;
};

} // namespace

int main() {
    auto app =
        Gtk::Application::create("org.orvalis.LogPanelBench", Gio::Application::Flags::NON_UNIQUE);
    std::unique_ptr<TBench> bench;
    app->signal_activate().connect([&] {
        bench = std::make_unique<TBench>(app);
        bench->Run();
        bench->Close();
    });
    return app->run();
}
