#include "proxy/Buffer.h"

#include "proxy/NetExceptions.h"
#include "proxy/Stream.h"

#include <climits>
#include <cstring>

namespace orvalis::proxy {

std::string EncodeText(std::string_view text, TEncoding encoding) {
    std::string bytes(text);
    if (encoding == TEncoding::USASCII) {
        for (char& c : bytes) {
            if (static_cast<unsigned char>(c) > 127) {
                c = '?';
            }
        }
    }
    return bytes;
}

std::string DecodeBytes(std::string_view bytes, TEncoding encoding) {
    return EncodeText(bytes, encoding);
}

void TBuffer::Write(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    if (static_cast<int64_t>(INT_MAX) - static_cast<int64_t>(bytes.size()) < size_) {
        throw ETooMuchDataInBuffer();
    }
    const int count = static_cast<int>(bytes.size());
    if (size_ == 0) {
        bytes_.assign(bytes);
        head_ = 0;
        size_ = count;
        return;
    }
    if (head_ > 0) {
        std::memmove(bytes_.data(), bytes_.data() + head_, size_);
        head_ = 0;
    }
    if (Capacity() - size_ < count) {
        bytes_.resize(static_cast<size_t>(size_) + count + GrowthStep);
    }
    std::memcpy(bytes_.data() + size_, bytes.data(), count);
    size_ += count;
}

char* TBuffer::Reserve(int count) {
    if (static_cast<int64_t>(INT_MAX) - count < size_) {
        throw ETooMuchDataInBuffer();
    }
    if (size_ == 0) {
        head_ = 0;
    } else if (head_ > 0) {
        std::memmove(bytes_.data(), bytes_.data() + head_, size_);
        head_ = 0;
    }
    if (Capacity() - size_ < count) {
        bytes_.resize(static_cast<size_t>(size_) + count);
    }
    return bytes_.data() + size_;
}

void TBuffer::Commit(int count) {
    size_ += count;
}

void TBuffer::Remove(int count) {
    if (count >= size_) {
        Clear();
        return;
    }
    head_ += count;
    size_ -= count;
    if (head_ > GrowthStep) {
        std::memmove(bytes_.data(), bytes_.data() + head_, size_);
        head_ = 0;
        if (Capacity() - size_ > GrowthStep) {
            bytes_.resize(static_cast<size_t>(size_) + GrowthStep);
            bytes_.shrink_to_fit();
        }
    }
}

void TBuffer::Clear() {
    bytes_.clear();
    bytes_.shrink_to_fit();
    head_ = 0;
    size_ = 0;
}

std::string TBuffer::Extract(int count) {
    if (count < 0) {
        count = size_;
    }
    if (count > size_) {
        throw ENotEnoughDataInBuffer("Not enough data in buffer. (" + std::to_string(count) + "/" +
                                     std::to_string(size_) + ")");
    }
    std::string bytes(View().substr(0, count));
    Remove(count);
    return bytes;
}

void TBuffer::ExtractToBytes(std::string& bytes, int count, bool append) {
    std::string taken = Extract(count);
    if (append) {
        bytes += taken;
    } else {
        bytes = std::move(taken);
    }
}

std::string TBuffer::ExtractToString(int count, TEncoding encoding) {
    return DecodeBytes(Extract(count), encoding);
}

void TBuffer::ExtractToStream(TStream& stream, int count) {
    std::string taken = Extract(count);
    stream.Write(taken.data(), static_cast<int64_t>(taken.size()));
}

int TBuffer::IndexOf(std::string_view pattern, int start) const {
    if (pattern.empty()) {
        throw ENetException("Buffer terminator must be specified.");
    }
    if (size_ == 0) {
        return -1;
    }
    if (start < 0 || start >= size_) {
        throw ENetException("Buffer start position is invalid.");
    }
    size_t found = View().find(pattern, start);
    return found == std::string_view::npos ? -1 : static_cast<int>(found);
}

} // namespace orvalis::proxy
