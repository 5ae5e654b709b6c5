#include "app/WindowState.h"

#include "app/PageZoom.h"
#include "app/Unit1.h"
#include "browser/BrowserProfile.h"

#include <algorithm>
#include <glib.h>
#include <memory>

namespace orvalis::app {

namespace {

constexpr const char* WindowGroup = "Window";
constexpr const char* PageGroup = "Page";
// Larger than any screen, so a damaged file cannot ask for a huge window.
constexpr int LargestSide = 16384;

using TKeyFile = std::unique_ptr<GKeyFile, decltype(&g_key_file_unref)>;

// Reads one value; a missing key keeps the default, a malformed one too but
// marks the file damaged.
template <class T, class Get>
void Read(GKeyFile* file, const char* group, const char* key, T& value, bool& damaged, Get get) {
    GError* error = nullptr;
    auto read = get(file, group, key, &error);
    if (!error) {
        value = static_cast<T>(read);
    } else {
        damaged = damaged || error->domain != G_KEY_FILE_ERROR ||
                  (error->code != G_KEY_FILE_ERROR_KEY_NOT_FOUND &&
                   error->code != G_KEY_FILE_ERROR_GROUP_NOT_FOUND);
        g_error_free(error);
    }
}

} // namespace

std::string TWindowStateFile::DefaultPath() {
    return browser::UserBaseDirectory("XDG_CONFIG_HOME", ".config") + "/orvalis/window-state.ini";
}

TWindowState TWindowStateFile::Load() {
    problem_.clear();
    TWindowState state;
    TKeyFile file(g_key_file_new(), &g_key_file_unref);
    GError* error = nullptr;
    if (!g_key_file_load_from_file(file.get(), path_.c_str(), G_KEY_FILE_NONE, &error)) {
        if (!g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT))
            problem_ = error->message;
        g_error_free(error);
        return state;
    }
    bool damaged = false;
    GKeyFile* f = file.get();
    Read(f, WindowGroup, "Width", state.Width, damaged, g_key_file_get_integer);
    Read(f, WindowGroup, "Height", state.Height, damaged, g_key_file_get_integer);
    Read(f, WindowGroup, "Maximized", state.Maximized, damaged, g_key_file_get_boolean);
    Read(f, WindowGroup, "FullScreen", state.FullScreen, damaged, g_key_file_get_boolean);
    Read(f, WindowGroup, "LogHeight", state.LogHeight, damaged, g_key_file_get_integer);
    Read(f, WindowGroup, "LogVisible", state.LogVisible, damaged, g_key_file_get_boolean);
    Read(f, PageGroup, "Zoom", state.Zoom, damaged, g_key_file_get_double);
    if (damaged) {
        problem_ = "damaged values";
        return TWindowState();
    }
    state.Width = std::clamp(state.Width, WindowMinSide, LargestSide);
    state.Height = std::clamp(state.Height, WindowMinSide, LargestSide);
    state.LogHeight = std::clamp(state.LogHeight, LogPanelMinHeight, LogPanelMaxHeight);
    state.Zoom = NearestZoomStep(state.Zoom);
    return state;
}

bool TWindowStateFile::Save(const TWindowState& state) const {
    TKeyFile file(g_key_file_new(), &g_key_file_unref);
    GKeyFile* f = file.get();
    g_key_file_set_integer(f, WindowGroup, "Width", state.Width);
    g_key_file_set_integer(f, WindowGroup, "Height", state.Height);
    g_key_file_set_boolean(f, WindowGroup, "Maximized", state.Maximized);
    g_key_file_set_boolean(f, WindowGroup, "FullScreen", state.FullScreen);
    g_key_file_set_integer(f, WindowGroup, "LogHeight", state.LogHeight);
    g_key_file_set_boolean(f, WindowGroup, "LogVisible", state.LogVisible);
    g_key_file_set_double(f, PageGroup, "Zoom", state.Zoom);
    g_autofree char* dir = g_path_get_dirname(path_.c_str());
    if (g_mkdir_with_parents(dir, 0700) != 0)
        return false;
    // g_file_set_contents underneath: a temporary file renamed over the old.
    return g_key_file_save_to_file(f, path_.c_str(), nullptr);
}

} // namespace orvalis::app
