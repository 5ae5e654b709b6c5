#include "proxy/Scheduler.h"

#include "proxy/NetExceptions.h"

#include <algorithm>

namespace orvalis::proxy {

namespace {

std::unique_ptr<TYarnOfThread> TakeYarn(std::vector<std::unique_ptr<TYarnOfThread>>& yarns,
                                        const TYarnOfThread& yarn) {
    auto found = std::find_if(yarns.begin(), yarns.end(),
                              [&yarn](const auto& item) { return item.get() == &yarn; });
    if (found == yarns.end()) {
        return nullptr;
    }
    std::unique_ptr<TYarnOfThread> taken = std::move(*found);
    yarns.erase(found);
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
    // Held while the thread object is stored, so its ReleaseYarn cannot overtake.
    std::lock_guard lock(lock_);
    yarn.thread_ = std::thread([&yarn, task = std::move(task)] { task(yarn); });
}

void TSchedulerOfThread::EndYarn(TYarnOfThread& yarn) {
    std::unique_ptr<TYarnOfThread> unused;
    std::lock_guard lock(lock_);
    if (yarn.thread_.joinable()) {
        yarn.Stop();
    } else {
        unused = TakeYarn(liveYarns_, yarn);
    }
}

void TSchedulerOfThread::EndAllYarns() {
    {
        std::unique_lock lock(lock_);
        // A yarn whose thread never started has nobody to release it.
        std::erase_if(liveYarns_, [](const auto& yarn) { return !yarn->thread_.joinable(); });
        for (auto& yarn : liveYarns_) {
            yarn->Stop();
        }
        released_.wait(lock, [this] { return liveYarns_.empty(); });
    }
    JoinFinished();
}

void TSchedulerOfThread::ReleaseYarn(TYarnOfThread& yarn) {
    std::lock_guard lock(lock_);
    if (std::unique_ptr<TYarnOfThread> taken = TakeYarn(liveYarns_, yarn)) {
        finished_.push_back(std::move(taken));
    }
    released_.notify_all();
}

int TSchedulerOfThread::LiveYarnCount() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(liveYarns_.size());
}

void TSchedulerOfThread::JoinFinished() {
    std::vector<std::unique_ptr<TYarnOfThread>> finished;
    {
        std::lock_guard lock(lock_);
        finished.swap(finished_);
    }
    for (auto& yarn : finished) {
        yarn->thread_.join();
    }
}

} // namespace orvalis::proxy
