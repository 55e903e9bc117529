// The show behind its real servers on loopback: start-up until the output server and the remote-control
// server both listen, with a project of 1000 clips (the goal: under 200 ms); and a remote take's round trip,
// from the HTTP request of a loopback client to the first composed frame that shows the clip fully, on a
// renderer paced at 60 Hz (the goal: under 3 frame intervals on a real GPU).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "App/AppState.hpp"
#include "App/ServerLinks.hpp"
#include "BenchApp.hpp"
#include "BenchStage.hpp"
#include "Engine/Intake/Intake.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Clock.hpp"
#include "Render/FrameClock.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

constexpr double kFrameMs = 1000.0 / 60;
constexpr const char* kPassword = "bench";

const fs::path& folder() {
    static const fs::path dir = bench::makeFolder("ombry-bench-remote-");
    return dir;
}

fs::path clip(const std::string& name, const std::string& colour) {
    return bench::testClip(folder() / (name + ".mp4"), colour, 1280, 720);
}

using bench::median;
using bench::msBetween;
using bench::Time;

// Each run starts on an empty project: the state opens the last one it saved.
void emptySupportFolder() {
    for (const auto& e : fs::directory_iterator(Store::dir()))
        if (e.path() != Store::projectsDir() && e.path() != Store::mediaDir() && e.path() != Store::thumbnailDir())
            fs::remove_all(e.path());
    for (const auto& e : fs::directory_iterator(Store::projectsDir())) fs::remove_all(e.path());
}

// The application state with the real servers bound to loopback, remote control on with a password on
// any free port, not yet started. `frames`: a renderer paced at 60 Hz, else one that the caller ticks.
struct Show : bench::AppHost {
    explicit Show(bool frames, int width = 1280, int height = 720) {
        emptySupportFolder();
        AppEnvironment env = environment(frames);
        ServerLinkOptions links;
        links.bindAddress = "127.0.0.1";
        addServerLinks(env, std::move(links));
        app = std::make_unique<AppState>(std::move(env));
        cutsOn(width, height);
        AppSettings settings = app->settings();
        settings.remoteControlEnabled = true;
        settings.remoteControlPort = 0;
        settings.remoteControlPassword = kPassword;
        app->setSettings(settings);
        // The server synchronisation the settings queued runs before start-up, as at launch.
        settle();
    }
    ~Show() {
        app.reset();
        settle();
    }
    void settle() {
        bool done = false;
        q.post([&] { done = true; });
        bench::runUntil(q, [&] { return done; });
    }
    bool listening() const { return app->serverInfo && app->controlServerInfo(); }
    void startAndWait() {
        app->start();
        bench::runUntil(q, [&] { return listening(); });
    }
};

// A saved project: its clips probed, on one file.
void fillProject(AppState& app, int n) {
    auto [media, groups] = bench::projectOf(n);
    const std::string path = clip("project", "red").string();
    for (MediaItem& m : media) {
        m.path = path;
        m.probed = true;
        m.probeVersion = Intake::probeVersion;
    }
    app.library.setMedia(media);
    app.library.setGroups(groups);
}

// From AppState::start() to both servers listening (the state has both addresses).
void BM_StartUntilListening(benchmark::State& state) {
    std::vector<double> times;
    for (auto _ : state) {
        Show show(false);
        fillProject(*show.app, int(state.range(0)));
        show.settle();
        if (show.app->library.media().size() != std::size_t(state.range(0))) {
            state.SkipWithError("the project did not take the clips");
            break;
        }
        const Time t0 = std::chrono::steady_clock::now();
        show.startAndWait();
        const double ms = msBetween(t0, std::chrono::steady_clock::now());
        times.push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
    state.counters["median_ms"] = median(times);
}

// A loopback client of the control API: one request per connection, its reply read without blocking.
class Client {
public:
    Client(std::uint16_t port, const std::string& target) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::exit(2);
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) std::exit(2);
    }
    ~Client() { ::close(fd_); }
    // True once the head and the body of the reply have arrived.
    bool replied() {
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0) {
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            in_.append(chunk, std::size_t(n));
        }
        const auto end = in_.find("\r\n\r\n");
        if (end == std::string::npos) return false;
        const auto length = in_.find("Content-Length: ");
        const std::size_t body = length == std::string::npos ? 0 : std::size_t(std::atol(in_.c_str() + length + 16));
        return in_.size() >= end + 4 + body;
    }
    bool ok() const { return in_.starts_with("HTTP/1.1 200") && in_.find("\"ok\":true") != std::string::npos; }

