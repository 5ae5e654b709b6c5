#include "proxy/Resolver.h"

#include "proxy/NetExceptions.h"
#include "proxy/SocketHandle.h"
#include "proxy/Stack.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace orvalis::proxy {

namespace {

using namespace std::chrono_literals;

// How often a waiting caller looks whether its connection is being ended.
constexpr auto CancelCheck = 50ms;
// A pool thread with nothing to do for this long ends.
constexpr auto IdleLife = 2s;
// Lookups beyond this many at once wait in the queue.
constexpr size_t MaxPoolThreads = 8;
// A page asks for the same few hosts again and again: an answer is reused
// this long, which spares each request the hand-over to a pool thread.
constexpr auto AnswerLife = 2s;
constexpr size_t MaxAnswers = 256;

struct TLookup {
    std::string Name;
    TIPVersion IPVersion;
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    std::string Address;
    // A failure crosses to the waiting thread as values, and the waiting
    // thread makes the exception: an exception object shared between threads
    // ends by a reference count that the thread checker cannot follow.
    std::optional<int> ErrorCode;
    std::optional<std::string> ErrorText;
};

class TResolverPool : public std::enable_shared_from_this<TResolverPool> {
public:
    void Submit(std::shared_ptr<TLookup> lookup) {
        std::lock_guard lock(lock_);
        queue_.push_back(std::move(lookup));
        if (queue_.size() > idle_ && threads_ < MaxPoolThreads) {
            ++threads_;
            // The thread holds the pool, so a lookup still running when the
            // process ends never finds it gone.
            std::thread([self = shared_from_this()] { self->Run(); }).detach();
        } else {
            work_.notify_one();
        }
    }

private:
    void Run() {
        std::unique_lock lock(lock_);
        for (;;) {
            ++idle_;
            const bool hasWork = work_.wait_for(lock, IdleLife, [this] { return !queue_.empty(); });
            --idle_;
            if (!hasWork) {
                --threads_;
                return;
            }
            std::shared_ptr<TLookup> lookup = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            Resolve(*lookup);
            lock.lock();
        }
    }

    static void Resolve(TLookup& lookup) {
        std::string address;
        std::optional<int> errorCode;
        std::optional<std::string> errorText;
        try {
            address = TStack::HostByName(lookup.Name, lookup.IPVersion);
        } catch (const ESocketError& error) {
            errorCode = error.Code();
        } catch (const std::exception& error) {
            errorText = error.what();
        }
        std::lock_guard lock(lookup.Lock);
        lookup.Address = std::move(address);
        lookup.ErrorCode = errorCode;
        lookup.ErrorText = std::move(errorText);
        lookup.Finished = true;
        lookup.Done.notify_all();
    }

    std::mutex lock_;
    std::condition_variable work_;
    std::deque<std::shared_ptr<TLookup>> queue_;
    size_t threads_ = 0;
    size_t idle_ = 0;
};

// Recent answers by IP version and name, as given.
class TAnswerCache {
public:
    std::optional<std::string> Find(const std::string& key) {
        std::lock_guard lock(lock_);
        const auto found = answers_.find(key);
        if (found == answers_.end() || found->second.Until < std::chrono::steady_clock::now()) {
            return std::nullopt;
        }
        return found->second.Address;
    }
    void Keep(const std::string& key, const std::string& address) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(lock_);
        if (answers_.size() >= MaxAnswers) {
            std::erase_if(answers_, [now](const auto& entry) { return entry.second.Until < now; });
            if (answers_.size() >= MaxAnswers) {
                answers_.clear();
            }
        }
        answers_[key] = {address, now + AnswerLife};
    }

private:
    struct TAnswer {
        std::string Address;
        std::chrono::steady_clock::time_point Until;
    };
    std::mutex lock_;
    std::unordered_map<std::string, TAnswer> answers_;
};

TAnswerCache& Answers() {
    static TAnswerCache answers;
    return answers;
}

TResolverPool& Pool() {
    static const std::shared_ptr<TResolverPool> pool = std::make_shared<TResolverPool>();
    return *pool;
}

} // namespace

std::string ResolveName(const std::string& name, TIPVersion ipVersion, const TSocketGroup* group) {
    const std::string key = (ipVersion == TIPVersion::IPv6 ? "6 " : "4 ") + name;
    if (std::optional<std::string> address = Answers().Find(key)) {
        return *address;
    }
    auto lookup = std::make_shared<TLookup>();
    lookup->Name = name;
    lookup->IPVersion = ipVersion;
    Pool().Submit(lookup);
    std::unique_lock lock(lookup->Lock);
    while (!lookup->Done.wait_for(lock, CancelCheck, [&lookup] { return lookup->Finished; })) {
        if (group != nullptr && group->IsShutDown()) {
            throw ENotConnected();
        }
    }
    if (lookup->ErrorCode) {
        TStack::RaiseSocketError(*lookup->ErrorCode);
    }
    if (lookup->ErrorText) {
        throw ENetException(*lookup->ErrorText);
    }
    Answers().Keep(key, lookup->Address);
    return lookup->Address;
}

} // namespace orvalis::proxy
