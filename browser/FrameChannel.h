#pragma once

#include "browser/BrowserDispatch.h"
#include "browser/GObjectRef.h"

#include <deque>
#include <functional>
#include <jsc/jsc.h>
#include <map>
#include <string>
#include <webkit/webkit.h>

namespace orvalis::browser {

using TScriptReplyRef = GRef<WebKitScriptMessageReply, webkit_script_message_reply_ref,
                             webkit_script_message_reply_unref>;

// The host's line into every document of its page, top level and frames
// alike: a user script in a script world of the host's own reports each
// document's start and completion, and keeps a reply open through which the
// host sends it requests (measure the document, run a statement).
class TFrameChannel {
public:
    struct THandlers {
        // A frame's document has started (navigation carried out) or completed.
        std::function<void(const TBrowserDispatch&, const std::string& url)> FrameStarted;
        std::function<void(const TBrowserDispatch&, const std::string& url)> FrameCompleted;
        // The identity to use for a frame document that has just started.
        std::function<TBrowserDispatch(const std::string& url)> FrameDispatchFor;
    };
    using TAnswer = std::function<void(JSCValue* value)>; // null when no answer

    TFrameChannel(WebKitUserContentManager* manager, TBrowserDispatch top, THandlers handlers);
    ~TFrameChannel();
    TFrameChannel(const TFrameChannel&) = delete;
    TFrameChannel& operator=(const TFrameChannel&) = delete;

    // The script world in which the channel's script runs.
    static const char* World();
    // Adds another script of the host's to that world, run at the start of
    // the top-level document or of every document, and connects handler to
    // the messages it posts under name.
    static void AddScript(WebKitUserContentManager* manager, const char* source,
                          WebKitUserContentInjectedFrames frames, const char* name,
                          GCallback handler, gpointer data);

    // The top level committed a new page: every document known so far is gone.
    void ForgetDocuments();
    bool HasDocument(const TBrowserDispatch& disp) const;
    // Documents known: the top level's and at most kFrameDocuments frames'.
    size_t DocumentCount() const;
    static constexpr size_t kFrameDocuments = 64;
    // Sends {"op": op, ...fields} to the document; answer gets the result.
    void Request(const TBrowserDispatch& disp, const std::string& op, const std::string& code,
                 TAnswer answer);

private:
    struct TPending {
        std::string Json;
        TAnswer Answer;
    };
    struct TDocument {
        TDocument(TBrowserDispatch disp, bool top) : Disp(disp), Top(top) {}
        TBrowserDispatch Disp;
        bool Top = false;
        bool Completed = false;
        TScriptReplyRef Reply; // open while the document waits for a request
        GRef<JSCContext> Context;
        std::deque<TPending> Queue;
        bool Busy = false; // a request was sent and its result is awaited
        uint64_t Seq = 0;  // order of arrival
    };

    static gboolean onMessage(WebKitUserContentManager*, JSCValue* message,
                              WebKitScriptMessageReply* reply, gpointer self);
    bool handleMessage(JSCValue* message, WebKitScriptMessageReply* reply);
    TDocument* find(const TBrowserDispatch& disp);
    const TDocument* find(const TBrowserDispatch& disp) const;
    void pump(TDocument& doc);
    void forget(const std::function<bool(const TDocument&)>& which);
    void forgetOldestFrames();
    // Answers what the document still waits for, with nothing.
    static void Settle(TDocument& doc);

    WebKitUserContentManager* manager_;
    TBrowserDispatch top_;
    THandlers handlers_;
    std::map<std::string, TDocument> documents_; // by the document's own token
    uint64_t nextSeq_ = 1;
    gulong handlerId_ = 0;
};

} // namespace orvalis::browser
