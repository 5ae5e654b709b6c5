// Connections accepted, echoed and closed per second by the TCP server core:
// each iteration opens a connection, sends one line, reads the echo and closes.
// Run at 1 and 45 concurrent clients; items_per_second is connections/s.
#include "proxy/TCPClient.h"
#include "proxy/TCPServer.h"

#include <benchmark/benchmark.h>

using namespace orvalis::proxy;

namespace {

uint16_t gPort = 0;

void EchoConnections(benchmark::State& state) {
    for (auto _ : state) {
        TTCPClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(gPort);
        client.Connect();
        client.IOHandler()->WriteLine("ping");
        if (client.IOHandler()->ReadLine() != "ping") {
            state.SkipWithError("wrong echo");
            break;
        }
        client.Disconnect();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(EchoConnections)->Threads(1)->Threads(45)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    TTCPServer server;
    server.Bindings.Add().IP = "127.0.0.1";
    server.OnExecute = [](TContext& context) {
        TIOHandler& io = *context.Connection->IOHandler();
        io.WriteLine(io.ReadLine());
    };
    server.SetActive(true);
    gPort = server.Bindings[0].Port;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server.SetActive(false);
    return 0;
}
