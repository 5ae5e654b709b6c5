#pragma once

#include <cstdint>
#include <optional>

namespace orvalis::proxy {

// A kernel pipe, the go-between of splice(2): bytes move from one socket into
// it and out of it into another without ever entering user space.
class TSplicePipe {
public:
    // A new pipe; none when the process or system is out of descriptors, so
    // that the caller can fall back to copying instead of failing.
    static std::optional<TSplicePipe> Open();

    TSplicePipe(TSplicePipe&& other) noexcept;
    TSplicePipe& operator=(TSplicePipe&&) = delete;
    TSplicePipe(const TSplicePipe&) = delete;
    TSplicePipe& operator=(const TSplicePipe&) = delete;
    ~TSplicePipe();

    int ReadEnd() const { return fds_[0]; }
    int WriteEnd() const { return fds_[1]; }

private:
    TSplicePipe(int readEnd, int writeEnd) : fds_{readEnd, writeEnd} {}
    int fds_[2];
};

// Puts a descriptor into non-blocking mode for the life of the guard: a
// splice on a socket waits according to the socket's own mode, and the
// pumps below must never wait inside a call.
class TNonBlockingGuard {
public:
    explicit TNonBlockingGuard(int fd);
    TNonBlockingGuard(const TNonBlockingGuard&) = delete;
    TNonBlockingGuard& operator=(const TNonBlockingGuard&) = delete;
    ~TNonBlockingGuard();

private:
    int fd_;
    int flags_;
};

// Holds SIGPIPE back from the calling thread for the life of the guard: a
// splice into a socket whose peer has gone raises it, and it has no
// MSG_NOSIGNAL. A signal raised meanwhile is consumed, the error stays.
class TPipeSignalBlock {
public:
    TPipeSignalBlock();
    TPipeSignalBlock(const TPipeSignalBlock&) = delete;
    TPipeSignalBlock& operator=(const TPipeSignalBlock&) = delete;
    ~TPipeSignalBlock();

private:
    bool wasBlocked_ = false;
};

// One direction, socket `From` → pipe → socket `To`. Pump moves what both
// sockets allow at that moment, never waiting; the caller waits with poll for
// the events that WantedFrom and WantedTo name.
class TSpliceFlow {
public:
    TSpliceFlow(int from, int to, TSplicePipe& pipe) : from_(from), to_(to), pipe_(pipe) {}

    // `due` bytes left to take from the source; negative: until it closes.
    // Returns true when any byte moved or the source was found closed.
    bool Pump(int64_t& due);
    // Both sides' events to wait for; 0 when nothing is wanted there.
    short WantedFrom(int64_t due) const;
    short WantedTo() const;
    bool SourceOpen() const { return sourceOpen_; }
    // Bytes taken from the source and not yet delivered.
    int64_t Held() const { return held_; }
    // Bytes delivered to the destination so far.
    int64_t Delivered() const { return delivered_; }
    // The source closed and everything it sent has been delivered.
    bool Drained() const { return !sourceOpen_ && held_ == 0; }

private:
    int from_;
    int to_;
    TSplicePipe& pipe_;
    int64_t capacity_ = 0;
    int64_t held_ = 0;
    int64_t delivered_ = 0;
    bool sourceOpen_ = true;
    // The last fill found no room although the byte count says there is some.
    bool pipeFull_ = false;
};

// Moves a body of `length` bytes (negative: until the source closes) from
// socket `from` to socket `to` through `pipe`. A source that closes before a
// declared length is complete raises EConnClosedGracefully, after what it
// sent has been delivered. Raises EReadTimeout when the source stays silent
// for readTimeoutMs, and a socket error when the destination takes nothing
// for writeTimeoutMs (0 or less: no limit). Both sockets must be plain
// sockets with no bytes waiting in user-space buffers.
void SpliceBody(int from, int to, int64_t length, TSplicePipe& pipe, int readTimeoutMs,
                int writeTimeoutMs);

// Moves bytes both ways between two sockets, one pipe per direction, until a
// side has closed and what it sent has been delivered; a side that stops
// reading holds back only its own direction. Raises when a socket fails.
void SpliceBothWays(int first, int second, TSplicePipe& firstToSecond, TSplicePipe& secondToFirst);

} // namespace orvalis::proxy
