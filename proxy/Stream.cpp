#include "proxy/Stream.h"

#include <algorithm>
#include <cstring>

namespace orvalis::proxy {

int64_t TMemoryStream::Read(char* buffer, int64_t count) {
    int64_t available = std::max<int64_t>(Size() - position_, 0);
    int64_t taken = std::clamp<int64_t>(count, 0, available);
    if (taken == 0) {
        return 0;
    }
    std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(taken));
    position_ += taken;
    return taken;
}

int64_t TMemoryStream::Write(const char* buffer, int64_t count) {
    if (count <= 0) {
        return 0;
    }
    if (position_ + count > Size()) {
        bytes_.resize(static_cast<size_t>(position_ + count));
    }
    std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

void TMemoryStream::SetSize(int64_t size) {
    bytes_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    position_ = std::min(position_, Size());
}

} // namespace orvalis::proxy
