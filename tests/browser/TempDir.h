#pragma once

#include <gio/gio.h>
#include <string>

namespace orvalis::browser::test {

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
public:
    TempDir() {
        g_autofree char* dir = g_dir_make_tmp("orvalis-test-XXXXXX", nullptr);
        path_ = dir;
    }
    ~TempDir() {
        g_autoptr(GFile) root = g_file_new_for_path(path_.c_str());
        Remove(root);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    static void Remove(GFile* file) {
        g_autoptr(GFileEnumerator) children =
            g_file_enumerate_children(file, G_FILE_ATTRIBUTE_STANDARD_NAME,
                                      G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, nullptr, nullptr);
        if (children) {
            GFile* child = nullptr;
            while (g_file_enumerator_iterate(children, nullptr, &child, nullptr, nullptr) && child)
                Remove(child);
        }
        g_file_delete(file, nullptr, nullptr);
    }
    std::string path_;
};

} // namespace orvalis::browser::test
