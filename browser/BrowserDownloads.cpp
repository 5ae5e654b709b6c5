#include "browser/BrowserDownloads.h"

#include "browser/BrowserHost.h"
#include "browser/BrowserSession.h"

namespace orvalis::browser {

namespace {

std::string DownloadFolder() {
    const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    if (folder && g_file_test(folder, G_FILE_TEST_IS_DIR))
        return folder;
    return g_get_home_dir();
}

// A name the server proposes may carry a path; only its last part is kept.
std::string PlainName(const std::string& suggested) {
    g_autofree char* base = g_path_get_basename(suggested.empty() ? "download" : suggested.c_str());
    const std::string name = base;
    return name == "/" || name == "." || name == ".." ? "download" : name;
}

} // namespace

TBrowserDownloads::TBrowserDownloads(TBrowserControl& host, Gtk::Window& owner, std::string caption,
                                     TStatusEvent onStatus)
    : host_(host), owner_(owner), caption_(std::move(caption)), onStatus_(std::move(onStatus)) {
    startedId_ = g_signal_connect(
        ProgramSession(), "download-started",
        G_CALLBACK(+[](WebKitNetworkSession*, WebKitDownload* download, gpointer self) {
            auto& downloads = *static_cast<TBrowserDownloads*>(self);
            downloads.host_.Guarded([&] { downloads.started(download); });
        }),
        this);
}

TBrowserDownloads::~TBrowserDownloads() {
    g_signal_handler_disconnect(ProgramSession(), startedId_);
    for (auto& d : downloads_) {
        g_signal_handlers_disconnect_by_data(d->Download.get(), d.get());
        webkit_download_cancel(d->Download.get());
    }
}

void TBrowserDownloads::started(WebKitDownload* download) {
    auto& d = *downloads_.emplace_back(std::make_unique<TDownload>());
    d.Download = GRef<WebKitDownload>::Share(download);
    d.Name = "download";
    // Each handler finds its download and the downloads object through the
    // download's own record; the record lives until the download ends.
    g_object_set_data(G_OBJECT(download), "orvalis-downloads", this);
    g_signal_connect(download, "decide-destination",
                     G_CALLBACK(+[](WebKitDownload* download, char* suggested, gpointer data) {
                         auto* self = static_cast<TBrowserDownloads*>(
                             g_object_get_data(G_OBJECT(download), "orvalis-downloads"));
                         auto& d = *static_cast<TDownload*>(data);
                         return self->host_.Guarded([&]() -> gboolean {
                             self->chooseDestination(d, suggested ? suggested : "");
                             return TRUE;
                         });
                     }),
                     &d);
    g_signal_connect(download, "notify::estimated-progress",
                     G_CALLBACK(+[](WebKitDownload* download, GParamSpec*, gpointer data) {
                         auto* self = static_cast<TBrowserDownloads*>(
                             g_object_get_data(G_OBJECT(download), "orvalis-downloads"));
                         self->host_.Guarded(
                             [&] { self->progressed(*static_cast<TDownload*>(data)); });
                     }),
                     &d);
    g_signal_connect(
        download, "failed", G_CALLBACK(+[](WebKitDownload* download, GError* error, gpointer data) {
            auto* self = static_cast<TBrowserDownloads*>(
                g_object_get_data(G_OBJECT(download), "orvalis-downloads"));
            self->host_.Guarded([&] { self->failed(*static_cast<TDownload*>(data), error); });
        }),
        &d);
    g_signal_connect(download, "finished", G_CALLBACK(+[](WebKitDownload* download, gpointer data) {
                         auto* self = static_cast<TBrowserDownloads*>(
                             g_object_get_data(G_OBJECT(download), "orvalis-downloads"));
                         self->host_.Guarded(
                             [&] { self->finished(*static_cast<TDownload*>(data)); });
                     }),
                     &d);
}

void TBrowserDownloads::chooseDestination(TDownload& d, const std::string& suggested) {
    d.Name = PlainName(suggested);
    d.Chooser =
        std::make_unique<Gtk::FileChooserDialog>(owner_, caption_, Gtk::FileChooser::Action::SAVE);
    Gtk::FileChooserDialog& chooser = *d.Chooser;
    chooser.set_modal(true);
    chooser.add_button("취소", Gtk::ResponseType::CANCEL);
    chooser.add_button("저장", Gtk::ResponseType::ACCEPT);
    chooser.set_default_response(Gtk::ResponseType::ACCEPT);
    chooser.set_current_folder(Gio::File::create_for_path(DownloadFolder()));
    chooser.set_current_name(d.Name);
    chooser.signal_response().connect([this, &d](int response) {
        host_.Guarded([&] {
            Glib::RefPtr<Gio::File> file =
                response == Gtk::ResponseType::ACCEPT ? d.Chooser->get_file() : nullptr;
            d.Chooser->hide();
            if (!file || file->get_path().empty()) {
                webkit_download_cancel(d.Download.get());
                return;
            }
            d.Name = file->get_basename();
            // The chooser has asked before replacing a file.
            webkit_download_set_allow_overwrite(d.Download.get(), TRUE);
            webkit_download_set_destination(d.Download.get(), file->get_path().c_str());
            status("내려받기 시작", d);
        });
    });
    chooser.show();
}

void TBrowserDownloads::progressed(TDownload& d) {
    if (d.Chooser && d.Chooser->get_visible())
        return; // nothing is written before the destination is known
    // Every tenth part, so that a fast download does not flood the status.
    const int percent =
        static_cast<int>(webkit_download_get_estimated_progress(d.Download.get()) * 100.0);
    if (percent >= 100 || percent / 10 == d.Reported / 10)
        return;
    d.Reported = percent;
    status("내려받는 중 (" + std::to_string(percent) + "%)", d);
}

void TBrowserDownloads::failed(TDownload& d, GError* error) {
    d.Failed = true;
    const bool cancelled =
        g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER);
    status(cancelled ? "내려받기 취소" : "내려받기 실패", d);
}

void TBrowserDownloads::finished(TDownload& d) {
    if (!d.Failed)
        status("내려받기 완료", d);
    TDownload* done = &d;
    g_signal_handlers_disconnect_by_data(d.Download.get(), done);
    // Freed once the engine is done with the signal.
    Glib::signal_idle().connect_once(
        sigc::bind(sigc::mem_fun(*this, &TBrowserDownloads::forget), done));
}

void TBrowserDownloads::forget(TDownload* done) {
    downloads_.remove_if([done](const auto& p) { return p.get() == done; });
}

void TBrowserDownloads::status(const std::string& what, const TDownload& d) {
    if (onStatus_)
        onStatus_(what + ": " + d.Name);
}

} // namespace orvalis::browser
