#pragma once

#include "proxy/Reply.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvalis::proxy {

// The per-connection context of the TCP server core.
class TContext;

class TCommand;
class TCommandDispatcher;
class TCommandHandlerList;

// The parameters of a command line, each with its 1-based start position in
// the parameter text.
class TCommandParams {
public:
    void Clear() { items_.clear(); }
    void Add(std::string text, int position) { items_.push_back({std::move(text), position}); }
    int Count() const { return static_cast<int>(items_.size()); }
    // Throws std::out_of_range for a missing parameter.
    const std::string& operator[](int index) const { return items_.at(index).Text; }
    int Position(int index) const { return items_.at(index).Position; }

private:
    struct Item {
        std::string Text;
        int Position;
    };
    std::vector<Item> items_;
};

// Splits a parameter text at `delimiter`. A space splits without trimming and
// never yields empty parameters; any other delimiter trims the whole text and
// then each piece.
TCommandParams SplitParams(std::string_view text, char delimiter);

using TCommandEvent = std::function<void(TCommand& ASender)>;

// One command word and what to do with the lines that begin with it.
class TCommandHandler {
public:
    TCommandHandler(TCommandHandlerList& collection, int id);
    TCommandHandler(const TCommandHandler&) = delete;
    TCommandHandler& operator=(const TCommandHandler&) = delete;
    virtual ~TCommandHandler() = default;

    // Must follow the command word when the line is longer; '\0': none needed.
    char CmdDelimiter = ' ';
    std::string Command;
    TStringList Description;
    // Close the connection after the command, also when it fails.
    bool Disconnect = false;
    bool Enabled = true;
    std::string Name;
    char ParamDelimiter = ' ';
    bool ParseParams;
    // Sent after the reply when the command leaves its own response empty.
    TStringList Response;
    int Tag = 0;
    std::string HelpSuperScript;
    bool HelpVisible = true;
    TCommandEvent OnCommand;

    // Used when this handler fails; without a code the server's is used.
    TReply& ExceptionReply() const { return *exceptionReply_; }
    // Sent after the command unless it set another reply.
    TReply& NormalReply() const { return *normalReply_; }
    TCommandHandlerList& Collection() const { return collection_; }
    std::string DisplayName() const { return Command.empty() ? Name : Command; }

    // The parameter text when this handler takes the line, else nothing.
    std::optional<std::string> MatchLine(std::string_view line) const;
    virtual bool TryHandle(const std::string& line, TContext* context);
    virtual void RunCommand(const std::string& line, TContext* context,
                            const std::string& paramText);

private:
    TCommandHandlerList& collection_;
    std::unique_ptr<TReply> exceptionReply_;
    std::unique_ptr<TReply> normalReply_;
};

// One dispatched line, alive while its handler runs.
class TCommand {
public:
    explicit TCommand(TCommandHandler& handler);
    TCommand(const TCommand&) = delete;
    TCommand& operator=(const TCommand&) = delete;
    virtual ~TCommand() = default;

    TCommandHandler& CommandHandler;
    bool Disconnect;
    TCommandParams Params;
    // Send Reply after the handler; a handler that answers by itself clears it.
    bool AutoReply = true;
    std::string FullLine;
    TStringList Response;
    TContext* Context = nullptr;
    // The line after the command word and its delimiter.
    std::string ParamText;
    // Write the response with its end marker even when it is empty.
    bool ForceResponse = false;

    TReply& Reply() const { return *reply_; }
    // Clears AutoReply, fills in the reply's text and writes it as one write.
    void SendReply();
    // Fires the handler's OnCommand.
    virtual void RunCommand();

private:
    std::unique_ptr<TReply> reply_;
};

// The handlers of one server, tried in order.
class TCommandHandlerList {
public:
    TCommandHandlerList(TCommandDispatcher& server, TReply& exceptionReply, TReplies& replyTexts,
                        TReplyClass replyClass);
    TCommandHandlerList(const TCommandHandlerList&) = delete;
    TCommandHandlerList& operator=(const TCommandHandlerList&) = delete;
    virtual ~TCommandHandlerList() = default;

