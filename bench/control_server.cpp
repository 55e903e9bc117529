// The remote-control server under load.
//   bench_control_server            one snapshot push delivered to 200 (and 50) WebSocket remotes
//   bench_control_server --serve PORT FOLDER [PASSWORD]
//       serves on 127.0.0.1:PORT until stdin closes: "/api/state" answers a 200-clip snapshot whose playheads
//       run, as the application pushes it (its JSON of one moment is also written to FOLDER/state.json for nginx), uploads with the token "bench" land in FOLDER/incoming and are
//       accepted (the reply's "name" is the size that arrived; the file stays). For
//       bench/control_server_wrk.sh and bench/control_server_upload.sh.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "BenchSnapshot.hpp"
#include "BenchServer.hpp"
#include "BenchWebSocket.hpp"
#include "Engine/Servers/ControlServer.hpp"

namespace {

using namespace ombry;
namespace fs = std::filesystem;

// Time from push() of a snapshot of `clips` clips until the last of `remotes` WebSocket remotes has the whole
// frame. The application encodes the snapshot once on its main thread before the push (counter encode_us,
// the median, not part of the time).
void PushToRemotes(benchmark::State& state) {
    net::NetLoop loop;
    ControlServer::Options options;
    options.bindAddress = "127.0.0.1";
    options.loop = &loop;
    auto server = ControlServer::create(options);
    std::atomic<int> remotes = 0;
    server->onClientsChanged = [&](int r, int) { remotes = r; };
    const auto port = bench::startServer(*server, 0);

    ControlSnapshot snapshot = bench::snapshotOf(int(state.range(0)));
    server->push(snapshot);
    // Each remote gets the last snapshot on its upgrade and again on its hello.
    std::vector<bench::WsClient> clients(static_cast<std::size_t>(state.range(1)));
    for (auto& c : clients)
        if (!c.connect(port, "/", R"({"type":"hello","role":"remote"})", 2)) state.SkipWithError("connect failed");
    const int epoll = bench::epollOver(clients);

    long sent = 0;
    std::vector<double> encodeUs;
    for (auto _ : state) {
        snapshot.rev = 1'000'000 + sent;  // same digit count: same frame size each time
        const auto encodeStart = std::chrono::steady_clock::now();
        auto live = LiveSnapshot::make(snapshot, bench::playingAnchors());
        const auto start = std::chrono::steady_clock::now();
        encodeUs.push_back(std::chrono::duration<double, std::micro>(start - encodeStart).count());
        server->push(std::move(live));
        ++sent;
        if (!bench::awaitFrames(epoll, clients, sent)) {
            state.SkipWithError("a remote stopped reading");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(encodeUs.begin(), encodeUs.end());
    if (!encodeUs.empty()) state.counters["encode_us"] = encodeUs[encodeUs.size() / 2];
    state.counters["remotes"] = remotes.load();
    state.counters["bytes"] = double(wireText(snapshot).size());
    ::close(epoll);
    server->stop();
}
BENCHMARK(PushToRemotes)
    ->ArgNames({"clips", "remotes"})
    ->Args({200, 200})
    ->Args({1000, 200})
    ->Args({200, 50})
    ->Args({200, 100})
    ->UseManualTime()->Unit(benchmark::kMicrosecond);

int serve(std::uint16_t port, const fs::path& folder, std::optional<std::string> password) {
    const ControlSnapshot snapshot = bench::snapshotOf(200);
    const auto live = LiveSnapshot::make(snapshot, bench::playingAnchors());
    std::ofstream(folder / "state.json", std::ios::binary) << live->text(transportNow());
    ControlServer::Options options;
    options.bindAddress = "127.0.0.1";
    options.incomingDir = folder / "incoming";
    auto server = ControlServer::create(options);
    server->snapshot = [snapshot](std::function<void(std::optional<ControlSnapshot>)> reply) { reply(snapshot); };
    server->ingestUpload = [](UploadIngestRequest request, std::function<void(UploadIngestResult)> reply) {
        // The intake would move the file away; the script deletes it after the timed upload.
        std::error_code ec;
        const auto size = fs::file_size(request.tempPath, ec);
        reply(UploadIngestResult::success("bench", std::to_string(size)));
    };
    server->configureControl(std::move(password));
    server->configureUpload(true, "bench");
    // As the application pushes it: the time fields follow running playheads, so the text moves on.
    server->push(live);
    return bench::serveUntilStdinCloses(*server, port);
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--serve") == 0)
        return serve(static_cast<std::uint16_t>(std::atoi(argv[2])), argv[3],
                     argc == 5 ? std::optional<std::string>(argv[4]) : std::nullopt);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
