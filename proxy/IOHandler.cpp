#include "proxy/IOHandler.h"

#include "proxy/HeaderList.h"
#include "proxy/HostAddress.h"
#include "proxy/NetExceptions.h"
#include "proxy/Resolver.h"
#include "proxy/Stack.h"
#include "proxy/Stream.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <strings.h>
#include <sys/socket.h>
#include <thread>

namespace orvalis::proxy {

namespace {

using Clock = std::chrono::steady_clock;

int64_t ElapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Runs a blocking connect on a thread of its own so that the caller can give
// up after a time limit.
class TConnectThread {
public:
    explicit TConnectThread(TSocketHandle& binding)
        : thread_([this, &binding] { Execute(binding); }) {}
    ~TConnectThread() { WaitFor(); }

    // True when the connect ended within `ms` (-1: no limit).
    bool WaitFor(int ms) {
        std::unique_lock lock(lock_);
        if (ms < 0) {
            done_.wait(lock, [this] { return finished_; });
            return true;
        }
        return done_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finished_; });
    }
    void WaitFor() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Raises the connect's failure, if any, on the caller's thread: it crosses
    // threads as values, not as a shared exception object.
    void RaiseFailure() const {
        if (errorCode_) {
            TStack::RaiseSocketError(*errorCode_);
        }
        if (errorText_) {
            throw EConnectException(*errorText_);
        }
    }

private:
    void Execute(TSocketHandle& binding) {
        std::optional<int> errorCode;
        std::optional<std::string> errorText;
        try {
            binding.Connect();
        } catch (const ESocketError& error) {
            // Its socket closed under it: the caller has given up already.
            if (error.Code() != 10009 && error.Code() != 10038) {
                errorCode = error.Code();
            }
        } catch (const std::exception& error) {
            errorText = error.what();
        }
        std::lock_guard lock(lock_);
        errorCode_ = errorCode;
        errorText_ = std::move(errorText);
        finished_ = true;
        done_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable done_;
    bool finished_ = false;
    std::optional<int> errorCode_;
    std::optional<std::string> errorText_;
    std::thread thread_;
};

} // namespace

TEncoding TIOHandler::Resolve(TEncoding encoding) const {
    return encoding == TEncoding::Default ? LineTextEncoding : encoding;
}

void TIOHandler::Open() {
    isOpen_ = false;
    peerHasClosed_ = false;
    writeBuffer_.reset();
    inputStore_.Clear();
    isOpen_ = true;
}

void TIOHandler::Close() {
    isOpen_ = false;
    writeBuffer_.reset();
}

void TIOHandler::CheckPeerClosed(bool raiseIfDisconnected, bool ignoreBuffer) {
    bool disconnected = false;
    if (peerHasClosed_) {
        disconnected = true;
        if (SourceIsAvailable()) {
            Close();
        }
    } else if (!SourceIsAvailable()) {
        disconnected = true;
    }
    if (disconnected && raiseIfDisconnected && (ignoreBuffer || inputStore_.IsEmpty())) {
        throw EConnClosedGracefully();
    }
}

int TIOHandler::ReadFromSource(bool raiseIfDisconnected, int timeoutMs, bool raiseOnTimeout) {
    if (timeoutMs == -1 && ReadTimeout != 0) {
        timeoutMs = ReadTimeout;
    }
    CheckPeerClosed(raiseIfDisconnected, false);
    if (!SourceIsAvailable()) {
        if (raiseIfDisconnected) {
            throw ENetException("Not Connected");
        }
        return 0;
    }
    const int wanted = std::max(RecvBufferSize, 1);
    for (;;) {
        // Straight into the input buffer: no copy, and no scratch area that a
        // thread keeps while its connection is at rest.
        int count = -1;
        // Bytes that have already arrived need no wait: a request head is
        // usually there by the time its connection is served.
        if (timeoutMs >= 0 && isOpen_ && SourceIsAvailable()) {
            count = ReadWaitingData(inputStore_.Reserve(wanted), wanted);
            inputStore_.Commit(std::max(count, 0));
        }
        if (count < 0) {
            // Without a time limit the read itself waits: a wait before it
            // would only cost a second system call.
            if ((timeoutMs >= 0 || !isOpen_) && !WaitReadable(timeoutMs)) {
                if (raiseOnTimeout) {
                    throw EReadTimeout();
                }
                return -1;
            }
            count = 0;
            if (isOpen_) {
                if (!SourceIsAvailable()) {
                    throw EClosedSocket();
                }
                count = ReadDataFromSource(inputStore_.Reserve(wanted), wanted);
                inputStore_.Commit(count);
            } else if (raiseIfDisconnected) {
                throw ENotConnected();
            }
        }
        if (count == 0) {
            peerHasClosed_ = true;
        }
        CheckPeerClosed(raiseIfDisconnected, false);
        if (count != 0 || !SourceIsAvailable()) {
            return count;
        }
    }
}

