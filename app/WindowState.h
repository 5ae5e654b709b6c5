#pragma once

#include <string>

namespace orvalis::app {

// The window as the user left it.
struct TWindowState {
    int Width = 937;
    int Height = 701;
    bool Maximized = false;
    bool FullScreen = false;
    int LogHeight = 78;
    bool LogVisible = true;
    double Zoom = 1.0;
};

// The window's state in a small key file. Reading never fails: a missing
// file reads as the defaults; an unreadable or damaged one too, and says so
// in Problem(). Values out of range are brought back into it.
class TWindowStateFile {
public:
    // $XDG_CONFIG_HOME/orvalis/window-state.ini.
    static std::string DefaultPath();

    explicit TWindowStateFile(std::string path = DefaultPath()) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    TWindowState Load();
    // Replaces the file in one step (a temporary file renamed over it);
    // false when it cannot be written.
    bool Save(const TWindowState& state) const;
    // Why the last Load fell back to defaults; empty when it did not.
    const std::string& Problem() const { return problem_; }

private:
    std::string path_;
    std::string problem_;
};

} // namespace orvalis::app
