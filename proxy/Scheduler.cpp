#include "proxy/Scheduler.h"

#include "proxy/NetExceptions.h"

#include <algorithm>

namespace orvalis::proxy {

namespace {

// Takes `item` out of `items`; null when it is not there.
template <typename T>
std::unique_ptr<T> TakeItem(std::vector<std::unique_ptr<T>>& items, const T& item) {
    auto found = std::find_if(items.begin(), items.end(),
                              [&item](const auto& entry) { return entry.get() == &item; });
    if (found == items.end()) {
        return nullptr;
    }
    std::unique_ptr<T> taken = std::move(*found);
    items.erase(found);
    return taken;
}

} // namespace

TSchedulerOfThread::~TSchedulerOfThread() {
    EndAllYarns();
}

TYarnOfThread& TSchedulerOfThread::ObtainYarn() {
    JoinFinished();
    std::lock_guard lock(lock_);
    if (MaxThreads > 0 && static_cast<int>(liveYarns_.size()) > MaxThreads) {
        throw ESchedulerMaxThreadsExceeded();
    }
    liveYarns_.push_back(std::make_unique<TYarnOfThread>(*this));
    return *liveYarns_.back();
}

void TSchedulerOfThread::RunYarn(TYarnOfThread& yarn, std::function<void(TYarnOfThread&)> task) {
    TJob job{&yarn, std::move(task)};
    std::lock_guard lock(lock_);
    yarn.started_ = true;
    // Threads that are being retired take no new work.
    if (!retiring_ && idle_ > static_cast<int>(pending_.size())) {
        pending_.push_back(std::move(job));
        jobReady_.notify_one();
        return;
    }
    workers_.push_back(std::make_unique<TWorker>());
    TWorker* worker = workers_.back().get();
    try {
        // Held while the thread object is stored, so the worker cannot end first.
        worker->thread = std::thread(
            [this, worker, job = std::move(job)]() mutable { WorkerLoop(worker, std::move(job)); });
    } catch (...) {
        workers_.pop_back();
        yarn.started_ = false;
        throw;
    }
}

void TSchedulerOfThread::WorkerLoop(TWorker* worker, TJob job) {
    std::unique_lock lock(lock_, std::defer_lock);
    for (;;) {
        job.task(*job.yarn);
        job.task = nullptr;
        std::unique_ptr<TYarnOfThread> done;
        lock.lock();
        // The yarn lives until its task has returned, not just released it.
        done = TakeItem(finished_, *job.yarn);
        if (retiring_ || idle_ >= MaxIdleThreads) {
            break;
        }
        ++idle_;
        const bool woken = jobReady_.wait_for(lock, IdleTimeout,
                                              [this] { return !pending_.empty() || retiring_; });
        --idle_;
        if (!woken || pending_.empty()) {
            break;
        }
        job = std::move(pending_.back());
        pending_.pop_back();
        lock.unlock();
    }
    endedWorkers_.push_back(TakeItem(workers_, *worker));
    workerEnded_.notify_all();
}

void TSchedulerOfThread::EndYarn(TYarnOfThread& yarn) {
    std::unique_ptr<TYarnOfThread> unused;
    std::lock_guard lock(lock_);
    if (yarn.started_) {
        yarn.Stop();
    } else {
        unused = TakeItem(liveYarns_, yarn);
    }
}

void TSchedulerOfThread::EndAllYarns() {
    {
        std::unique_lock lock(lock_);
        // A yarn whose thread never started has nobody to release it.
        std::erase_if(liveYarns_, [](const auto& yarn) { return !yarn->started_; });
        for (auto& yarn : liveYarns_) {
            yarn->Stop();
        }
        released_.wait(lock, [this] { return liveYarns_.empty(); });
        retiring_ = true;
        jobReady_.notify_all();
        workerEnded_.wait(lock, [this] { return workers_.empty(); });
        retiring_ = false;
    }
    JoinFinished();
}

void TSchedulerOfThread::ReleaseYarn(TYarnOfThread& yarn) {
    std::lock_guard lock(lock_);
    if (std::unique_ptr<TYarnOfThread> taken = TakeItem(liveYarns_, yarn)) {
        finished_.push_back(std::move(taken));
    }
    released_.notify_all();
}

int TSchedulerOfThread::LiveYarnCount() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(liveYarns_.size());
}

int TSchedulerOfThread::ThreadCount() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(workers_.size());
}

int TSchedulerOfThread::IdleThreadCount() const {
    std::lock_guard lock(lock_);
    return idle_;
}

void TSchedulerOfThread::JoinFinished() {
    std::vector<std::unique_ptr<TWorker>> ended;
    {
        std::lock_guard lock(lock_);
        ended.swap(endedWorkers_);
    }
    for (auto& worker : ended) {
        worker->thread.join();
    }
}

} // namespace orvalis::proxy
