#pragma once

#include <cstdint>
#include <string>

namespace orvalis::proxy {

// A sequence of bytes with a position, the source and target of body transfers.
class TStream {
public:
    virtual ~TStream() = default;
    // Bytes actually read (0 at the end).
    virtual int64_t Read(char* buffer, int64_t count) = 0;
    virtual int64_t Write(const char* buffer, int64_t count) = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t position) = 0;
    virtual int64_t Size() const = 0;
    virtual void SetSize(int64_t size) = 0;
};

// A stream held in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

    int64_t Read(char* buffer, int64_t count) override;
    int64_t Write(const char* buffer, int64_t count) override;
    int64_t Position() const override { return position_; }
    void SetPosition(int64_t position) override { position_ = position; }
    int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
    // Keeps the position unless it lies beyond the new end.
    void SetSize(int64_t size) override;
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
    int64_t position_ = 0;
};

} // namespace orvalis::proxy
