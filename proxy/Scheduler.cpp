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
    std::vector<std::unique_ptr<TWorker>> ended;
    TYarnOfThread* yarn = nullptr;
    {
        std::lock_guard lock(lock_);
        // Threads that ended since the last call are joined here, outside the lock.
        ended.swap(endedWorkers_);
        if (MaxThreads <= 0 || static_cast<int>(liveYarns_.size()) <= MaxThreads) {
            liveYarns_.push_back(std::make_unique<TYarnOfThread>(*this));
            yarn = liveYarns_.back().get();
        }
    }
    Join(ended);
    if (!yarn) {
        throw ESchedulerMaxThreadsExceeded();
    }
    return *yarn;
}

void TSchedulerOfThread::RunYarn(TYarnOfThread& yarn, std::function<void(TYarnOfThread&)> task) {
    TJob job{&yarn, std::move(task)};
    {
        std::lock_guard lock(lock_);
        yarn.started_ = true;
        // Threads that are being retired take no new work.
        if (retiring_ || idle_ <= static_cast<int>(pending_.size())) {
            StartWorker(std::move(job));
            return;
        }
        pending_.push_back(std::move(job));
    }
    // Woken outside the lock, so that the waiting thread does not wake only to
    // block on it again.
    jobReady_.notify_one();
}

// Called with the lock held, so the new thread cannot end before it is stored.
void TSchedulerOfThread::StartWorker(TJob job) {
    workers_.push_back(std::make_unique<TWorker>());
    TWorker* worker = workers_.back().get();
    try {
        worker->thread = std::thread(
            [this, worker, job = std::move(job)]() mutable { WorkerLoop(worker, std::move(job)); });
    } catch (...) {
        workers_.pop_back();
        job.yarn->started_ = false;
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
        if (job.yarn->finished_) {
            done = TakeItem(liveYarns_, *job.yarn);
            if (liveYarns_.empty()) {
                released_.notify_all();
            }
        }
        if (retiring_) {
            break;
        }
        const auto timeout = idle_ >= MaxIdleThreads ? SurplusIdleTimeout : IdleTimeout;
        ++idle_;
        const bool woken =
            jobReady_.wait_for(lock, timeout, [this] { return !pending_.empty() || retiring_; });
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
    yarn.finished_ = true;
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
    Join(ended);
}

void TSchedulerOfThread::Join(std::vector<std::unique_ptr<TWorker>>& workers) {
    for (auto& worker : workers) {
        worker->thread.join();
    }
}

} // namespace orvalis::proxy
