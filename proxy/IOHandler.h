#pragma once

#include "proxy/Buffer.h"
#include "proxy/SocketHandle.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvalis::proxy {

class THeaderList;
class TStream;

enum class TMaxLineAction : uint8_t { maException, maSplit };

// Buffered I/O over one connection: lines with terminators, a length limit and
// time-outs, blocks, streams, and writes that can be collected and sent as one.
// Used by one thread at a time.
class TIOHandler {
public:
    TIOHandler() = default;
    TIOHandler(const TIOHandler&) = delete;
    TIOHandler& operator=(const TIOHandler&) = delete;
    virtual ~TIOHandler() = default;

    std::string Host;
    uint16_t Port = 0;
    int MaxLineLength = 16384;
    TMaxLineAction MaxLineAction = TMaxLineAction::maException;
    // Bytes asked of the socket per receive.
    int RecvBufferSize = 32768;
    // Bytes per chunk when a stream is sent.
    int SendBufferSize = 32768;
    // Milliseconds a read waits; -1 (and 0 where a limit is meant) waits without limit.
    int ReadTimeout = -1;
    int ConnectTimeout = 0;
    // Most lines ReadLinesUntil captures; -1: no limit.
    int LineCollectLimit = -1;
    // Every byte passes unchanged by default: header lines must reach the other
    // side exactly as sent, non-ASCII cookies and referrers included.
    TEncoding LineTextEncoding = TEncoding::Bit8;

    TBuffer& InputStore() { return inputStore_; }
    bool IsOpen() const { return isOpen_; }
    bool PeerHasClosed() const { return peerHasClosed_; }
    bool LastLineWasSplit() const { return lastLineWasSplit_; }
    bool LastReadTimedOut() const { return lastReadTimedOut_; }

    // Clears the flags and both buffers and marks the handler open.
    virtual void Open();
    // Closes the socket; unread input stays readable.
    virtual void Close();
    // True while the socket is open and the peer has not closed, and whenever
    // unread input remains. Moves waiting bytes in without blocking.
    virtual bool Connected() = 0;
    // True when the socket has data or is closed; raises EConnClosedGracefully
    // without a socket. ms -1 waits without limit.
    virtual bool WaitReadable(int ms) = 0;
    // Raises EConnClosedGracefully when the connection is gone and (with
    // ignoreBuffer, or when no input is left) nothing more can be read.
    void CheckPeerClosed(bool raiseIfDisconnected, bool ignoreBuffer);

    // A line without its terminator (a CR before a LF terminator is dropped
    // too). On a time-out the empty text, with LastReadTimedOut set.
    std::string ReadLine(std::string_view terminator = "\n", int timeoutMs = -1, int maxLength = -1,
                         TEncoding encoding = TEncoding::Default);
    // Lines up to the delimiter line, which is not stored; returns their count.
    int ReadLinesUntil(THeaderList& lines, std::string_view delimiter = ".",
                       bool dotTransparency = true, TEncoding encoding = TEncoding::Default);
    // Each captured line followed by CR LF.
    int ReadLinesUntil(TStream& stream, std::string_view delimiter = ".",
                       bool dotTransparency = true, TEncoding encoding = TEncoding::Default);
    // count > 0: exactly that many bytes. count < 0: whatever arrives within
    // ReadTimeout, possibly nothing, but raises once the connection has closed.
    void ReadBlock(std::string& bytes, int count, bool append = false);
    // count -1 without untilDisconnect: a 32-bit network-order count comes first.
    // untilDisconnect: everything until the peer closes. Returns the bytes written.
    int64_t ReadIntoStream(TStream& stream, int64_t count = -1, bool untilDisconnect = false);
    bool IsInputEmpty() const { return inputStore_.IsEmpty(); }
    // True when new bytes arrived within the time-out; never raises for a
    // closed connection.
    bool PollForData(int timeoutMs = 0);

    // Text, nothing for an empty one.
    void Write(std::string_view text, TEncoding encoding = TEncoding::Default);
    void WriteLine(std::string_view text = {}, TEncoding encoding = TEncoding::Default);
    // Every line with CR LF, leaving as one send.
    void Write(const std::vector<std::string>& lines, bool writeCount = false,
               TEncoding encoding = TEncoding::Default);
    // size < 0: from the position to the end; 0: the whole stream; > 0: that many.
    void Write(TStream& stream, int64_t size = 0, bool writeByteCount = false);
    // Bytes as they are (collected while a write buffer is open).
    void WriteBytes(std::string_view bytes);

    // Collects output; with a threshold above 0, sends it threshold bytes at a time.
    void BeginBufferedWrite(int threshold = -1);
    // Sends what was collected and stops collecting (also when the send fails).
    void EndBufferedWrite();
    void FlushBufferedWrite(int count = -1);
    void ClearBufferedWrite();
    void CancelBufferedWrite();
    bool WriteBufferingActive() const { return writeBuffer_ != nullptr; }

protected:
    virtual bool SourceIsAvailable() const = 0;
    virtual int ReadDataFromSource(char* buffer, int length) = 0;
    // Bytes already waiting, or -1 when a read would have to wait for them.
    virtual int ReadWaitingData(char* /*buffer*/, int /*length*/) { return -1; }
    virtual int WriteDataToTarget(const char* buffer, int length) = 0;
    // The receive step under every read: bytes received, 0, or -1 on time-out.
    int ReadFromSource(bool raiseIfDisconnected, int timeoutMs, bool raiseOnTimeout);

    bool isOpen_ = false;
    bool peerHasClosed_ = false;

private:
    TEncoding Resolve(TEncoding encoding) const;
    std::string SplitOrRaise(int maxLength, TEncoding encoding);
    int ReadLinesUntil(const std::function<void(std::string&)>& store, std::string_view delimiter,
                       bool dotTransparency, TEncoding encoding);
    void WriteDirect(std::string_view bytes);
    void WriteInt32(int64_t value);

    TBuffer inputStore_;
    std::unique_ptr<TBuffer> writeBuffer_;
    int writeBufferThreshold_ = -1;
    bool lastLineWasSplit_ = false;
    bool lastReadTimedOut_ = false;
};

// An I/O handler on a socket of its own; the binding is created by the first
// Open. With Host and Port set, Open connects.
class TIOHandlerSocket : public TIOHandler {
public:
    std::string BoundIP;
    uint16_t BoundPort = 0;
    uint16_t BoundPortMin = 0;
    uint16_t BoundPortMax = 0;
    TIPVersion IPVersion = TIPVersion::IPv4;
    TReuseSocket ReuseSocket = TReuseSocket::rsOSDependent;
    // False sets the socket's no-delay option.
    bool UseNagle = true;
    // The group the socket joins when it is made (outlives the handler).
    TSocketGroup* SocketGroup = nullptr;

    TSocketHandle* Binding() const { return binding_.get(); }
    void Open() override;
    void Close() override;

protected:
    bool SourceIsAvailable() const override;
    int ReadDataFromSource(char* buffer, int length) override;
    int ReadWaitingData(char* buffer, int length) override;
    int WriteDataToTarget(const char* buffer, int length) override;

private:
    void ConnectClient();
    // The address to contact for Host: an IPv4 host of four decimal numbers
    // as written, a name through the resolver (given up when SocketGroup is
    // shut down); raises for a host that is neither.
    std::string PeerAddress() const;
    void ConnectWithTimeout();

    std::unique_ptr<TSocketHandle> binding_;
};

// The socket handler every connection uses.
class TIOHandlerStack : public TIOHandlerSocket {
public:
    bool Connected() override;
    bool WaitReadable(int ms) override;
};

} // namespace orvalis::proxy