    TCommandHandler& Add();
    int Count() const { return static_cast<int>(items_.size()); }
    TCommandHandler& operator[](int index) const { return *items_.at(index); }

    TCommandDispatcher& Server() const { return server_; }
    TReply& ExceptionReply() const { return exceptionReply_; }
    TReplies& ReplyTexts() const { return replyTexts_; }
    TReplyClass ReplyClass() const { return replyClass_; }

    // The ParseParams that new handlers get.
    bool ParseParamsDefault = true;
    bool PerformReplies = true;
    std::function<void(std::string& line, TContext* context)> OnBeforeCommandHandler;
    std::function<void(TContext* context)> OnAfterCommandHandler;

    // Gives the line to the first enabled handler that takes it. The before
    // hook may change the line; the after hook runs whatever happened.
    virtual bool DispatchCommand(TContext* context, std::string& line);

private:
    TCommandDispatcher& server_;
    TReply& exceptionReply_;
    TReplies& replyTexts_;
    TReplyClass replyClass_;
    int nextId_ = 0;
    std::vector<std::unique_ptr<TCommandHandler>> items_;
};

// The command layer of the line-oriented command server: its replies, its
// handlers and what it does with each line a connection sends. The server adds
// the connections: it reads the lines and implements the two connection
// operations below over its context's connection.
class TCommandDispatcher {
public:
    TCommandDispatcher();
    TCommandDispatcher(const TCommandDispatcher&) = delete;
    TCommandDispatcher& operator=(const TCommandDispatcher&) = delete;
    virtual ~TCommandDispatcher();

    TCommandHandlerList& CommandHandlers() const { return *commandHandlers_; }
    TReply& ExceptionReply() const { return *exceptionReply_; }
    TReply& Greeting() const { return *greeting_; }
    TReply& HelpReply() const { return *helpReply_; }
    TReply& MaxConnectionReply() const { return *maxConnectionReply_; }
    TReplies& ReplyTexts() const { return *replyTexts_; }
    TReply& ReplyUnknownCommand() const { return *replyUnknownCommand_; }

    std::function<void(TCommandDispatcher& ASender, TContext* AContext)> OnAfterCommandHandler;
    std::function<void(TCommandDispatcher& ASender, std::string& AData, TContext* AContext)>
        OnBeforeCommandHandler;

    // At the first activation only: SetUpCommandHandlers, then the help
    // handler when HelpReply has a code. Later calls do nothing.
    void InitializeCommandHandlers();
    bool CommandHandlersInitialized() const { return handlersInitialized_; }

    // One line read from a connection: an empty line is ignored, a line no
    // handler takes gets the unknown-command reply.
    void ExecuteCommandLine(TContext* context, std::string line);
    // The greeting with its text filled in; empty when there is none.
    TStringList GreetingLines() const;
    TStringList MaxConnectionLines() const { return maxConnectionReply_->FormattedReply(); }
    virtual void DoReplyUnknownCommand(TContext* context, const std::string& line);

    // Writes each line with CR LF to the context's connection as one write.
    virtual void WriteLines(TContext* context, const TStringList& lines) = 0;
    // Closes the context's connection.
    virtual void DisconnectContext(TContext* context) = 0;

    // Writes lines as a response: a leading "." doubled, then a line ".".
    void WriteResponse(TContext* context, const TStringList& lines);

protected:
    virtual void SetUpCommandHandlers() {}

private:
    std::unique_ptr<TReplies> replyTexts_;
    std::unique_ptr<TReply> exceptionReply_;
    std::unique_ptr<TReply> greeting_;
    std::unique_ptr<TReply> helpReply_;
    std::unique_ptr<TReply> maxConnectionReply_;
    std::unique_ptr<TReply> replyUnknownCommand_;
    std::unique_ptr<TCommandHandlerList> commandHandlers_;
    bool handlersInitialized_ = false;
};

} // namespace orvalis::proxy
