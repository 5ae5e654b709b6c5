#pragma once

#include <giomm/icon.h>
#include <string>
#include <vector>

namespace orvalis::browser {

// The icon of an address in the address bar, as icon-theme names, most
// specific first:
// 1. a special folder by its name ("DESKTOP", "MY DOCUMENTS", "MY MUSIC", ...,
//    any case) when this user has that folder;
// 2. an existing file, or a "file://" address: the icon of its file type;
//    an existing folder: "folder";
// 3. an address whose extension holds one of .xml .txt .doc .bmp .zip .rar
//    .jpg .gif .jpeg: the icon of that file type;
// 4. any other (web) address: "text-html".
std::vector<std::string> AddressIconNames(const std::string& text);

// The same as a themed icon that falls back along the names.
Glib::RefPtr<Gio::Icon> AddressIcon(const std::string& text);

} // namespace orvalis::browser