private:
    int fd_ = -1;
    std::string in_;
};

// Each iteration takes the next clip of a playlist of three (clip 1, 2, 3, 1, …) with a trigger-by-index
// request, each right after a composed frame, once the state has finished opening what it opens: with
// argument 1 the clip was selected first (the selection prepares it), with 0 it is taken cold. Counters (medians): round_trip_ms and round_trip_frames, from the request's send to the
// first composed frame showing the clip; reply_ms, from the send to the whole reply; prepared_ms and
// cold_ms, the round trip split by whether the state held the clip prepared when the request went out.
void BM_RemoteTakeToFrame(benchmark::State& state) {
    const bool select = state.range(0) != 0;
    Show show(true);
    std::vector<MediaItem> clips;
    for (auto [name, colour] : {std::pair{"a", "red"}, {"b", "blue"}, {"c", "green"}})
        clips.push_back(show.app->library.add({clip(name, colour).string()}).at(0));
    Group playlist = show.app->library.createGroup("Show");
    for (const auto& m : clips) show.app->library.addToGroup(playlist.id, m.id);
    show.startAndWait();
    const auto port = std::uint16_t(show.app->controlServerInfo()->port);
    NativeStageRenderer& renderer = show.app->previewRenderer();
    NativeLayerHost& host = *renderer.host(LayerId::media);

    std::string target;  // media id the request takes
    std::string showing;
    std::optional<Time> shownAt;
    std::function<void()> sendAfterFrame;
    renderer.setCompositeConsumer("probe", [&](const GpuRenderTarget&, int) {
        if (showing.empty() && !target.empty())
            if (const auto& cue = show.app->program.state().layers[LayerId::media].active; cue && cue->mediaId == target)
                showing = cue->cueId;
        if (!shownAt && !showing.empty() && bench::showsFully(renderer, showing, appClock().monotonic()))
            shownAt = std::chrono::steady_clock::now();
        if (sendAfterFrame) show.q.post(std::exchange(sendAfterFrame, nullptr));
    });
    std::vector<double> trips, replies, prepared, cold;
    int n = 0;
    for (auto _ : state) {
        const int index = n++ % 3;
        // The operator's selection prepares the clip; whatever the state opens has landed.
        if (select) show.app->setSelectedItemId(clips[std::size_t(index)].id);
        bench::runUntil(show.q, [&] {
            return host.loadsInFlight() == 0 && host.idle() &&
                   (!select || (host.prepared() && host.prepared()->texture));
        });
        const bool wasPrepared = host.prepared() && host.prepared()->mediaId == clips[std::size_t(index)].id;
        target = clips[std::size_t(index)].id;
        showing.clear();
        shownAt.reset();
        std::optional<Client> client;
        Time t0;
        std::optional<Time> repliedAt;
        sendAfterFrame = [&] {
            t0 = std::chrono::steady_clock::now();
            client.emplace(port, "/api/trigger/index/" + std::to_string(index + 1) + "?k=" + kPassword);
        };
        bench::runUntil(show.q, [&] {
            if (client && !repliedAt && client->replied()) repliedAt = std::chrono::steady_clock::now();
            return shownAt && repliedAt && host.idle();
        });
        if (!client->ok()) {
            state.SkipWithError("the take was refused");
            break;
        }
        const double ms = msBetween(t0, *shownAt);
        trips.push_back(ms);
        replies.push_back(msBetween(t0, *repliedAt));
        (wasPrepared ? prepared : cold).push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
    renderer.setCompositeConsumer("probe", std::nullopt);
    state.counters["round_trip_ms"] = median(trips);
    state.counters["round_trip_frames"] = median(trips) / kFrameMs;
    state.counters["reply_ms"] = median(replies);
    state.counters["prepared_ms"] = median(prepared);
    state.counters["prepared_takes"] = double(prepared.size());
    state.counters["cold_ms"] = median(cold);
    state.counters["cold_takes"] = double(cold.size());
}

BENCHMARK(BM_StartUntilListening)->Arg(1000)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoteTakeToFrame)->Arg(0)->Arg(1)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The state's support folder and settings stay in the benchmark's own folder.
    return bench::runInFolder(argc, argv, folder());
}
