#include "browser/TypedUrls.h"

#include <algorithm>

namespace orvalis::browser {

namespace {

constexpr const char* kBlank = " \t\r\n";

std::string ValueName(int i) {
    return "Url" + std::to_string(i);
}

} // namespace

std::string TrimText(const std::string& text) {
    const auto first = text.find_first_not_of(kBlank);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

std::string NormalizeAddressText(const std::string& text) {
    const auto slash = text.rfind('/');
    if (slash == std::string::npos || text.back() == '/')
        return text;
    const auto dot = text.rfind('.');
    if (dot != std::string::npos && dot > slash)
        return text;
    return text + "/";
}

std::vector<std::string>
TypedUrlsFromValues(const std::vector<std::optional<std::string>>& values) {
    std::vector<std::string> items;
    std::string taken; // the text of the entries so far, one per line
    for (const auto& value : values) {
        if (!value || value->empty() || taken.find(*value) != std::string::npos)
            continue;
        std::string item = TrimText(*value);
        if (item.empty())
            continue;
        taken += item + "\r\n";
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<std::pair<std::string, std::string>>
TypedUrlValues(const std::vector<std::string>& items) {
    std::vector<std::pair<std::string, std::string>> values;
    const std::size_t n = std::min<std::size_t>(items.size(), kTypedUrlsWritten);
    for (std::size_t i = 0; i < n; ++i)
        if (!items[i].empty())
            values.emplace_back(ValueName(static_cast<int>(i) + 1), items[i]);
    return values;
}

void AddTypedUrl(std::vector<std::string>& items, const std::string& text) {
    if (std::find(items.begin(), items.end(), text) == items.end())
        items.insert(items.begin(), text);
}

void MoveTypedUrlToTop(std::vector<std::string>& items, std::size_t index) {
    if (index == 0 || index >= items.size())
        return;
    std::rotate(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(index),
                items.begin() + static_cast<std::ptrdiff_t>(index) + 1);
}

std::vector<std::string> LoadTypedUrls(const TUserRegistry& store) {
    return LoadTypedUrls(store.Snapshot());
}

std::vector<std::string> LoadTypedUrls(const TUserRegistrySnapshot& store) {
    std::vector<std::optional<std::string>> values;
    for (int i = 1; i <= kTypedUrlsRead; ++i)
        values.push_back(store.ReadString(kTypedUrlsKey, ValueName(i)));
    return TypedUrlsFromValues(values);
}

bool SaveTypedUrls(TUserRegistry& store, const std::vector<std::string>& items) {
    return store.WriteStrings(kTypedUrlsKey, TypedUrlValues(items));
}

std::string LoadStartPage(const TUserRegistry& store) {
    return LoadStartPage(store.Snapshot());
}

std::string LoadStartPage(const TUserRegistrySnapshot& store) {
    return store.ReadString(kMainKey, kStartPageName).value_or("");
}

} // namespace orvalis::browser
