#include "browser/FrameChannel.h"

#include <atomic>
#include <vector>

namespace orvalis::browser {

namespace {

constexpr const char* kWorld = "orvalis-host";
constexpr const char* kHandler = "orvalisFrame";

// Runs in every document (top level and frames) before the page's own
// scripts, in the host's script world so that the page cannot see or
// disturb it. The document's token ties its messages together.
constexpr const char* kFrameScript = R"JS((() => {
  const handler = window.webkit && window.webkit.messageHandlers.orvalisFrame;
  if (!handler) return;
  const token = Math.random().toString(36).slice(2) + '-' + Date.now().toString(36) + '-' +
                Math.random().toString(36).slice(2);
  const top = window === window.top;
  const post = (m) => { m.token = token; m.top = top; return handler.postMessage(m); };
  const box = () => {
    let left = 0, top = 0;
    for (let w = window; w !== w.top; w = w.parent) {
      const fe = w.frameElement;
      if (!fe) return null;
      const r = fe.getBoundingClientRect(), cs = w.parent.getComputedStyle(fe);
      left += r.left + parseFloat(cs.borderLeftWidth) + parseFloat(cs.paddingLeft);
      top += r.top + parseFloat(cs.borderTopWidth) + parseFloat(cs.paddingTop);
    }
    const b = document.body;
    if (!b) return null;
    return {left: Math.round(left), top: Math.round(top), width: b.offsetWidth, height: b.offsetHeight};
  };
  const serve = (req) => {
    if (!req) return;
    let value = null;
    try {
      if (req.op === 'box') value = box();
      else if (req.op === 'run') { (0, eval)(req.code); value = true; }
    } catch (e) { value = null; }
    post({kind: 'result', seq: req.seq, value: value}).then(serve, () => {});
  };
  post({kind: 'start', url: location.href}).catch(() => {});
  const complete = () => post({kind: 'complete', url: location.href}).then(serve, () => {});
  if (document.readyState === 'complete') complete();
  else window.addEventListener('load', complete, {once: true});
  window.addEventListener('pagehide', () => post({kind: 'gone'}).catch(() => {}));
  window.addEventListener('pageshow', (e) => {
    if (!e.persisted) return;
    post({kind: 'start', url: location.href}).catch(() => {});
    complete();
  });
})();)JS";

std::string Property(JSCValue* object, const char* name) {
    GRef<JSCValue> v = GRef<JSCValue>::Adopt(jsc_value_object_get_property(object, name));
    if (!v || jsc_value_is_undefined(v.get()) || jsc_value_is_null(v.get()))
        return {};
    g_autofree char* s = jsc_value_to_string(v.get());
    return s ? s : "";
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                g_snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

void Answer(WebKitScriptMessageReply* reply, JSCContext* context, const std::string& json) {
    GRef<JSCValue> v = GRef<JSCValue>::Adopt(jsc_value_new_from_json(context, json.c_str()));
    webkit_script_message_reply_return_value(reply, v.get());
}

} // namespace

TBrowserDispatch TBrowserDispatch::Create() {
    static std::atomic<uint64_t> next{1};
    return TBrowserDispatch(next++);
}

const char* TFrameChannel::World() {
    return kWorld;
}

void TFrameChannel::AddScript(WebKitUserContentManager* manager, const char* source,
                              WebKitUserContentInjectedFrames frames, const char* name,
                              GCallback handler, gpointer data) {
    GRef<WebKitUserScript, webkit_user_script_ref, webkit_user_script_unref> script =
        decltype(script)::Adopt(webkit_user_script_new_for_world(
            source, frames, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kWorld, nullptr, nullptr));
    webkit_user_content_manager_add_script(manager, script.get());
    webkit_user_content_manager_register_script_message_handler(manager, name, kWorld);
    const std::string signal = std::string("script-message-received::") + name;
    g_signal_connect(manager, signal.c_str(), handler, data);
}

