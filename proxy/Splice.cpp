#include "proxy/Splice.h"

#include "proxy/NetExceptions.h"
#include "proxy/Stack.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace orvalis::proxy {

namespace {

// Bytes a pipe is asked to hold: four times the default lets one splice call
// carry what a fast socket delivers between two wake-ups.
constexpr int PipeBytes = 256 * 1024;

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

int64_t PipeCapacity(int fd) {
    const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
    return capacity > 0 ? capacity : 65536;
}

// A splice that the socket took only in part leaves its last piece corked
// (the kernel marks it "more to come"). With a send buffer smaller than a
// segment, that piece alone keeps the socket from becoming writable, and the
// wait for it would never end: setting the no-delay option sends it out.
void PushCorkedTail(int socket) {
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A side nothing is wanted of is left out of a wait: its hang-up or error
// would otherwise end every wait at once while its peer is not reading.
pollfd Side(int fd, short events) {
    return pollfd{events != 0 ? fd : -1, events, 0};
}

} // namespace

std::optional<TSplicePipe> TSplicePipe::Open() {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    // A smaller pipe than asked (the user's pipe allowance spent) still works.
    ::fcntl(fds[1], F_SETPIPE_SZ, PipeBytes);
    return TSplicePipe(fds[0], fds[1]);
}

TSplicePipe::TSplicePipe(TSplicePipe&& other) noexcept : fds_{other.fds_[0], other.fds_[1]} {
    other.fds_[0] = other.fds_[1] = -1;
}

TSplicePipe::~TSplicePipe() {
    for (int fd : fds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

TNonBlockingGuard::TNonBlockingGuard(int fd) : fd_(fd), flags_(::fcntl(fd, F_GETFL)) {
    if (flags_ < 0) {
        TStack::RaiseLastError();
    }
    if ((flags_ & O_NONBLOCK) == 0) {
        ::fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK);
    }
}

TNonBlockingGuard::~TNonBlockingGuard() {
    if ((flags_ & O_NONBLOCK) == 0) {
        ::fcntl(fd_, F_SETFL, flags_);
    }
}

TPipeSignalBlock::TPipeSignalBlock() {
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    wasBlocked_ = sigismember(&previous, SIGPIPE) == 1;
}

TPipeSignalBlock::~TPipeSignalBlock() {
    if (wasBlocked_) {
        return;
    }
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    const timespec now{0, 0};
    while (::sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_UNBLOCK, &pipeSignal, nullptr);
}

bool TSpliceFlow::Pump(int64_t& due) {
    bool moved = false;
    if (capacity_ == 0) {
        capacity_ = PipeCapacity(pipe_.WriteEnd());
    }
    if (sourceOpen_ && due != 0 && held_ < capacity_ && !pipeFull_) {
        const int64_t room = capacity_ - held_;
        const auto want = static_cast<size_t>(due > 0 ? std::min(due, room) : room);
        const ssize_t got = ::splice(from_, nullptr, pipe_.WriteEnd(), nullptr, want,
                                     SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (got > 0) {
            held_ += got;
            if (due > 0) {
                due -= got;
            }
            moved = true;
        } else if (got == 0) {
            sourceOpen_ = false;
            moved = true;
        } else if (!WouldBlock()) {
            TStack::RaiseLastError();
        } else if (held_ > 0) {
            // The pipe may be full in pages before it is full in bytes: wait
            // for the destination instead of for a source that is readable.
            pipeFull_ = true;
        }
    }
    if (held_ > 0) {
        const ssize_t sent =
            ::splice(pipe_.ReadEnd(), nullptr, to_, nullptr, static_cast<size_t>(held_),
                     SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (sent > 0) {
            held_ -= sent;
            delivered_ += sent;
            pipeFull_ = false;
            moved = true;
        } else if (sent < 0 && !WouldBlock()) {
            TStack::RaiseLastError();
        } else if (sent < 0) {
            PushCorkedTail(to_);
        }
    }
    return moved;
}

short TSpliceFlow::WantedFrom(int64_t due) const {
    return sourceOpen_ && due != 0 && held_ < capacity_ && !pipeFull_ ? POLLIN : 0;
}

short TSpliceFlow::WantedTo() const {
    return held_ > 0 ? POLLOUT : 0;
}

void SpliceBody(int from, int to, int64_t length, TSplicePipe& pipe, int readTimeoutMs,
                int writeTimeoutMs) {
    using Clock = std::chrono::steady_clock;
    const TNonBlockingGuard quietFrom(from);
    const TNonBlockingGuard quietTo(to);
    const TPipeSignalBlock noSignal;
    TSpliceFlow flow(from, to, pipe);
    int64_t due = length;
    auto lastRead = Clock::now();
    auto lastWrite = lastRead;
    for (;;) {
        const int64_t dueBefore = due;
        const int64_t deliveredBefore = flow.Delivered();
        // The destination's time runs only while bytes wait for it.
        const bool nothingWaited = flow.Held() == 0;
        const bool moved = flow.Pump(due);
        const auto now = Clock::now();
        if (due != dueBefore || !flow.SourceOpen()) {
            lastRead = now;
        }
        if (flow.Delivered() != deliveredBefore || nothingWaited) {
            lastWrite = now;
        }
        if (flow.Drained() || (due == 0 && flow.Held() == 0)) {
            break;
        }
        if (moved) {
            continue;
        }
        // Wait for whichever side holds things up, for as long as its limit allows.
        const short fromEvents = flow.WantedFrom(due);
        const short toEvents = flow.WantedTo();
        auto left = [now](Clock::time_point since, int limitMs) {
            if (limitMs <= 0) {
                return -1;
            }
            const auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count();
            return static_cast<int>(std::max<int64_t>(limitMs - spent, 0));
        };
        const int readLeft = fromEvents != 0 ? left(lastRead, readTimeoutMs) : -1;
        const int writeLeft = toEvents != 0 ? left(lastWrite, writeTimeoutMs) : -1;
        if (readLeft == 0) {
            throw EReadTimeout();
        }
        if (writeLeft == 0) {
            TStack::RaiseSocketError(TStack::TranslateError(ETIMEDOUT));
        }
        pollfd sides[2] = {Side(from, fromEvents), Side(to, toEvents)};
        const int waitMs = readLeft < 0    ? writeLeft
                           : writeLeft < 0 ? readLeft
                                           : std::min(readLeft, writeLeft);
        if (::poll(sides, 2, waitMs) < 0 && errno != EINTR) {
            TStack::RaiseLastError();
        }
    }
    if (due > 0) {
        throw EConnClosedGracefully();
    }
}

void SpliceBothWays(int first, int second, TSplicePipe& firstToSecond, TSplicePipe& secondToFirst) {
    const TNonBlockingGuard quietFirst(first);
    const TNonBlockingGuard quietSecond(second);
    const TPipeSignalBlock noSignal;
    TSpliceFlow forth(first, second, firstToSecond);
    TSpliceFlow back(second, first, secondToFirst);
    int64_t untilClose = -1;
    while (!forth.Drained() && !back.Drained()) {
        const bool movedForth = forth.Pump(untilClose);
        const bool movedBack = back.Pump(untilClose);
        if (movedForth || movedBack) {
            continue;
        }
        pollfd sides[2] = {Side(first, forth.WantedFrom(-1) | back.WantedTo()),
                           Side(second, back.WantedFrom(-1) | forth.WantedTo())};
        if (::poll(sides, 2, -1) < 0 && errno != EINTR) {
            TStack::RaiseLastError();
        }
    }
}

} // namespace orvalis::proxy
