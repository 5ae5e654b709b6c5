// Feeds arbitrary bytes, as the lines a client sends, through the command
// layer set up like the proxy's (GET, POST, HEAD, CONNECT, Help) plus handlers
// that use the other parameter and command delimiter rules. Checks that every
// parameter is found where its position says, that replies are well formed
// and read back as written, and that responses are dot-stuffed.
//
// Run for a minute: build/fuzz/fuzz/command_line_fuzz -max_total_time=60

#include "proxy/CommandHandler.h"
#include "proxy/NumberRule.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

using namespace orvalis::proxy;

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckParams(const TCommand& command) {
    const std::string& text = command.ParamText;
    Check(command.FullLine.size() >= text.size() &&
          std::string_view(command.FullLine).substr(command.FullLine.size() - text.size()) == text);
    const char delimiter = command.CommandHandler.ParamDelimiter;
    int previous = 0;
    for (int i = 0; i < command.Params.Count(); ++i) {
        const std::string& param = command.Params[i];
        const int position = command.Params.Position(i);
        Check(position > previous && static_cast<size_t>(position) <= text.size() + 1);
        Check(text.compare(static_cast<size_t>(position) - 1, param.size(), param) == 0);
        Check(param.find(delimiter) == std::string::npos);
        if (delimiter == ' ') {
            Check(!param.empty());
        } else {
            Check(Trimmed(param).size() == param.size());
        }
        previous = position;
    }
}

// Dot-stuffed: only the end marker is a lone "." and no other line starts
// with a single dot.
void CheckResponse(const TStringList& lines) {
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        Check(lines[i].empty() || lines[i][0] != '.' || lines[i].compare(0, 2, "..") == 0);
    }
}

// Every line carries the same code, "-" before the last and " " on it, and
// the reply reads back to the same lines.
void CheckReply(const TStringList& lines) {
    const std::string code = lines.front().substr(0, 3);
    Check(code.size() == 3 && ParseNumber(code).value_or(0) >= 100);
    for (size_t i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        Check(lines[i].compare(0, 3, code) == 0);
        Check(lines[i].size() == 3 ? last && lines.size() == 1 : lines[i][3] == (last ? ' ' : '-'));
    }
    if (lines.front().size() > 3) {
        TReplyRFC reply(nullptr);
        reply.SetFormattedReply(lines);
        Check(reply.FormattedReply() == lines);
    }
}

class FuzzServer : public TCommandDispatcher {
public:
    explicit FuzzServer(uint8_t options) {
        CommandHandlers().PerformReplies = (options & 1) != 0;
        if ((options & 2) != 0) {
            ReplyUnknownCommand().Text.clear();
        }
        InitializeCommandHandlers();
    }

    void WriteLines(TContext*, const TStringList& lines) override {
        if (lines.empty()) {
            return;
        }
        if (lines.back() == ".") {
            CheckResponse(lines);
        } else {
            CheckReply(lines);
        }
    }
    void DisconnectContext(TContext*) override {}

protected:
    void SetUpCommandHandlers() override {
        for (const char* method : {"GET", "POST", "HEAD", "CONNECT"}) {
            TCommandHandler& handler = CommandHandlers().Add();
            handler.Command = method;
            handler.Disconnect = true;
            handler.OnCommand = [](TCommand& command) {
                command.AutoReply = false;
                CheckParams(command);
                (void)command.Params[0];
            };
        }
        TCommandHandler& set = CommandHandlers().Add();
        set.Command = "SET";
        set.ParamDelimiter = ',';
        set.OnCommand = [](TCommand& command) {
            CheckParams(command);
            if (command.Params.Count() > 0) {
                command.Reply().SetCode(command.Params[0]);
                command.Response = {command.ParamText};
            }
        };
        TCommandHandler& glued = CommandHandlers().Add();
        glued.Command = "X";
        glued.CmdDelimiter = '\0';
        glued.ParamDelimiter = '\t';
        glued.OnCommand = [](TCommand& command) {
            CheckParams(command);
            if (command.Params.Count() > 1) {
                throw std::runtime_error(command.ParamText);
            }
        };
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    FuzzServer server(data[0]);
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    while (!input.empty()) {
        const size_t end = input.find('\n');
        std::string line(input.substr(0, end));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        try {
            server.ExecuteCommandLine(nullptr, line);
        } catch (const std::exception&) {
            // A failing handler ends its connection; the next line is a new one.
        }
    }
    return 0;
}