std::string TIOHandler::SplitOrRaise(int maxLength, TEncoding encoding) {
    if (MaxLineAction == TMaxLineAction::maException) {
        throw EReadLnMaxLineLengthExceeded();
    }
    lastLineWasSplit_ = true;
    return inputStore_.ExtractToString(maxLength, encoding);
}

std::string TIOHandler::ReadLine(std::string_view terminator, int timeoutMs, int maxLength,
                                 TEncoding encoding) {
    if (terminator.empty()) {
        terminator = "\n";
    }
    if (maxLength < 0) {
        maxLength = MaxLineLength;
    }
    encoding = Resolve(encoding);
    lastLineWasSplit_ = false;
    lastReadTimedOut_ = false;
    const auto start = Clock::now();
    const std::string pattern = EncodeText(terminator, encoding);
    const int patternLength = static_cast<int>(pattern.size());
    int searched = 0;
    int found = -1;
    for (;;) {
        if (!inputStore_.IsEmpty()) {
            // Resume where the last search ended, less a terminator split across reads.
            if (searched < inputStore_.Size()) {
                found = inputStore_.IndexOf(pattern, searched);
            }
            searched = std::max(inputStore_.Size() - patternLength + 1, 0);
        }
        if (maxLength > 0 && found > maxLength) {
            return SplitOrRaise(maxLength, encoding);
        }
        if (found >= 0) {
            std::string line = inputStore_.ExtractToString(found + patternLength, encoding);
            line.resize(line.size() - patternLength);
            if (terminator == "\n" && !line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (maxLength > 0 && searched > maxLength) {
            return SplitOrRaise(maxLength, encoding);
        }
        CheckPeerClosed(true, true);
        if (ReadFromSource(true, timeoutMs, false) == -1 ||
            (timeoutMs >= 0 && ElapsedMs(start) >= timeoutMs)) {
            lastReadTimedOut_ = true;
            return {};
        }
    }
}

int TIOHandler::ReadLinesUntil(const std::function<void(std::string&)>& store,
                               std::string_view delimiter, bool dotTransparency,
                               TEncoding encoding) {
    int count = 0;
    for (;;) {
        std::string line = ReadLine("\n", -1, -1, encoding);
        if (line == delimiter) {
            return count;
        }
        if (LineCollectLimit > 0 && count > LineCollectLimit) {
            throw EMaxCaptureLineExceeded();
        }
        if (dotTransparency && line.starts_with("..")) {
            line.erase(0, 1);
        }
        ++count;
        store(line);
    }
}

int TIOHandler::ReadLinesUntil(THeaderList& lines, std::string_view delimiter, bool dotTransparency,
                               TEncoding encoding) {
    return ReadLinesUntil([&lines](std::string& line) { lines.Add(std::move(line)); }, delimiter,
                          dotTransparency, encoding);
}

int TIOHandler::ReadLinesUntil(TStream& stream, std::string_view delimiter, bool dotTransparency,
                               TEncoding encoding) {
    const TEncoding resolved = Resolve(encoding);
    return ReadLinesUntil(
        [&stream, resolved](std::string& line) {
            std::string bytes = EncodeText(line + "\r\n", resolved);
            stream.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
        },
        delimiter, dotTransparency, encoding);
}

void TIOHandler::ReadBlock(std::string& bytes, int count, bool append) {
    if (count > 0) {
        while (inputStore_.Size() < count) {
            if (ReadFromSource(false, -1, true) > 0 && inputStore_.Size() >= count) {
                break;
            }
            CheckPeerClosed(true, true);
        }
    } else if (count < 0) {
        ReadFromSource(false, ReadTimeout, false);
        CheckPeerClosed(true, true);
    } else {
        return;
    }
    inputStore_.ExtractToBytes(bytes, count, append);
}

int64_t TIOHandler::ReadIntoStream(TStream& stream, int64_t count, bool untilDisconnect) {
    if (untilDisconnect) {
        count = -1;
    } else if (count == -1) {
        std::string prefix;
        ReadBlock(prefix, 4);
        count = (int64_t(uint8_t(prefix[0])) << 24) | (uint8_t(prefix[1]) << 16) |
                (uint8_t(prefix[2]) << 8) | uint8_t(prefix[3]);
    }
    if (count >= 0) {
        stream.SetSize(stream.Position() + count);
    }
    int64_t written = 0;
    auto put = [&stream, &written](const std::string& bytes) {
        written += stream.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    };
    auto due = [&] { return count < 0 ? INT64_MAX : count - written; };
    try {
        put(inputStore_.Extract(static_cast<int>(std::min<int64_t>(due(), inputStore_.Size()))));
        while (due() > 0) {
            const int chunk = static_cast<int>(std::min<int64_t>(due(), RecvBufferSize));
            std::string block;
            try {
                ReadBlock(block, chunk);
            } catch (const EConnClosedGracefully&) {
                std::string rest = inputStore_.Extract(std::min(chunk, inputStore_.Size()));
                if (!untilDisconnect) {
                    throw;
                }
                put(rest);
                break;
            } catch (...) {
                inputStore_.Remove(std::min(chunk, inputStore_.Size()));
                throw;
            }
            put(block);
        }
    } catch (...) {
        if (stream.Size() > stream.Position()) {
            stream.SetSize(stream.Position());
        }
        throw;
    }
    if (stream.Size() > stream.Position()) {
        stream.SetSize(stream.Position());
    }
    return written;
}

bool TIOHandler::PollForData(int timeoutMs) {
    return Connected() && ReadFromSource(false, timeoutMs, false) > 0;
}

void TIOHandler::Write(std::string_view text, TEncoding encoding) {
    if (!text.empty()) {
        WriteBytes(EncodeText(text, Resolve(encoding)));
    }
}

void TIOHandler::WriteLine(std::string_view text, TEncoding encoding) {
    Write(std::string(text) + "\r\n", encoding);
}

void TIOHandler::Write(const std::vector<std::string>& lines, bool writeCount, TEncoding encoding) {
    BeginBufferedWrite();
    try {
        if (writeCount) {
            WriteInt32(static_cast<int64_t>(lines.size()));
        }
        for (const std::string& line : lines) {
            WriteLine(line, encoding);
        }
    } catch (...) {
        EndBufferedWrite();
        throw;
    }
    EndBufferedWrite();
}

void TIOHandler::Write(TStream& stream, int64_t size, bool writeByteCount) {
    if (size < 0) {
        size = stream.Size() - stream.Position();
    } else if (size == 0) {
        stream.SetPosition(0);
        size = stream.Size();
    }
    if (size > INT32_MAX) {
        throw EIOHandlerRequiresLargeStream();
    }
    if (writeByteCount) {
        WriteInt32(size);
    }
    std::string chunk;
    while (size > 0) {
        chunk.resize(static_cast<size_t>(std::min<int64_t>(size, SendBufferSize)));
        int64_t got = stream.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
        if (got <= 0) {
            throw ENoDataToRead();
        }
        WriteBytes(std::string_view(chunk).substr(0, static_cast<size_t>(got)));
        size -= got;
    }
}

void TIOHandler::WriteInt32(int64_t value) {
    const auto v = static_cast<uint32_t>(value);
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    WriteBytes(std::string_view(bytes, 4));
}

void TIOHandler::WriteBytes(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    if (!writeBuffer_) {
        WriteDirect(bytes);
        return;
    }
    writeBuffer_->Write(bytes);
    while (writeBufferThreshold_ > 0 && writeBuffer_->Size() >= writeBufferThreshold_) {
        FlushBufferedWrite(writeBufferThreshold_);
    }
}

void TIOHandler::WriteDirect(std::string_view bytes) {
    CheckPeerClosed(true, true);
    while (!bytes.empty()) {
        const int length = static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX));
        const int sent = WriteDataToTarget(bytes.data(), length);
        if (sent == 0) {
            peerHasClosed_ = true;
        }
        CheckPeerClosed(true, false);
        bytes.remove_prefix(sent);
    }
}

