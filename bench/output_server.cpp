// The output server under load.
//   bench_output_server                      one state broadcast delivered to 200 WebSocket pages
//   bench_output_server --serve PORT FOLDER  serves FOLDER on 127.0.0.1:PORT until stdin closes (for
//                                            bench/output_server_wrk.sh, which drives it with wrk beside nginx)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "BenchServer.hpp"
#include "BenchWebSocket.hpp"
#include "Engine/Servers/OutputServer.hpp"

namespace {

using namespace ombry;

void BroadcastTo200Pages(benchmark::State& state) {
    net::NetLoop loop;
    OutputServer::Options options;
    options.bindAddress = "127.0.0.1";
    options.loop = &loop;
    auto server = OutputServer::create("/nonexistent", options);
    const auto port = bench::startServer(*server, 0);
    std::vector<bench::WsClient> pages(200);
    for (auto& p : pages)
        if (!p.connect(port, "/", R"({"type":"hello"})", 1)) state.SkipWithError("connect failed");
    const int epoll = bench::epollOver(pages);

    ProgramState program;
    program.layers.media.active = ActiveCue{};
    program.layers.media.active->cueId = "5f0c7c1e-1111-4a7b-9c55-0e8b1a2b3c4d";
    program.layers.media.active->mediaId = "0d5b8f2a-2222-4c3e-8d11-7a6b5c4d3e2f";
    program.layers.media.active->src = "/media/0d5b8f2a-2222-4c3e-8d11-7a6b5c4d3e2f";
    long sent = 0;
    for (auto _ : state) {
        program.rev = 1'000'000 + sent;  // same digit count: same frame size each time
        const auto start = std::chrono::steady_clock::now();
        server->broadcastState(program);
        ++sent;
        if (!bench::awaitFrames(epoll, pages, sent)) {
            state.SkipWithError("a page stopped reading");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["pages"] = static_cast<double>(pages.size());
    ::close(epoll);
    server->stop();
}
BENCHMARK(BroadcastTo200Pages)->UseManualTime()->Unit(benchmark::kMicrosecond);

int serve(std::uint16_t port, const char* folder) {
    OutputServer::Options options;
    options.bindAddress = "127.0.0.1";
    auto server = OutputServer::create(folder, options);
    return bench::serveUntilStdinCloses(*server, port);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--serve") == 0)
        return serve(static_cast<std::uint16_t>(std::atoi(argv[2])), argv[3]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
