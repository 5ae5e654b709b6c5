// Arbitrary header blocks: the first byte picks a name to look up, the rest
// is split into lines. Values never carry blanks at their ends.
#include "proxy/HeaderList.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr std::string_view names[] = {"Host", "content-length", "", "X-A", "Referer"};
    std::string_view name = names[data[0] % std::size(names)];
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    orvalis::proxy::THeaderList headers;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        headers.Add(std::string(text.substr(start, end - start)));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    for (int i = -1; i <= headers.Count(); ++i) {
        std::string value = headers.ValueFromIndex(i);
        if (!value.empty() && (static_cast<unsigned char>(value.front()) <= 32 ||
                               static_cast<unsigned char>(value.back()) <= 32)) {
            std::abort();
        }
        headers.Names(i);
    }
    int index = headers.IndexOfHeader(name);
    if (index < -1 || index >= headers.Count()) {
        std::abort();
    }
    if (index == -1 && !headers.ValueOf(name).empty()) {
        std::abort();
    }
    return 0;
}