void TIOHandler::BeginBufferedWrite(int threshold) {
    if (writeBuffer_) {
        writeBuffer_->Clear();
    } else {
        writeBuffer_ = std::make_unique<TBuffer>();
    }
    writeBufferThreshold_ = threshold;
}

void TIOHandler::EndBufferedWrite() {
    if (!writeBuffer_) {
        return;
    }
    std::unique_ptr<TBuffer> collected = std::move(writeBuffer_);
    WriteDirect(collected->View());
}

void TIOHandler::FlushBufferedWrite(int count) {
    if (!writeBuffer_ || writeBuffer_->IsEmpty()) {
        return;
    }
    WriteDirect(writeBuffer_->Extract(count < 0 ? -1 : std::min(count, writeBuffer_->Size())));
}

void TIOHandler::ClearBufferedWrite() {
    if (writeBuffer_) {
        writeBuffer_->Clear();
    }
}

void TIOHandler::CancelBufferedWrite() {
    writeBuffer_.reset();
}

void TIOHandlerSocket::Open() {
    TIOHandler::Open();
    if (binding_) {
        binding_->Reset();
    } else {
        binding_ = std::make_unique<TSocketHandle>();
    }
    binding_->ClientPortMin = BoundPortMin;
    binding_->ClientPortMax = BoundPortMax;
    if (!Host.empty() && Port > 0) {
        ConnectClient();
    }
}

