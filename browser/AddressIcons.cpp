#include "browser/AddressIcons.h"

#include "browser/TypedUrls.h"

#include <algorithm>
#include <array>
#include <gio/gio.h>
#include <glib.h>
#include <optional>

namespace orvalis::browser {

namespace {

constexpr const char* kGenericFile = "text-x-generic";

struct TSpecialFolder {
    const char* Name;
    std::optional<GUserDirectory> Directory; // none: the home folder
    const char* Icon;
};

// The special-folder names that have a counterpart here.
constexpr std::array<TSpecialFolder, 8> kSpecialFolders{{
    {"DESKTOP", G_USER_DIRECTORY_DESKTOP, "user-desktop"},
    {"DESKTOP DIRECTORY", G_USER_DIRECTORY_DESKTOP, "user-desktop"},
    {"MY DOCUMENTS", G_USER_DIRECTORY_DOCUMENTS, "folder-documents"},
    {"MY MUSIC", G_USER_DIRECTORY_MUSIC, "folder-music"},
    {"MY PICTURES", G_USER_DIRECTORY_PICTURES, "folder-pictures"},
    {"MY VIDEO", G_USER_DIRECTORY_VIDEOS, "folder-videos"},
    {"TEMPLATES", G_USER_DIRECTORY_TEMPLATES, "folder-templates"},
    {"USERPROFILE", std::nullopt, "user-home"},
}};

constexpr std::array<const char*, 9> kTypedExtensions{".xml", ".txt", ".doc", ".bmp", ".zip",
                                                      ".rar", ".jpg", ".gif", ".jpeg"};

std::string AsciiUpper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(g_ascii_toupper(c)); });
    return s;
}

std::string AsciiLower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(g_ascii_tolower(c)); });
    return s;
}

// The type icon of a file known by its name only.
std::vector<std::string> FileTypeIcon(const std::string& name) {
    std::vector<std::string> names;
    g_autofree char* type = g_content_type_guess(name.c_str(), nullptr, 0, nullptr);
    if (GIcon* icon = type ? g_content_type_get_icon(type) : nullptr) {
        if (G_IS_THEMED_ICON(icon))
            for (const char* const* n = g_themed_icon_get_names(G_THEMED_ICON(icon)); *n; ++n)
                names.emplace_back(*n);
        g_object_unref(icon);
    }
    names.emplace_back(kGenericFile);
    return names;
}

std::optional<std::string> SpecialFolderIcon(const std::string& text) {
    const std::string upper = AsciiUpper(text);
    for (const auto& folder : kSpecialFolders) {
        if (upper != folder.Name)
            continue;
        const char* dir =
            folder.Directory ? g_get_user_special_dir(*folder.Directory) : g_get_home_dir();
        if (dir)
            return std::string(folder.Icon);
    }
    return std::nullopt;
}

} // namespace

std::vector<std::string> AddressIconNames(const std::string& address) {
    const std::string text = TrimText(address);
    if (auto icon = SpecialFolderIcon(text))
        return {*icon, "folder"};
    const bool isDir = !text.empty() && g_file_test(text.c_str(), G_FILE_TEST_IS_DIR);
    const bool isFile = !text.empty() && !isDir && g_file_test(text.c_str(), G_FILE_TEST_EXISTS);
    if (isFile || g_ascii_strncasecmp(text.c_str(), "file://", 7) == 0)
        return FileTypeIcon(text);
    if (isDir)
        return {"folder"};
    if (const auto dot = text.rfind('.'); dot != std::string::npos) {
        const std::string extension = AsciiLower(TrimText(text.substr(dot)));
        for (const char* known : kTypedExtensions)
            if (extension.find(known) != std::string::npos)
                return FileTypeIcon(std::string("file") + known);
    }
    return {"text-html", kGenericFile};
}

Glib::RefPtr<Gio::Icon> AddressIcon(const std::string& text) {
    const std::vector<std::string> names = AddressIconNames(text);
    std::vector<const char*> list;
    for (const auto& n : names)
        list.push_back(n.c_str());
    return Glib::wrap(g_themed_icon_new_from_names(const_cast<char**>(list.data()),
                                                   static_cast<int>(list.size())));
}

} // namespace orvalis::browser