TFrameChannel::TFrameChannel(WebKitUserContentManager* manager, TBrowserDispatch top,
                             THandlers handlers)
    : manager_(manager), top_(top), handlers_(std::move(handlers)) {
    GRef<WebKitUserScript, webkit_user_script_ref, webkit_user_script_unref> script =
        decltype(script)::Adopt(webkit_user_script_new_for_world(
            kFrameScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kWorld, nullptr, nullptr));
    webkit_user_content_manager_add_script(manager_, script.get());
    webkit_user_content_manager_register_script_message_handler_with_reply(manager_, kHandler,
                                                                           kWorld);
    std::string signal = std::string("script-message-with-reply-received::") + kHandler;
    handlerId_ = g_signal_connect(manager_, signal.c_str(), G_CALLBACK(onMessage), this);
}

TFrameChannel::~TFrameChannel() {
    g_signal_handler_disconnect(manager_, handlerId_);
    webkit_user_content_manager_unregister_script_message_handler(manager_, kHandler, kWorld);
}

gboolean TFrameChannel::onMessage(WebKitUserContentManager*, JSCValue* message,
                                  WebKitScriptMessageReply* reply, gpointer self) {
    return static_cast<TFrameChannel*>(self)->handleMessage(message, reply);
}

bool TFrameChannel::handleMessage(JSCValue* message, WebKitScriptMessageReply* reply) {
    if (!jsc_value_is_object(message))
        return false;
    const std::string token = Property(message, "token");
    const std::string kind = Property(message, "kind");
    const bool top = Property(message, "top") == "true";
    if (token.empty())
        return false;
    JSCContext* context = jsc_value_get_context(message);

    if (kind == "start") {
        Answer(reply, context, "null");
        const std::string url = Property(message, "url");
        TBrowserDispatch disp = top                          ? top_
                                : handlers_.FrameDispatchFor ? handlers_.FrameDispatchFor(url)
                                                             : TBrowserDispatch::Create();
        if (top)
            forget([](const TDocument& doc) { return doc.Top; });
        else
            forgetOldestFrames();
        auto& doc = documents_.insert_or_assign(token, TDocument(disp, top)).first->second;
        doc.Seq = nextSeq_++;
        if (!top && handlers_.FrameStarted)
            handlers_.FrameStarted(disp, url);
        return true;
    }
    auto it = documents_.find(token);
    if (it == documents_.end()) {
        // A document of a page that the top level has already left.
        Answer(reply, context, "null");
        return true;
    }
    if (kind == "gone") {
        // The document was left; a page shown again from the back/forward
        // cache starts anew.
        Answer(reply, context, "null");
        TDocument gone = std::move(it->second);
        documents_.erase(it);
        Settle(gone);
        return true;
    }
    TDocument& doc = it->second;
    doc.Reply = TScriptReplyRef::Share(reply);
    doc.Context = GRef<JSCContext>::Share(context);
    if (kind == "complete") {
        doc.Completed = true;
        const TBrowserDispatch disp = doc.Disp;
        if (!top && handlers_.FrameCompleted)
            handlers_.FrameCompleted(disp, Property(message, "url"));
    } else if (kind == "result" && doc.Busy && !doc.Queue.empty()) {
        TAnswer answer = std::move(doc.Queue.front().Answer);
        doc.Queue.pop_front();
        doc.Busy = false;
        GRef<JSCValue> value =
            GRef<JSCValue>::Adopt(jsc_value_object_get_property(message, "value"));
        if (answer)
            answer(jsc_value_is_null(value.get()) ? nullptr : value.get());
    }
    // The handlers above may have forgotten every document.
    it = documents_.find(token);
    if (it != documents_.end())
        pump(it->second);
    return true;
}

void TFrameChannel::pump(TDocument& doc) {
    if (doc.Busy || doc.Queue.empty() || !doc.Reply)
        return;
    doc.Busy = true;
    TScriptReplyRef reply = std::move(doc.Reply);
    Answer(reply.get(), doc.Context.get(), doc.Queue.front().Json);
}

void TFrameChannel::ForgetDocuments() {
    forget([](const TDocument&) { return true; });
}

