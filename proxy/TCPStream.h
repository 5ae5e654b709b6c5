#pragma once

#include "proxy/Stream.h"

namespace orvalis::proxy {

class TTCPConnection;

// A stream over a connection: reads take exactly the bytes asked for, writes
// leave at once. It cannot seek (its position is always 0) and ignores size
// changes.
class TTCPStream : public TStream {
public:
    explicit TTCPStream(TTCPConnection& connection) : connection_(connection) {}

    int64_t Read(char* buffer, int64_t count) override;
    int64_t Write(const char* buffer, int64_t count) override;
    int64_t Position() const override { return 0; }
    void SetPosition(int64_t) override {}
    int64_t Size() const override { return 0; }
    void SetSize(int64_t) override {}

private:
    TTCPConnection& connection_;
};

} // namespace orvalis::proxy