void TIOHandlerSocket::Close() {
    if (binding_) {
        binding_->CloseSocket();
    }
    TIOHandler::Close();
}

bool TIOHandlerSocket::SourceIsAvailable() const {
    return binding_ && binding_->HandleAllocated();
}

int TIOHandlerSocket::ReadDataFromSource(char* buffer, int length) {
    return TStack::Receive(binding_->Handle(), buffer, length);
}

int TIOHandlerSocket::ReadWaitingData(char* buffer, int length) {
    return TStack::ReceiveWaiting(binding_->Handle(), buffer, length);
}

int TIOHandlerSocket::WriteDataToTarget(const char* buffer, int length) {
    if (!SourceIsAvailable()) {
        throw EClosedSocket();
    }
    return TStack::Send(binding_->Handle(), buffer, length);
}

void TIOHandlerSocket::ConnectClient() {
    binding_->SetIPVersion(IPVersion);
    binding_->SetGroup(SocketGroup);
    binding_->AllocateSocket();
    binding_->IP = BoundIP;
    binding_->Port = BoundPort;
    if (ReuseSocket == TReuseSocket::rsTrue) {
        binding_->SetSockOpt(SOL_SOCKET, SO_REUSEADDR, 1);
    }
    // With nothing asked of the local side, connect chooses the port itself: an
    // explicit bind to port 0 would reserve the port for every destination and
    // make the kernel's search slow once many connections linger in TIME_WAIT.
    if (!BoundIP.empty() || BoundPort != 0 || BoundPortMin != 0 || BoundPortMax != 0) {
        binding_->Bind();
    }
    if (!UseNagle) {
        binding_->SetSockOpt(IPPROTO_TCP, TCP_NODELAY, 1);
    }
    binding_->SetPeer(PeerAddress(), Port, IPVersion);
    if (ConnectTimeout == 0) {
        binding_->Connect();
    } else {
        ConnectWithTimeout();
    }
    // The peer is the address just connected to: asking the system again
    // would only cost a call per request.
    binding_->UpdateBindingLocal();
}

std::string TIOHandlerSocket::PeerAddress() const {
    if (IPVersion == TIPVersion::IPv6) {
        return TStack::ResolveHost(Host, IPVersion);
    }
    if (Host.size() == 9 && strcasecmp(Host.c_str(), "localhost") == 0) {
        return "127.0.0.1";
    }
    const TContactHost contact = ContactHost(Host);
    switch (contact.Kind) {
    case TContactHost::TKind::Address:
        return contact.Text;
    case TContactHost::TKind::Name:
        return ResolveName(contact.Text, IPVersion, SocketGroup);
    case TContactHost::TKind::Refused:
        break;
    }
    // Refused like a name that does not exist.
    TStack::RaiseSocketError(11001);
}

void TIOHandlerSocket::ConnectWithTimeout() {
    TConnectThread connectThread(*binding_);
    if (!connectThread.WaitFor(ConnectTimeout)) {
        // Shutting the socket down aborts the pending connect.
        binding_->Shutdown();
        connectThread.WaitFor();
        Close();
        throw EConnectTimeout();
    }
    connectThread.WaitFor();
    connectThread.RaiseFailure();
}

bool TIOHandlerStack::Connected() {
    ReadFromSource(false, 0, false);
    return (SourceIsAvailable() && isOpen_ && (!peerHasClosed_ || !IsInputEmpty())) ||
           !IsInputEmpty();
}

bool TIOHandlerStack::WaitReadable(int ms) {
    if (!SourceIsAvailable()) {
        throw EConnClosedGracefully();
    }
    return Binding()->Readable(ms);
}

} // namespace orvalis::proxy
