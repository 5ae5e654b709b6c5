#include "browser/UserRegistry.h"

#include "browser/BrowserProfile.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <memory>

namespace orvalis::browser {

namespace {

using TKeyFile = std::unique_ptr<GKeyFile, decltype(&g_key_file_unref)>;

TKeyFile NewKeyFile() {
    return TKeyFile(g_key_file_new(), &g_key_file_unref);
}

} // namespace

std::string TUserRegistry::DefaultPath() {
    return UserBaseDirectory("XDG_CONFIG_HOME", ".config") + "/orvalis/user-registry.ini";
}

std::optional<std::string> TUserRegistry::ReadString(const std::string& key,
                                                     const std::string& name) const {
    TKeyFile file = NewKeyFile();
    if (!g_key_file_load_from_file(file.get(), path_.c_str(), G_KEY_FILE_NONE, nullptr))
        return std::nullopt;
    // A value that is not valid text reads as missing.
    g_autofree char* value = g_key_file_get_string(file.get(), key.c_str(), name.c_str(), nullptr);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> TUserRegistrySnapshot::ReadString(const std::string& key,
                                                             const std::string& name) const {
    const auto it = values_.find({key, name});
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

TUserRegistrySnapshot TUserRegistry::Snapshot() const {
    TUserRegistrySnapshot snapshot;
    TKeyFile file = NewKeyFile();
    if (!g_key_file_load_from_file(file.get(), path_.c_str(), G_KEY_FILE_NONE, nullptr))
        return snapshot;
    g_auto(GStrv) groups = g_key_file_get_groups(file.get(), nullptr);
    for (char** group = groups; *group; ++group) {
        g_auto(GStrv) names = g_key_file_get_keys(file.get(), *group, nullptr, nullptr);
        for (char** name = names; name && *name; ++name) {
            // A value that is not valid text reads as missing.
            g_autofree char* value = g_key_file_get_string(file.get(), *group, *name, nullptr);
            if (value)
                snapshot.values_.emplace(std::make_pair(*group, *name), value);
        }
    }
    return snapshot;
}

bool TUserRegistry::WriteStrings(const std::string& key,
                                 const std::vector<std::pair<std::string, std::string>>& values) {
    // Read the file again right before writing, so that values written in
    // the meantime (by the user or another instance) survive.
    TKeyFile file = NewKeyFile();
    GError* error = nullptr;
    if (!g_key_file_load_from_file(
            file.get(), path_.c_str(),
            static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
            &error)) {
        const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
        const bool damaged =
            error->domain == G_KEY_FILE_ERROR && g_file_test(path_.c_str(), G_FILE_TEST_IS_REGULAR);
        g_error_free(error);
        if (damaged) {
            // Keep the damaged file beside the new one instead of losing it.
            const std::string aside = path_ + ".damaged";
            if (g_rename(path_.c_str(), aside.c_str()) != 0)
                return false;
        } else if (!missing) {
            return false; // unreadable: writing would lose what it holds
        }
        file = NewKeyFile();
    }
    for (const auto& [name, value] : values)
        g_key_file_set_string(file.get(), key.c_str(), name.c_str(), value.c_str());

    g_autofree char* dir = g_path_get_dirname(path_.c_str());
    if (g_mkdir_with_parents(dir, 0700) != 0)
        return false;
    // Written to a temporary file in the same folder and renamed over the
    // old one.
    return g_key_file_save_to_file(file.get(), path_.c_str(), nullptr);
}

} // namespace orvalis::browser
