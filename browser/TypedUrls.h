#pragma once

#include "browser/UserRegistry.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvalis::browser {

// Where the address bar keeps the addresses typed into it and reads the
// start page.
inline constexpr const char* kTypedUrlsKey = "TypedURLs";
inline constexpr const char* kMainKey = "Main";
inline constexpr const char* kStartPageName = "Start Page";
// Values Url1... read at load, and written at most.
inline constexpr int kTypedUrlsRead = 25;
inline constexpr int kTypedUrlsWritten = 24;

// Trims spaces, tabs and line breaks at both ends.
std::string TrimText(const std::string& text);

// A text whose last "/" comes after its last "." and that does not end in
// "/" gets one: a path ending in a folder name is completed; a file name
// with an extension, or a bare host after the scheme, stays as it is.
std::string NormalizeAddressText(const std::string& text);

// The list from the stored values Url1..Url25 (missing ones as nullopt), most
// recent first: a value found anywhere in the text of the entries taken
// before it is left out (so "http://a/" then "http://a" give one entry);
// others are taken trimmed when not blank.
std::vector<std::string> TypedUrlsFromValues(const std::vector<std::optional<std::string>>& values);

// The values to store for the list: Url1... for the first 24 entries at most,
// empty entries skipped (their names stay unused).
std::vector<std::pair<std::string, std::string>>
TypedUrlValues(const std::vector<std::string>& items);

// Inserts text at the top unless an entry equals it exactly.
void AddTypedUrl(std::vector<std::string>& items, const std::string& text);

// Moves the entry at index to the top, the others keeping their order.
void MoveTypedUrlToTop(std::vector<std::string>& items, std::size_t index);

// The list and start page in the per-user store (or in one reading of it).
std::vector<std::string> LoadTypedUrls(const TUserRegistrySnapshot& store);
std::vector<std::string> LoadTypedUrls(const TUserRegistry& store);
bool SaveTypedUrls(TUserRegistry& store, const std::vector<std::string>& items);
std::string LoadStartPage(const TUserRegistrySnapshot& store);
std::string LoadStartPage(const TUserRegistry& store);

} // namespace orvalis::browser
