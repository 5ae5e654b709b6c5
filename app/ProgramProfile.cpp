#include "app/ProgramProfile.h"

#include "browser/BrowserSession.h"

#include <filesystem>
#include <glib.h>

namespace orvalis::app {

TProgramProfile::TProgramProfile(bool privateRun)
    : private_(privateRun), keepsWindowState_(!privateRun) {
    // Read in a private run too: reading writes nothing.
    state_ = file_.Load();
    if (!file_.Problem().empty())
        notes_.push_back("창 상태 파일을 읽을 수 없어 기본값으로 시작합니다: " + file_.Path());
    if (private_) {
        browser::UseProfile(browser::TBrowserProfile::Private());
        notes_.push_back("개인 모드: 로그인 정보, 캐시와 창 상태를 저장하지 않습니다.");
        return;
    }
    const browser::TBrowserProfile user = browser::TBrowserProfile::ForUser();
    const std::string unusable = user.Prepare();
    browser::UseProfile(unusable.empty() ? user : browser::TBrowserProfile::Private());
    if (!unusable.empty())
        notes_.push_back(
            "프로필 폴더에 쓸 수 없어 이번에는 로그인 정보와 캐시를 저장하지 않습니다: " +
            unusable);
    g_autofree char* folder = g_path_get_dirname(file_.Path().c_str());
    keepsWindowState_ = browser::OwnDirectory(folder);
    if (!keepsWindowState_)
        notes_.push_back(std::string("설정 폴더에 쓸 수 없어 창 상태를 저장하지 않습니다: ") +
                         folder);
}

void TProgramProfile::SaveWindowState(const TWindowState& state) {
    if (keepsWindowState_)
        file_.Save(state);
}

// The spelling library keeps the user's own words with the program's
// settings, not among the desktop's. A private run leaves no trace in the home
// folder: the spelling words, the graphics driver's shader cache and the media
// framework's plugin list go to a temporary folder of its own.
TLibraryFiles::TLibraryFiles(bool privateRun) {
    std::string base = std::string(g_get_user_config_dir()) + "/orvalis";
    if (privateRun) {
        g_autofree char* scratch = g_dir_make_tmp("orvalis-private-XXXXXX", nullptr);
        if (scratch) {
            scratch_ = base = scratch;
            g_setenv("MESA_SHADER_CACHE_DIR", (base + "/shaders").c_str(), TRUE);
            g_setenv("GST_REGISTRY_1_0", (base + "/gstreamer-registry.bin").c_str(), TRUE);
        } else {
            g_setenv("MESA_SHADER_CACHE_DISABLE", "true", TRUE);
        }
    }
    g_setenv("ENCHANT_CONFIG_DIR", (base + "/enchant").c_str(), TRUE);
}

TLibraryFiles::~TLibraryFiles() {
    if (!scratch_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }
}

} // namespace orvalis::app
