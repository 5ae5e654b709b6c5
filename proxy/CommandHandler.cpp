#include "proxy/CommandHandler.h"

#include "proxy/NumberRule.h"

#include <algorithm>
#include <stdexcept>

namespace orvalis::proxy {

namespace {

// Calls emit(offset, piece) for every non-empty run between delimiters.
template <typename Emit> void CutAt(std::string_view text, char delimiter, Emit emit) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(delimiter, start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > start) {
            emit(start, text.substr(start, end - start));
        }
        start = end + 1;
    }
}

} // namespace

TCommandParams SplitParams(std::string_view text, char delimiter) {
    TCommandParams params;
    if (delimiter == ' ') {
        CutAt(text, delimiter, [&](size_t offset, std::string_view piece) {
            params.Add(std::string(piece), static_cast<int>(offset) + 1);
        });
        return params;
    }
    const std::string_view trimmed = Trimmed(text);
    if (trimmed.empty()) {
        return params;
    }
    const size_t base = static_cast<size_t>(trimmed.data() - text.data());
    CutAt(trimmed, delimiter, [&](size_t offset, std::string_view piece) {
        const std::string_view value = Trimmed(piece);
        const size_t lead = value.empty() ? 0 : static_cast<size_t>(value.data() - piece.data());
        params.Add(std::string(value), static_cast<int>(base + offset + lead) + 1);
    });
    return params;
}

TCommandHandler::TCommandHandler(TCommandHandlerList& collection, int id)
    : Name("TCommandHandler" + std::to_string(id)), ParseParams(collection.ParseParamsDefault),
      collection_(collection), exceptionReply_(collection.ReplyClass()(&collection.ReplyTexts())),
      normalReply_(collection.ReplyClass()(&collection.ReplyTexts())) {
    if (dynamic_cast<TReplyRFC*>(normalReply_.get()) != nullptr) {
        normalReply_->SetNumericCode(200);
    }
}

std::optional<std::string> TCommandHandler::MatchLine(std::string_view line) const {
    if (SameIgnoringCase(line, Command)) {
        return std::string();
    }
    if (CmdDelimiter != '\0') {
        if (line.size() > Command.size() && StartsIgnoringCase(line, Command) &&
            AsciiLower(line[Command.size()]) == AsciiLower(CmdDelimiter)) {
            return std::string(line.substr(Command.size() + 1));
        }
        return std::nullopt;
    }
    if (StartsIgnoringCase(line, Command)) {
        return std::string(line.substr(Command.size()));
    }
    return std::nullopt;
}

bool TCommandHandler::TryHandle(const std::string& line, TContext* context) {
    auto paramText = MatchLine(line);
    if (!paramText) {
        return false;
    }
    RunCommand(line, context, *paramText);
    return true;
}

void TCommandHandler::RunCommand(const std::string& line, TContext* context,
                                 const std::string& paramText) {
    TCommandDispatcher& server = collection_.Server();
    TCommand command(*this);
    command.FullLine = line;
    command.Context = context;
    command.ParamText = paramText;
    if (ParseParams) {
        command.Params = SplitParams(paramText, ParamDelimiter);
    }
    command.AutoReply = collection_.PerformReplies;
    TReply& reply = command.Reply();
    try {
        try {
            if (!reply.HasCode() && NormalReply().HasCode()) {
                reply.Assign(NormalReply());
            }
            if (!reply.HasCode()) {
                throw std::logic_error("Command handler " + DisplayName() +
                                       " has no normal reply code.");
            }
            command.RunCommand();
            if (!reply.HasCode()) {
                reply.Assign(NormalReply());
            }
            reply.FillInText();
        } catch (const std::exception& error) {
            reply.Clear();
            if (!command.AutoReply) {
                throw;
            }
            reply.Assign(ExceptionReply().HasCode() ? ExceptionReply()
                                                    : collection_.ExceptionReply());
            if (!reply.HasCode()) {
                throw;
            }
            reply.SetText(error.what());
            command.SendReply();
        }
        if (command.AutoReply) {
            command.SendReply();
        }
        if (!command.Response.empty() || command.ForceResponse) {
            server.WriteResponse(context, command.Response);
        } else if (!Response.empty()) {
            server.WriteResponse(context, Response);
        }
    } catch (...) {
        if (command.Disconnect) {
            server.DisconnectContext(context);
        }
        throw;
    }
    if (command.Disconnect) {
        server.DisconnectContext(context);
    }
}

TCommand::TCommand(TCommandHandler& handler)
    : CommandHandler(handler), Disconnect(handler.Disconnect),
      reply_(handler.Collection().ReplyClass()(&handler.Collection().ReplyTexts())) {}

void TCommand::SendReply() {
    AutoReply = false;
    reply_->FillInText();
    CommandHandler.Collection().Server().WriteLines(Context, reply_->FormattedReply());
}

void TCommand::RunCommand() {
    if (CommandHandler.OnCommand) {
        CommandHandler.OnCommand(*this);
    }
}

