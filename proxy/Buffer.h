#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvalis::proxy {

class TStream;

// How line text is converted to and from bytes. Default stands for the
// handler's LineTextEncoding. Texts are UTF-8 byte strings, so UTF-8 and 8-bit
// pass every byte unchanged; US-ASCII turns bytes above 127 into "?".
enum class TEncoding : uint8_t { Default, USASCII, UTF8, Bit8 };

std::string EncodeText(std::string_view text, TEncoding encoding);
std::string DecodeBytes(std::string_view bytes, TEncoding encoding);

// A byte queue: the input buffer and the write buffer of an I/O handler. Short
// reads from its head do not move the data each time: it compacts only after
// more than GrowthStep bytes have been consumed. Not thread-safe.
class TBuffer {
public:
    static constexpr int GrowthStep = 2048;

    int Size() const { return size_; }
    bool IsEmpty() const { return size_ == 0; }
    int Capacity() const { return static_cast<int>(bytes_.size()); }
    // The unread bytes.
    std::string_view View() const { return {bytes_.data() + head_, static_cast<size_t>(size_)}; }

    void Write(std::string_view bytes);
    // Room for `count` bytes behind the unread ones, for a receive straight
    // into the buffer; Commit then adds the bytes that arrived there.
    char* Reserve(int count);
    void Commit(int count);
    void Remove(int count);
    void Clear();
    // Takes `count` bytes (-1: all) from the head; raises ENotEnoughDataInBuffer
    // when fewer are held.
    std::string Extract(int count = -1);
    void ExtractToBytes(std::string& bytes, int count = -1, bool append = true);
    std::string ExtractToString(int count, TEncoding encoding);
    void ExtractToStream(TStream& stream, int count = -1);
    // Position from the head of the first `pattern` at or after `start`, or -1.
    int IndexOf(std::string_view pattern, int start = 0) const;

private:
    std::string bytes_;
    int head_ = 0;
    int size_ = 0;
};

} // namespace orvalis::proxy
