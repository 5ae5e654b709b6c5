#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvalis::browser {

// The values of a store as they were when it was read: one reading of the
// file answers any number of values.
class TUserRegistrySnapshot {
public:
    std::optional<std::string> ReadString(const std::string& key, const std::string& name) const;

private:
    friend class TUserRegistry;
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

// The per-user key store: a key file with one group per key, holding text
// values by name. Reading never fails (a missing, unreadable or damaged file
// reads as empty); writing changes only the values written and keeps every
// other value, and replaces the file in one step so that a crash never leaves
// half a file behind.
class TUserRegistry {
public:
    // The store of the current user: $XDG_CONFIG_HOME/orvalis/user-registry.ini,
    // ~/.config when the variable is unset or not an absolute path. Read anew
    // at each call, so that a changed environment is followed.
    static std::string DefaultPath();

    explicit TUserRegistry(std::string path = DefaultPath()) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    std::optional<std::string> ReadString(const std::string& key, const std::string& name) const;
    TUserRegistrySnapshot Snapshot() const;
    // Writes all values into the key at once; false when the store could not
    // be written (or could not be read back to keep its other values).
    bool WriteStrings(const std::string& key,
                      const std::vector<std::pair<std::string, std::string>>& values);

private:
    std::string path_;
};

} // namespace orvalis::browser
