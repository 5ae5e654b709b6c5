#include "proxy/CommandHandler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace orvalis::proxy;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

namespace {

// Records what the command layer writes, per thread, as the bytes a
// connection would carry, and how often it asked for the close.
class RecordingServer : public TCommandDispatcher {
public:
    void WriteLines(TContext*, const TStringList& lines) override {
        std::string bytes;
        for (const auto& line : lines) {
            bytes += line + "\r\n";
        }
        std::lock_guard lock(mutex_);
        written_[std::this_thread::get_id()] += bytes;
    }
    void DisconnectContext(TContext*) override {
        std::lock_guard lock(mutex_);
        ++disconnects_[std::this_thread::get_id()];
    }
    std::string Written() {
        std::lock_guard lock(mutex_);
        return std::exchange(written_[std::this_thread::get_id()], {});
    }
    // What the server writes for one line.
    std::string Answer(const std::string& line) {
        ExecuteCommandLine(nullptr, line);
        return Written();
    }
    int Disconnects() {
        std::lock_guard lock(mutex_);
        return disconnects_[std::this_thread::get_id()];
    }

    std::function<void()> SetUp;

protected:
    void SetUpCommandHandlers() override {
        if (SetUp) {
            SetUp();
        }
    }

private:
    std::mutex mutex_;
    std::map<std::thread::id, std::string> written_;
    std::map<std::thread::id, int> disconnects_;
};

// The proxy's command set: four methods whose handlers answer by themselves
// and close the connection; no greeting, unknown commands echoed under 400.
class ProxyLikeServer : public RecordingServer {
public:
    ProxyLikeServer() {
        ReplyUnknownCommand().Text.clear();
        SetUp = [this] {
            for (const char* method : {"GET", "POST", "HEAD", "CONNECT"}) {
                TCommandHandler& handler = CommandHandlers().Add();
                handler.Command = method;
                handler.Disconnect = true;
                handler.OnCommand = [this](TCommand& command) {
                    command.AutoReply = false;
                    Seen.push_back(command.CommandHandler.Command + " " + command.Params[0]);
                };
            }
            Greeting().Clear();
        };
        InitializeCommandHandlers();
    }
    std::vector<std::string> Seen;
};

TCommandHandler& AddHandler(RecordingServer& server, const std::string& command,
                            TCommandEvent onCommand = {}) {
    TCommandHandler& handler = server.CommandHandlers().Add();
    handler.Command = command;
    handler.OnCommand = std::move(onCommand);
    return handler;
}

TEST(CommandLine, CommandWordMatching) {
    RecordingServer server;
    TCommandHandler& get = AddHandler(server, "GET");
    EXPECT_EQ(get.MatchLine("GET"), "");
    EXPECT_EQ(get.MatchLine("get"), "");
    EXPECT_EQ(get.MatchLine("get / HTTP/1.0"), "/ HTTP/1.0");
    EXPECT_EQ(get.MatchLine("GET "), "");
    EXPECT_EQ(get.MatchLine("GETX / HTTP/1.0"), std::nullopt);
    EXPECT_EQ(get.MatchLine("GE"), std::nullopt);
    EXPECT_EQ(get.MatchLine(" GET /"), std::nullopt);

    get.CmdDelimiter = '\0';
    EXPECT_EQ(get.MatchLine("GETX / HTTP/1.0"), "X / HTTP/1.0");

    TCommandHandler& set = AddHandler(server, "Set");
    set.CmdDelimiter = ':';
    EXPECT_EQ(set.MatchLine("SET:a:b"), "a:b");
    EXPECT_EQ(set.MatchLine("SET a"), std::nullopt);
    EXPECT_EQ(set.Name, "TCommandHandler1");
    EXPECT_EQ(set.DisplayName(), "Set");
}

// Each parameter with its position.
std::vector<std::pair<std::string, int>> Split(std::string_view text, char delimiter) {
    auto params = SplitParams(text, delimiter);
    std::vector<std::pair<std::string, int>> items;
    for (int i = 0; i < params.Count(); ++i) {
        items.emplace_back(params[i], params.Position(i));
    }
    return items;
}

TEST(CommandLine, SpaceRuleKeepsEverythingButSpaces) {
    EXPECT_THAT(Split(" http://host/   HTTP/1.1", ' '),
                ElementsAre(Pair("http://host/", 2), Pair("HTTP/1.1", 17)));
    EXPECT_THAT(Split("a\tb  c ", ' '), ElementsAre(Pair("a\tb", 1), Pair("c", 6)));
    EXPECT_THAT(Split("", ' '), IsEmpty());
    EXPECT_THAT(Split("    ", ' '), IsEmpty());
    EXPECT_THROW(SplitParams("", ' ')[0], std::out_of_range);
}

TEST(CommandLine, TrimmingRuleForOtherDelimiters) {
    EXPECT_THAT(Split("  a , b ,, c ", ','),
                ElementsAre(Pair("a", 3), Pair("b", 7), Pair("c", 12)));
    // A piece of blanks is not empty before trimming, so it stays as "".
    EXPECT_THAT(Split("a, ,b", ','), ElementsAre(Pair("a", 1), Pair("", 3), Pair("b", 5)));
    EXPECT_THAT(Split(" \t ", ','), IsEmpty());
    EXPECT_THAT(Split(" , ", ','), IsEmpty());
}

TEST(CommandDispatch, ProxyHelpText) {
    ProxyLikeServer server;
    EXPECT_EQ(server.Answer("hElP"), "100 Help follows\r\n"
                                     "CONNECT\r\n\r\n"
                                     "GET\r\n\r\n"
                                     "HEAD\r\n\r\n"
                                     "Help\r\n"
                                     "  Displays commands that the servers supports.\r\n\r\n"
                                     "POST\r\n\r\n"
                                     ".\r\n");
    EXPECT_EQ(server.Disconnects(), 0);
    EXPECT_THAT(server.GreetingLines(), IsEmpty());
}

TEST(CommandDispatch, ProxyUnknownMethodsAndEmptyLines) {
    ProxyLikeServer server;
    server.ExecuteCommandLine(nullptr, "PUT http://host/ HTTP/1.1");
    server.ExecuteCommandLine(nullptr, "Host: host");
    EXPECT_EQ(server.Answer(""), "400 PUT http://host/ HTTP/1.1\r\n400 Host: host\r\n");
    EXPECT_EQ(server.Disconnects(), 0);
    EXPECT_THAT(server.Seen, IsEmpty());
}

TEST(CommandDispatch, ProxyMethodsAreTakenAndClosed) {
    ProxyLikeServer server;
    server.ExecuteCommandLine(nullptr, "get  http://host/   HTTP/1.1");
    server.ExecuteCommandLine(nullptr, "CONNECT host:443 HTTP/1.0");
    EXPECT_THAT(server.Seen, ElementsAre("GET http://host/", "CONNECT host:443"));
    EXPECT_EQ(server.Written(), "");
    EXPECT_EQ(server.Disconnects(), 2);

    // "GET" alone has no target: the handler fails, the error passes on
    // without a reply and the connection is still closed.
    EXPECT_THROW(server.ExecuteCommandLine(nullptr, "GET"), std::out_of_range);
    EXPECT_EQ(server.Written(), "");
    EXPECT_EQ(server.Disconnects(), 3);
}

TEST(CommandDispatch, DefaultUnknownCommandReply) {
    RecordingServer server;
    EXPECT_EQ(server.Answer("PUT / HTTP/1.1"), "400-Unknown Command\r\n400 PUT / HTTP/1.1\r\n");
    server.CommandHandlers().PerformReplies = false;
    EXPECT_EQ(server.Answer("PUT / HTTP/1.1"), "");
}

TEST(CommandDispatch, FirstEnabledHandlerWins) {
    RecordingServer server;
    std::vector<std::string> ran;
    AddHandler(server, "A", [&](TCommand&) { ran.push_back("first"); }).Enabled = false;
    AddHandler(server, "A", [&](TCommand&) { ran.push_back("second"); });
    AddHandler(server, "A", [&](TCommand&) { ran.push_back("third"); });
    server.ExecuteCommandLine(nullptr, "a");
    EXPECT_THAT(ran, ElementsAre("second"));
    EXPECT_EQ(server.Written(), "200 Ok\r\n");
}

TEST(CommandDispatch, HooksSeeEveryDispatch) {
    RecordingServer server;
    std::vector<std::string> order;
    server.OnBeforeCommandHandler = [&](TCommandDispatcher&, std::string& line, TContext*) {
        order.push_back("before " + line);
        line = "NOOP " + line;
    };
    server.OnAfterCommandHandler = [&](TCommandDispatcher&, TContext*) {
        order.push_back("after");
    };
    TCommandHandler& noop = AddHandler(server, "NOOP", [&](TCommand& command) {
        order.push_back("run " + command.FullLine + " | " + command.ParamText);
        command.AutoReply = false;
        if (command.Params[0] == "fail") {
            throw std::runtime_error("boom");
        }
    });
    server.ExecuteCommandLine(nullptr, "x y");
    EXPECT_THROW(server.ExecuteCommandLine(nullptr, "fail"), std::runtime_error);
    EXPECT_THAT(order, ElementsAre("before x y", "run NOOP x y | x y", "after", "before fail",
                                   "run NOOP fail | fail", "after"));

    // A changed line that no handler takes is answered as changed.
    noop.Enabled = false;
    EXPECT_EQ(server.Answer("z"), "400-Unknown Command\r\n400 NOOP z\r\n");
}

TEST(CommandDispatch, RepliesAfterACommand) {
    RecordingServer server;
    server.ReplyTexts().Add("251", "From the table");
    AddHandler(server, "A", [](TCommand& command) { command.Reply().SetNumericCode(250); });
    AddHandler(server, "B", [](TCommand& command) { command.Reply().SetNumericCode(251); });
    AddHandler(server, "C", [](TCommand& command) { command.Reply().Clear(); });
    AddHandler(server, "D", [](TCommand& command) {
        command.Reply().SetReply(220, "two\nlines");
        command.SendReply();
    });
    EXPECT_EQ(server.Answer("A"), "250 Ok\r\n");
    EXPECT_EQ(server.Answer("B"), "251 From the table\r\n");
    EXPECT_EQ(server.Answer("C"), "200 Ok\r\n");
    EXPECT_EQ(server.Answer("D"), "220-two\r\n220 lines\r\n");
}

TEST(CommandDispatch, FailingHandlerGetsExceptionReply) {
    RecordingServer server;
    auto fail = [](TCommand&) { throw std::runtime_error("first\nsecond"); };
    AddHandler(server, "A", fail);
    TCommandHandler& own = AddHandler(server, "B", fail);
    own.ExceptionReply().SetNumericCode(451);
    own.Disconnect = true;

    EXPECT_EQ(server.Answer("A"), "500-first\r\n500 second\r\n");
    EXPECT_EQ(server.Disconnects(), 0);
    EXPECT_EQ(server.Answer("B"), "451-first\r\n451 second\r\n");
    EXPECT_EQ(server.Disconnects(), 1);

    // With no exception reply anywhere the error passes on, still closing.
    server.ExceptionReply().Clear();
    own.ExceptionReply().Clear();
    EXPECT_THROW(server.ExecuteCommandLine(nullptr, "B"), std::runtime_error);
    EXPECT_EQ(server.Written(), "");
    EXPECT_EQ(server.Disconnects(), 2);
}

TEST(CommandDispatch, HandlerWithoutNormalReplyCodeNeverRuns) {
    RecordingServer server;
    bool ran = false;
    AddHandler(server, "A", [&](TCommand&) { ran = true; }).NormalReply().Clear();
    server.ExecuteCommandLine(nullptr, "A");
    EXPECT_FALSE(ran);
    EXPECT_EQ(server.Written(), "500 Command handler A has no normal reply code.\r\n");
}

TEST(CommandDispatch, ResponsesAreDotStuffed) {
    RecordingServer server;
    AddHandler(server, "LIST", [](TCommand& command) {
        command.Response = {"one", ".hidden", ""};
    });
    TCommandHandler& fixed = AddHandler(server, "FIXED");
    fixed.Response = {"..x"};
    AddHandler(server, "NONE", [](TCommand& command) {
        command.AutoReply = false;
        command.ForceResponse = true;
    });
    EXPECT_EQ(server.Answer("LIST"), "200 Ok\r\none\r\n..hidden\r\n\r\n.\r\n");
    EXPECT_EQ(server.Answer("FIXED"), "200 Ok\r\n...x\r\n.\r\n");
    EXPECT_EQ(server.Answer("NONE"), ".\r\n");
}

TEST(CommandDispatch, GreetingAndConnectionLimitReplies) {
    RecordingServer server;
    EXPECT_THAT(server.GreetingLines(), ElementsAre("200 Welcome"));
    EXPECT_THAT(server.MaxConnectionLines(),
                ElementsAre("300 Too many connections. Try again later."));

    server.ReplyTexts().Add("220", "Ready");
    server.Greeting().SetNumericCode(220);
    EXPECT_THAT(server.GreetingLines(), ElementsAre("220 Ready"));
    // Only the copy that was sent got the text.
    EXPECT_THAT(server.Greeting().Text, IsEmpty());

    server.Greeting().Clear();
    EXPECT_THAT(server.GreetingLines(), IsEmpty());
}

TEST(CommandDispatch, HelpIsBuiltOnceAtFirstActivation) {
    RecordingServer server;
    int setUps = 0;
    server.SetUp = [&] {
        ++setUps;
        TCommandHandler& quit = AddHandler(server, "quit");
        quit.Description = {"Ends the session.", ".dot"};
        AddHandler(server, "Stat").HelpSuperScript = " [n]";
        AddHandler(server, "secret").HelpVisible = false;
    };
    server.InitializeCommandHandlers();
    server.InitializeCommandHandlers();
    EXPECT_EQ(setUps, 1);
    ASSERT_EQ(server.CommandHandlers().Count(), 4);
    EXPECT_THAT(server.CommandHandlers()[3].Response,
                ElementsAre("Help", "  Displays commands that the servers supports.", "", "quit",
                            "  Ends the session.", "  .dot", "", "Stat [n]", ""));
}

TEST(CommandDispatch, NoHelpWithoutHelpReplyCode) {
    RecordingServer server;
    server.HelpReply().Clear();
    server.InitializeCommandHandlers();
    EXPECT_EQ(server.CommandHandlers().Count(), 0);
    EXPECT_EQ(server.Answer("HELP"), "400-Unknown Command\r\n400 HELP\r\n");
}

// Connections dispatch on their own threads over shared handlers and replies.
TEST(CommandDispatch, ConcurrentDispatch) {
    RecordingServer server;
    AddHandler(server, "SUM", [](TCommand& command) {
        command.Reply().SetNumericCode(250);
        command.Response = {std::to_string(command.Params.Count())};
    });
    server.InitializeCommandHandlers();
    const std::string help = [&] {
        server.ExecuteCommandLine(nullptr, "HELP");
        return server.Written();
    }();
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                server.ExecuteCommandLine(nullptr, "SUM a b c");
                server.ExecuteCommandLine(nullptr, "HELP");
                server.ExecuteCommandLine(nullptr, "NOPE");
                if (server.GreetingLines() != TStringList{"200 Welcome"}) {
                    ++failures[t];
                }
                if (server.Written() !=
                    "250 Ok\r\n3\r\n.\r\n" + help + "400-Unknown Command\r\n400 NOPE\r\n") {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_THAT(failures, ElementsAre(0, 0, 0, 0));
}

} // namespace
