#include "app/DisplayState.h"

#include "app/LogStamp.h"

#include <atomic>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

using namespace orvalis::app;

namespace {

std::string LogOf(TDisplayState& state) {
    return state.Access([](TDisplayFields& f) { return f.LogText; });
}

TEST(DisplayState, LinesAreJoinedByCrLfWithoutALeadingBreak) {
    TDisplayState state;
    state.WriteLog("first", false);
    EXPECT_EQ(LogOf(state), "first");
    state.WriteLog("둘째 \xff", false);
    EXPECT_EQ(LogOf(state), "first\r\n둘째 \xff");
    state.Access([](TDisplayFields& f) {
        EXPECT_EQ(f.LogLength, static_cast<int32_t>(f.LogText.size()));
        EXPECT_EQ(f.ShownLogLength, 0);
    });
}

TEST(DisplayState, StampedLineHasTheStampInFront) {
    TDisplayState state;
    state.WriteLog("초기화 완료.", true);
    std::string log = LogOf(state);
    const TDateTimeSeparators& s = LocaleSeparators();
    std::string d = std::string("\\") + s.Date;
    std::string t = std::string("\\") + s.Time;
    std::regex stamped("\\[\\d{4}" + d + "\\d\\d" + d + "\\d\\d \\d\\d" + t + "\\d\\d" + t +
                       "\\d\\d\\] 초기화 완료\\.");
    EXPECT_TRUE(std::regex_match(log, stamped)) << log;
}

TEST(DisplayState, StatusKeepsTheLastAndIsFreshOnce) {
    TDisplayState state;
    state.Status("a", TStatusColor::Highlight);
    state.Access([](TDisplayFields& f) { f.StatusFresh = false; });
    state.Status("b", TStatusColor::Highlight);
    state.Status("c", TStatusColor::WindowBackground);
    state.Access([](TDisplayFields& f) {
        EXPECT_EQ(f.StatusText, "c");
        EXPECT_EQ(f.StatusColor, TStatusColor::WindowBackground);
        EXPECT_TRUE(f.StatusFresh);
    });
}

TEST(DisplayState, ClearingEmptiesTheLogAndIsNoticed) {
    TDisplayState state;
    state.WriteLog("old", false);
    state.ClearLog();
    state.WriteLog("new", false);
    state.Access([](TDisplayFields& f) {
        EXPECT_EQ(f.LogText, "new");
        EXPECT_EQ(f.LogLength, 3);
        EXPECT_EQ(f.LogClears, 1u);
    });
}

TEST(DisplayState, EveryChangeWakesTheNotifier) {
    TDisplayState state;
    std::atomic<int> wakes{0};
    state.SetChangeNotifier([&] { ++wakes; });
    state.WriteLog("x", true);
    state.Status("s", TStatusColor::Highlight);
    state.CountBlock();
    state.ClearLog();
    EXPECT_EQ(wakes, 4);
}

TEST(DisplayState, ConcurrentWritersLoseNothing) {
    TDisplayState state;
    constexpr int threads = 8, perThread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&state, t] {
            for (int i = 0; i < perThread; ++i) {
                state.WriteLog(std::string(20, static_cast<char>('a' + t)), false);
                state.CountBlock();
                state.Status("s", TStatusColor::Highlight);
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    std::string log = LogOf(state);
    EXPECT_EQ(log.size(), threads * perThread * 22u - 2);
    for (size_t at = 0; at < log.size(); at += 22) {
        // Each line whole: twenty copies of one letter.
        EXPECT_EQ(log.substr(at, 20), std::string(20, log[at]));
    }
    state.Access([](TDisplayFields& f) { EXPECT_EQ(f.BlockedCount, threads * perThread); });
}

TEST(LogStamp, FormatUsesTheSeparators) {
    std::tm when{};
    when.tm_year = 109;
    when.tm_mon = 1;
    when.tm_mday = 15;
    when.tm_hour = 13;
    when.tm_min = 5;
    when.tm_sec = 9;
    EXPECT_EQ(FormatStamp(when, {'-', ':'}), "[2009-02-15 13:05:09] ");
    EXPECT_EQ(FormatStamp(when, {'/', '.'}), "[2009/02/15 13.05.09] ");
}

TEST(LogStamp, SeparatorsFromLocale) {
    TDateTimeSeparators c = SeparatorsOfLocale("C");
    EXPECT_EQ(c.Date, '/');
    EXPECT_EQ(c.Time, ':');
    TDateTimeSeparators missing = SeparatorsOfLocale("xx_NOWHERE.UTF-8");
    EXPECT_EQ(missing.Date, '-');
    EXPECT_EQ(missing.Time, ':');
}

} // namespace
