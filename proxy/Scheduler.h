#pragma once

#include <atomic>
#include <chrono>
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
    bool started_ = false;
    // Set by its own thread, read by that thread once the task has returned.
    bool finished_ = false;
};

// Gives every connection a platform thread of its own for as long as it
// lives. A thread whose connection ended waits a while for the next one
// instead of ending, because creating and tearing down a thread costs more
// than serving a small request; EndAllYarns ends and joins every thread, so
// none outlives the scheduler's stop.
class TSchedulerOfThread {
public:
    TSchedulerOfThread() = default;
    TSchedulerOfThread(const TSchedulerOfThread&) = delete;
    TSchedulerOfThread& operator=(const TSchedulerOfThread&) = delete;
    ~TSchedulerOfThread();

    // 0: no limit.
    int MaxThreads = 0;
    // Threads kept waiting for a connection, and for how long each waits.
    // A page opens its connections in bursts of a few dozen: 16 waiting
    // threads serve the most of a burst that arrives at once (the engine asks
    // for at most six per host), and ten seconds spans the gaps between the
    // bursts of one page, after which a quiet firewall gives its stacks back.
    int MaxIdleThreads = 16;
    std::chrono::milliseconds IdleTimeout{10000};
    // Threads beyond MaxIdleThreads wait this long: under steady load the
    // next connection takes them within microseconds, where ending each one
    // would start a thread for nearly every connection.
    std::chrono::milliseconds SurplusIdleTimeout{1000};

    // Raises ESchedulerMaxThreadsExceeded when more than MaxThreads yarns live.
    TYarnOfThread& ObtainYarn();
    // Runs `task` on a thread of its own; the task must end by calling ReleaseYarn.
    void RunYarn(TYarnOfThread& yarn, std::function<void(TYarnOfThread&)> task);
    // Frees a yarn whose thread never started; tells a running one to stop.
    void EndYarn(TYarnOfThread& yarn);
    // Stops every yarn and returns once each thread has ended and been joined.
    void EndAllYarns();
    // The last step of a yarn's task: the yarn ends as soon as the task returns.
    void ReleaseYarn(TYarnOfThread& yarn);
    int LiveYarnCount() const;
    // Threads running a connection or waiting for one.
    int ThreadCount() const;
    // Threads waiting for a connection.
    int IdleThreadCount() const;

private:
    struct TWorker {
        std::thread thread;
    };
    struct TJob {
        TYarnOfThread* yarn;
        std::function<void(TYarnOfThread&)> task;
    };

    void StartWorker(TJob job);
    void WorkerLoop(TWorker* worker, TJob job);
    void JoinFinished();
    static void Join(std::vector<std::unique_ptr<TWorker>>& workers);

    mutable std::mutex lock_;
    std::condition_variable released_;
    std::condition_variable jobReady_;
    std::condition_variable workerEnded_;
    std::vector<std::unique_ptr<TYarnOfThread>> liveYarns_;
    std::vector<std::unique_ptr<TWorker>> workers_;
    std::vector<std::unique_ptr<TWorker>> endedWorkers_;
    std::vector<TJob> pending_;
    int idle_ = 0;
    bool retiring_ = false;
};

} // namespace orvalis::proxy
