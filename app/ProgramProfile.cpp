#include "app/ProgramProfile.h"

#include "browser/BrowserSession.h"

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

} // namespace orvalis::app
