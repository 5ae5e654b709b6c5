#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvalis::browser {

class TFrameChannel;

// Identity of the window an event concerns: the browser's own top level or
// one frame inside its page. Handlers compare an event's pDisp with the
// host's BrowserDispatch() to tell the top level from a frame.
class TBrowserDispatch {
public:
    // A new identity, distinct from every other one in the process.
    static TBrowserDispatch Create();
    uint64_t Id() const { return id_; }
    bool operator==(const TBrowserDispatch&) const = default;

private:
    explicit TBrowserDispatch(uint64_t id) : id_(id) {}
    uint64_t id_;
};

// Where a completed document lies, in pixels relative to the browser area's
// top-left corner, with the size of its body.
struct TDocumentBox {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// The completed document of the top level or of one frame, as far as the
// page fix-up needs it. Answers arrive asynchronously on the UI thread; when
// the document is gone (or never reported completion) they come as "none".
class TBrowserDocument {
public:
    TBrowserDocument(std::weak_ptr<TFrameChannel> channel, TBrowserDispatch disp)
        : channel_(std::move(channel)), disp_(disp) {}

    bool Exists() const;
    void GetBox(std::function<void(std::optional<TDocumentBox>)> done) const;
    // Runs one statement inside the document (in the host's own script world,
    // sharing the page's DOM); done receives whether it ran without error.
    void ExecScript(const std::string& statement, std::function<void(bool)> done = {}) const;

private:
    std::weak_ptr<TFrameChannel> channel_;
    TBrowserDispatch disp_;
};

} // namespace orvalis::browser