TCommandHandlerList::TCommandHandlerList(TCommandDispatcher& server, TReply& exceptionReply,
                                         TReplies& replyTexts, TReplyClass replyClass)
    : server_(server), exceptionReply_(exceptionReply), replyTexts_(replyTexts),
      replyClass_(replyClass != nullptr ? replyClass : &TReplyRFC::Create) {}

TCommandHandler& TCommandHandlerList::Add() {
    items_.push_back(std::make_unique<TCommandHandler>(*this, nextId_++));
    return *items_.back();
}

bool TCommandHandlerList::DispatchCommand(TContext* context, std::string& line) {
    if (OnBeforeCommandHandler) {
        OnBeforeCommandHandler(line, context);
    }
    bool taken = false;
    try {
        for (const auto& handler : items_) {
            if (handler->Enabled && handler->TryHandle(line, context)) {
                taken = true;
                break;
            }
        }
    } catch (...) {
        if (OnAfterCommandHandler) {
            OnAfterCommandHandler(context);
        }
        throw;
    }
    if (OnAfterCommandHandler) {
        OnAfterCommandHandler(context);
    }
    return taken;
}

namespace {

std::unique_ptr<TReply> NewReply(TReplies& replyTexts, int code, std::string_view text) {
    auto reply = TReplyRFC::Create(&replyTexts);
    reply->SetReply(code, text);
    return reply;
}

} // namespace

// All five replies exist before serving starts: connection threads only read them.
TCommandDispatcher::TCommandDispatcher()
    : replyTexts_(std::make_unique<TRepliesRFC>()),
      exceptionReply_(NewReply(*replyTexts_, 500, "Unknown Internal Error")),
      greeting_(NewReply(*replyTexts_, 200, "Welcome")),
      helpReply_(NewReply(*replyTexts_, 100, "Help follows")),
      maxConnectionReply_(NewReply(*replyTexts_, 300, "Too many connections. Try again later.")),
      replyUnknownCommand_(NewReply(*replyTexts_, 400, "Unknown Command")),
      commandHandlers_(std::make_unique<TCommandHandlerList>(*this, *exceptionReply_, *replyTexts_,
                                                             &TReplyRFC::Create)) {
    commandHandlers_->OnBeforeCommandHandler = [this](std::string& line, TContext* context) {
        if (OnBeforeCommandHandler) {
            OnBeforeCommandHandler(*this, line, context);
        }
    };
    commandHandlers_->OnAfterCommandHandler = [this](TContext* context) {
        if (OnAfterCommandHandler) {
            OnAfterCommandHandler(*this, context);
        }
    };
}

TCommandDispatcher::~TCommandDispatcher() = default;

void TCommandDispatcher::InitializeCommandHandlers() {
    if (handlersInitialized_) {
        return;
    }
    handlersInitialized_ = true;
    SetUpCommandHandlers();
    if (!HelpReply().HasCode()) {
        return;
    }
    TCommandHandler& help = commandHandlers_->Add();
    help.Command = "Help";
    help.Description = {"Displays commands that the servers supports."};
    help.NormalReply().Assign(HelpReply());

    std::vector<std::pair<std::string, const TCommandHandler*>> entries;
    for (int i = 0; i < commandHandlers_->Count(); ++i) {
        const TCommandHandler& handler = (*commandHandlers_)[i];
        if (handler.HelpVisible) {
            entries.emplace_back(handler.Command + handler.HelpSuperScript, &handler);
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return LessIgnoringCase(a.first, b.first);
    });
    for (const auto& [entry, handler] : entries) {
        help.Response.push_back(entry);
        for (const auto& line : handler->Description) {
            help.Response.push_back("  " + line);
        }
        help.Response.emplace_back();
    }
}

void TCommandDispatcher::ExecuteCommandLine(TContext* context, std::string line) {
    if (line.empty()) {
        return;
    }
    if (!commandHandlers_->DispatchCommand(context, line)) {
        DoReplyUnknownCommand(context, line);
    }
}

TStringList TCommandDispatcher::GreetingLines() const {
    if (!greeting_->HasReply()) {
        return {};
    }
    // The copy is filled in, not the shared greeting: connections greet concurrently.
    auto reply = TReplyRFC::Create(replyTexts_.get());
    reply->Assign(*greeting_);
    reply->FillInText();
    return reply->FormattedReply();
}

void TCommandDispatcher::DoReplyUnknownCommand(TContext* context, const std::string& line) {
    if (!commandHandlers_->PerformReplies) {
        return;
    }
    auto reply = TReplyRFC::Create(replyTexts_.get());
    reply->Assign(*replyUnknownCommand_);
    reply->Text.push_back(line);
    WriteLines(context, reply->FormattedReply());
}

void TCommandDispatcher::WriteResponse(TContext* context, const TStringList& lines) {
    TStringList out;
    out.reserve(lines.size() + 1);
    for (const auto& line : lines) {
        out.push_back(!line.empty() && line.front() == '.' ? "." + line : line);
    }
    out.emplace_back(".");
    WriteLines(context, out);
}

} // namespace orvalis::proxy
