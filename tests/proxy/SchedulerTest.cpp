#include "proxy/Scheduler.h"

#include "proxy/NetExceptions.h"
#include "tests/proxy/Loopback.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>
#include <set>

using namespace orvalis::proxy;
using namespace orvalis::proxy::testing;

namespace {

// Runs `count` tasks at once, each holding its thread until all have started,
// and returns the threads they ran on once those are back to waiting.
std::set<std::thread::id> RunTogether(TSchedulerOfThread& scheduler, int count) {
    std::mutex lock;
    std::set<std::thread::id> threads;
    std::atomic<int> started{0};
    for (int i = 0; i < count; ++i) {
        TYarnOfThread& yarn = scheduler.ObtainYarn();
        scheduler.RunYarn(yarn, [&](TYarnOfThread& self) {
            {
                std::lock_guard guard(lock);
                threads.insert(std::this_thread::get_id());
            }
            ++started;
            WaitUntil([&] { return started == count; });
            self.Scheduler().ReleaseYarn(self);
        });
    }
    EXPECT_TRUE(WaitUntil([&] {
        return scheduler.LiveYarnCount() == 0 &&
               scheduler.IdleThreadCount() >= std::min(count, scheduler.MaxIdleThreads);
    }));
    return threads;
}

TEST(Scheduler, ConnectionsOneAfterAnotherShareOneThread) {
    TSchedulerOfThread scheduler;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 20; ++i) {
        threads.merge(RunTogether(scheduler, 1));
    }
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(scheduler.ThreadCount(), 1);
}

TEST(Scheduler, ConcurrentConnectionsEachHaveAThreadAndReuseThem) {
    TSchedulerOfThread scheduler;
    std::set<std::thread::id> first = RunTogether(scheduler, 8);
    EXPECT_EQ(first.size(), 8u);
    EXPECT_EQ(scheduler.ThreadCount(), 8);
    std::set<std::thread::id> second = RunTogether(scheduler, 8);
    EXPECT_EQ(second, first);
    EXPECT_EQ(scheduler.ThreadCount(), 8);
}

TEST(Scheduler, IdleThreadsAreBoundedAndEndAfterTheirTimeout) {
    const int before = CountThreads();
    TSchedulerOfThread scheduler;
    scheduler.MaxIdleThreads = 2;
    scheduler.IdleTimeout = std::chrono::milliseconds(500);
    scheduler.SurplusIdleTimeout = std::chrono::milliseconds(50);
    RunTogether(scheduler, 6);
    // The threads beyond the two end soon after their tasks have returned.
    EXPECT_TRUE(WaitUntil([&] { return scheduler.ThreadCount() == 2; }));
    EXPECT_TRUE(WaitUntil([&] { return scheduler.ThreadCount() == 0; }));
    // Ended threads are joined by the next connection.
    RunTogether(scheduler, 1);
    scheduler.EndAllYarns();
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= before; }));
}

TEST(Scheduler, EndAllYarnsStopsRunningConnectionsAndEndsWaitingThreads) {
    const int before = CountThreads();
    TSchedulerOfThread scheduler;
    RunTogether(scheduler, 3);
    TYarnOfThread& looping = scheduler.ObtainYarn();
    scheduler.RunYarn(looping, [](TYarnOfThread& self) {
        while (!self.Stopped()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        self.Scheduler().ReleaseYarn(self);
    });
    // Obtained but never started: freed, not waited for.
    scheduler.ObtainYarn();
    scheduler.EndAllYarns();
    EXPECT_EQ(scheduler.ThreadCount(), 0);
    EXPECT_EQ(scheduler.LiveYarnCount(), 0);
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= before; }));
    // The scheduler serves again after a stop.
    EXPECT_EQ(RunTogether(scheduler, 2).size(), 2u);
}

TEST(Scheduler, MaxThreadsLimitsLiveConnections) {
    TSchedulerOfThread scheduler;
    scheduler.MaxThreads = 1;
    TYarnOfThread& first = scheduler.ObtainYarn();
    TYarnOfThread& second = scheduler.ObtainYarn();
    EXPECT_THROW(scheduler.ObtainYarn(), ESchedulerMaxThreadsExceeded);
    scheduler.EndYarn(first);
    scheduler.EndYarn(second);
    EXPECT_EQ(scheduler.LiveYarnCount(), 0);
}

} // namespace
