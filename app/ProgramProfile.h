#pragma once

#include "app/WindowState.h"

#include <string>
#include <vector>

namespace orvalis::app {

// What the program remembers of its user, and where: the engine's profile
// (cookies, storage, the HTTP cache) and the window's state. A private run
// remembers nothing and writes nothing. A place that cannot be used leaves
// the program working with defaults and is said once on the log panel.
class TProgramProfile {
public:
    // Chooses the engine's profile, so it is made before any page exists.
    explicit TProgramProfile(bool privateRun);

    bool PrivateRun() const { return private_; }
    // Lines for the log panel, said once at start.
    const std::vector<std::string>& Notes() const { return notes_; }
    const TWindowState& WindowState() const { return state_; }
    // Nothing in a private run or where the folder cannot be written.
    void SaveWindowState(const TWindowState& state);

private:
    bool private_;
    bool keepsWindowState_;
    TWindowStateFile file_;
    TWindowState state_;
    std::vector<std::string> notes_;
};

// Where the libraries that the window and the engine use keep files of their
// own. Made before the display opens, since the graphics driver writes its
// cache from then on; the engine's processes inherit the places.
class TLibraryFiles {
public:
    explicit TLibraryFiles(bool privateRun);
    ~TLibraryFiles();
    TLibraryFiles(const TLibraryFiles&) = delete;
    TLibraryFiles& operator=(const TLibraryFiles&) = delete;

private:
    std::string scratch_; // a private run's, removed at the end
};

} // namespace orvalis::app
