#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvalis::proxy {

class TSchedulerOfThread;

// The thread of one connection, obtained before the connection is accepted and
// started once it has a context.
class TYarnOfThread {
public:
    explicit TYarnOfThread(TSchedulerOfThread& scheduler) : scheduler_(scheduler) {}
    TYarnOfThread(const TYarnOfThread&) = delete;
    TYarnOfThread& operator=(const TYarnOfThread&) = delete;

    TSchedulerOfThread& Scheduler() const { return scheduler_; }
    // Asks the thread to end after its current cycle.
    void Stop() { stopped_ = true; }
    bool Stopped() const { return stopped_; }

private:
    friend class TSchedulerOfThread;
    TSchedulerOfThread& scheduler_;
    std::atomic<bool> stopped_{false};
    std::thread thread_;
};

// Gives every connection a platform thread of its own (no pooling). A thread
// that ends releases its yarn; finished threads are joined on the next
// ObtainYarn and by EndAllYarns, so none outlives the scheduler's stop.
class TSchedulerOfThread {
public:
    TSchedulerOfThread() = default;
    TSchedulerOfThread(const TSchedulerOfThread&) = delete;
    TSchedulerOfThread& operator=(const TSchedulerOfThread&) = delete;
    ~TSchedulerOfThread();

    // 0: no limit.
    int MaxThreads = 0;

    // Raises ESchedulerMaxThreadsExceeded when more than MaxThreads yarns live.
    TYarnOfThread& ObtainYarn();
    // Starts the yarn's thread with `task`, which must end by calling ReleaseYarn.
    void RunYarn(TYarnOfThread& yarn, std::function<void(TYarnOfThread&)> task);
    // Frees a yarn whose thread never started; tells a running one to stop.
    void EndYarn(TYarnOfThread& yarn);
    // Stops every yarn and returns once each thread has ended and been joined.
    void EndAllYarns();
    // The last step of a yarn's thread.
    void ReleaseYarn(TYarnOfThread& yarn);
    int LiveYarnCount() const;

private:
    void JoinFinished();

    mutable std::mutex lock_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<TYarnOfThread>> liveYarns_;
    std::vector<std::unique_ptr<TYarnOfThread>> finished_;
};

} // namespace orvalis::proxy