void TFrameChannel::forget(const std::function<bool(const TDocument&)>& which) {
    std::vector<TDocument> gone;
    for (auto it = documents_.begin(); it != documents_.end();) {
        if (which(it->second)) {
            gone.push_back(std::move(it->second));
            it = documents_.erase(it);
        } else {
            ++it;
        }
    }
    // Answered after the map is settled: an answer may send a new request.
    for (TDocument& doc : gone)
        Settle(doc);
}

void TFrameChannel::Settle(TDocument& doc) {
    if (doc.Reply)
        Answer(doc.Reply.get(), doc.Context.get(), "null");
    for (TPending& p : doc.Queue)
        if (p.Answer)
            p.Answer(nullptr);
}

void TFrameChannel::forgetOldestFrames() {
    // Frames that never said they were left (a process that went, a frame
    // removed before its document ended) are dropped oldest first.
    size_t frames = 0;
    auto oldest = documents_.end();
    for (auto it = documents_.begin(); it != documents_.end(); ++it) {
        if (it->second.Top)
            continue;
        ++frames;
        if (oldest == documents_.end() || it->second.Seq < oldest->second.Seq)
            oldest = it;
    }
    if (frames < kFrameDocuments)
        return;
    TDocument gone = std::move(oldest->second);
    documents_.erase(oldest);
    Settle(gone);
}

size_t TFrameChannel::DocumentCount() const {
    return documents_.size();
}

TFrameChannel::TDocument* TFrameChannel::find(const TBrowserDispatch& disp) {
    TDocument* found = nullptr;
    // The top level's identity stays while its documents change: the one
    // that completed is the one to use.
    for (auto& [token, doc] : documents_)
        if (doc.Disp == disp && (!found || doc.Completed))
            found = &doc;
    return found;
}

const TFrameChannel::TDocument* TFrameChannel::find(const TBrowserDispatch& disp) const {
    return const_cast<TFrameChannel*>(this)->find(disp);
}

bool TFrameChannel::HasDocument(const TBrowserDispatch& disp) const {
    const TDocument* doc = find(disp);
    return doc && doc->Completed;
}

void TFrameChannel::Request(const TBrowserDispatch& disp, const std::string& op,
                            const std::string& code, TAnswer answer) {
    TDocument* doc = find(disp);
    if (!doc || !doc->Completed) {
        if (answer)
            answer(nullptr);
        return;
    }
    std::string json = "{\"op\":" + JsonString(op) + ",\"seq\":" + std::to_string(nextSeq_++) +
                       ",\"code\":" + JsonString(code) + "}";
    doc->Queue.push_back({std::move(json), std::move(answer)});
    pump(*doc);
}

bool TBrowserDocument::Exists() const {
    auto channel = channel_.lock();
    return channel && channel->HasDocument(disp_);
}

void TBrowserDocument::GetBox(std::function<void(std::optional<TDocumentBox>)> done) const {
    auto channel = channel_.lock();
    if (!channel) {
        done(std::nullopt);
        return;
    }
    channel->Request(disp_, "box", "", [done = std::move(done)](JSCValue* v) {
        if (!v || !jsc_value_is_object(v)) {
            done(std::nullopt);
            return;
        }
        auto num = [v](const char* name) {
            GRef<JSCValue> p = GRef<JSCValue>::Adopt(jsc_value_object_get_property(v, name));
            return static_cast<int>(jsc_value_to_int32(p.get()));
        };
        done(TDocumentBox{num("left"), num("top"), num("width"), num("height")});
    });
}

void TBrowserDocument::ExecScript(const std::string& statement,
                                  std::function<void(bool)> done) const {
    auto channel = channel_.lock();
    if (!channel) {
        if (done)
            done(false);
        return;
    }
    channel->Request(disp_, "run", statement, [done = std::move(done)](JSCValue* v) {
        if (done)
            done(v && jsc_value_is_boolean(v) && jsc_value_to_boolean(v));
    });
}

} // namespace orvalis::browser
