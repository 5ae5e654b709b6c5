#pragma once

#include "browser/GObjectRef.h"

#include <functional>
#include <gtkmm.h>
#include <list>
#include <memory>
#include <string>
#include <webkit/webkit.h>

namespace orvalis::browser {

class TBrowserControl;

// Downloads of the program's network session (so their bytes come through
// the same proxy as every page): each one asks where to save it in the
// toolkit's file chooser, proposing its own name in the Downloads folder;
// cancelling the chooser cancels the download. Start, progress and end are
// reported as short texts.
class TBrowserDownloads : public sigc::trackable {
public:
    using TStatusEvent = std::function<void(const std::string& Text)>;

    // The chooser is owned by owner and titled caption; handler exceptions
    // go to host's OnHandlerError.
    TBrowserDownloads(TBrowserControl& host, Gtk::Window& owner, std::string caption,
                      TStatusEvent onStatus);
    ~TBrowserDownloads();
    TBrowserDownloads(const TBrowserDownloads&) = delete;
    TBrowserDownloads& operator=(const TBrowserDownloads&) = delete;

private:
    struct TDownload {
        GRef<WebKitDownload> Download;
        std::string Name;
        int Reported = -1; // last percentage reported
        bool Failed = false;
        std::unique_ptr<Gtk::FileChooserDialog> Chooser;
    };

    void started(WebKitDownload* download);
    void chooseDestination(TDownload& d, const std::string& suggested);
    void progressed(TDownload& d);
    void failed(TDownload& d, GError* error);
    void finished(TDownload& d);
    void status(const std::string& what, const TDownload& d);
    void forget(TDownload* done);

    TBrowserControl& host_;
    Gtk::Window& owner_;
    std::string caption_;
    TStatusEvent onStatus_;
    std::list<std::unique_ptr<TDownload>> downloads_;
    gulong startedId_ = 0;
};

} // namespace orvalis::browser
