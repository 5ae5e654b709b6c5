#include "app/ClearDataDialog.h"

#include "browser/BrowserSession.h"

namespace orvalis::app {

void TClearDataDialog::Ask(Gtk::Window& parent, const std::string& caption,
                           std::function<void(const std::string&)> done) {
    done_ = std::move(done);
    if (dialog_) {
        dialog_->present();
        return;
    }
    dialog_ = std::make_unique<Gtk::MessageDialog>(
        parent, "저장된 로그인 정보와 캐시를 모두 지울까요?", false, Gtk::MessageType::QUESTION,
        Gtk::ButtonsType::NONE, true);
    dialog_->set_title(caption);
    dialog_->add_button("취소", Gtk::ResponseType::CANCEL);
    dialog_->add_button("지우기", Gtk::ResponseType::ACCEPT)->add_css_class("destructive-action");
    dialog_->set_default_response(Gtk::ResponseType::CANCEL);
    dialog_->signal_response().connect([this](int response) { Answered(response); });
    dialog_->present();
}

void TClearDataDialog::Answered(int response) {
    dialog_->hide();
    // Freed once GTK is done delivering the response.
    Glib::signal_idle().connect_once([this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired())
            dialog_.reset();
    });
    if (response != Gtk::ResponseType::ACCEPT)
        return;
    browser::ClearWebsiteData(browser::ProgramSession(), [alive = std::weak_ptr<bool>(alive_),
                                                          done = done_](const std::string& reason) {
        if (alive.expired())
            return;
        done(reason.empty() ? "저장된 로그인 정보와 캐시를 지웠습니다."
                            : "로그인 정보와 캐시를 지우지 못했습니다: " + reason);
    });
}

} // namespace orvalis::app
