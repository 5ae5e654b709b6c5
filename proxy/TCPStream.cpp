#include "proxy/TCPStream.h"

#include "proxy/NetExceptions.h"
#include "proxy/TCPConnection.h"

#include <cstring>

namespace orvalis::proxy {

namespace {

TIOHandler& HandlerOf(TTCPConnection& connection) {
    if (!connection.IOHandler()) {
        throw ENotConnected();
    }
    return *connection.IOHandler();
}

} // namespace

int64_t TTCPStream::Read(char* buffer, int64_t count) {
    if (count <= 0) {
        return 0;
    }
    std::string bytes;
    HandlerOf(connection_).ReadBlock(bytes, static_cast<int>(count));
    std::memcpy(buffer, bytes.data(), bytes.size());
    return count;
}

int64_t TTCPStream::Write(const char* buffer, int64_t count) {
    HandlerOf(connection_).WriteBytes(std::string_view(buffer, static_cast<size_t>(count)));
    return count;
}

} // namespace orvalis::proxy
