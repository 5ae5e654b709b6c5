// Cost of the display refresh's core step: nothing changed, and one new line
// on top of a 10,000-line log (the window appends only what is new).
#include "app/DisplayRefresh.h"

#include <benchmark/benchmark.h>

using namespace orvalis::app;

namespace {

void FillLog(TDisplayState& state, TShownDisplay& shown, int lines) {
    for (int i = 0; i < lines; ++i) {
        state.WriteLog("차단됨: http://ads.foreign.example/banner" + std::to_string(i) + ".gif",
                       true);
    }
    RefreshDisplay(state, shown, TickCount());
}

void BM_RefreshUnchanged(benchmark::State& s) {
    TDisplayState state;
    TShownDisplay shown;
    FillLog(state, shown, static_cast<int>(s.range(0)));
    for (auto _ : s) {
        benchmark::DoNotOptimize(RefreshDisplay(state, shown, TickCount()));
    }
}

void BM_RefreshOneNewLine(benchmark::State& s) {
    TDisplayState state;
    TShownDisplay shown;
    FillLog(state, shown, static_cast<int>(s.range(0)));
    for (auto _ : s) {
        s.PauseTiming();
        state.WriteLog("차단됨: http://tracker.foreign.example/pixel.svg", true);
        s.ResumeTiming();
        benchmark::DoNotOptimize(RefreshDisplay(state, shown, TickCount()));
    }
}

} // namespace

BENCHMARK(BM_RefreshUnchanged)->Arg(0)->Arg(10000);
BENCHMARK(BM_RefreshOneNewLine)->Arg(0)->Arg(10000);
