// The frame loop while remotes hammer the state. The application state composes a playing clip (looping,
// 1280×720, llvmpipe) at 60 Hz with its remote-control server open on loopback, first idle and then while
// wrk asks for GET /api/state; per phase it prints the composed frames per second, the worst interval between
// composed frames, the count of intervals over two frame periods, the main thread's share of a core and, under
// load, wrk's requests per second. The state's bytes go to FOLDER/state.json for the nginx beside it.
// usage: bench_remote_load CLIPS SECONDS FOLDER [CONNECTIONS] (bench/remote_load.sh runs it with nginx)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "App/AppState.hpp"
#include "App/ServerLinks.hpp"
#include "BenchApp.hpp"
#include "BenchStage.hpp"
#include "Engine/Intake/Intake.hpp"
#include "Engine/Library/Store.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

constexpr double kFrameMs = 1000.0 / 60;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// One GET on a fresh loopback connection: the body, empty on failure.
std::string fetch(std::uint16_t port, const std::string& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string in;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
            char chunk[65536];
            for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) in.append(chunk, std::size_t(n));
        }
    }
    ::close(fd);
    const auto body = in.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : in.substr(body + 4);
}

struct Phase {
    double fps = 0, worstMs = 0, mainCore = 0;
    int overTwo = 0;
    std::string wrk;  // requests per second, when loaded
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s CLIPS SECONDS FOLDER [CONNECTIONS]\n", argv[0]);
        return 2;
    }
    const int clips = std::atoi(argv[1]);
    const double seconds = std::atof(argv[2]);
    const fs::path out = argv[3];
    const int connections = argc > 4 ? std::atoi(argv[4]) : 32;
    const fs::path dir = bench::makeFolder("ombry-bench-load-");
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);

    int rc = 0;
    {
        bench::AppHost host;
        AppEnvironment env = host.environment(true);
        ServerLinkOptions links;
        links.bindAddress = "127.0.0.1";
        addServerLinks(env, std::move(links));
        host.app = std::make_unique<AppState>(std::move(env));
        AppState& app = *host.app;
        host.cutsOn(1280, 720);
        AppSettings settings = app.settings();
        settings.remoteControlEnabled = true;
        settings.remoteControlPort = 0;  // open, as by default: no password
        app.setSettings(settings);

        auto [media, groups] = bench::projectOf(clips);
        const std::string clip = bench::testClip(dir / "clip.mp4", "red", 1280, 720).string();
        for (MediaItem& m : media) {
            m.path = clip;
            m.probed = true;
            m.probeVersion = Intake::probeVersion;
        }
        media[1].loop = true;
        app.library.setMedia(media);
        app.library.setGroups(groups);
        app.start();
        auto runFor = [&](double s) {
            host.q.postAfter(s, [&] { host.q.quit(); });
            host.q.run();
        };
        bench::runUntil(host.q, [&] { return app.serverInfo && app.controlServerInfo(); });
        const auto port = std::uint16_t(app.controlServerInfo()->port);
        app.trigger(*app.library.item(media[1].id), false);
        runFor(2);  // the clip on air and playing

        std::vector<double> frames;  // ms on the steady clock
        app.previewRenderer().setCompositeConsumer("probe", [&](const GpuRenderTarget&, int) {
            frames.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
        });
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/api/state";
        auto measure = [&](bool loaded) {
            Phase p;
            std::thread wrk;
            if (loaded)
                wrk = std::thread([&] {
                    const std::string command = "wrk -t2 -c" + std::to_string(connections) + " -d" +
                                                std::to_string(int(seconds)) + "s " + url;
                    if (FILE* pipe = ::popen(command.c_str(), "r")) {
                        char line[512];
                        while (std::fgets(line, sizeof line, pipe))
                            if (std::string(line).starts_with("Requests/sec:"))
                                p.wrk = std::string(line + 13, line + std::strlen(line) - 1);
                        ::pclose(pipe);
                    }
                });
            frames.clear();
            const double cpu0 = threadCpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            runFor(seconds);
            const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            p.mainCore = (threadCpuSeconds() - cpu0) / wall;
            if (wrk.joinable()) wrk.join();
            for (std::size_t i = 1; i < frames.size(); ++i) {
                const double gap = frames[i] - frames[i - 1];
                p.worstMs = std::max(p.worstMs, gap);
                if (gap > 2 * kFrameMs) ++p.overTwo;
            }
            if (frames.size() > 1) p.fps = double(frames.size() - 1) * 1000 / (frames.back() - frames.front());
            return p;
        };

        const std::string state = fetch(port, "/api/state");
        std::ofstream(out / "state.json", std::ios::binary) << state;
        const Phase idle = measure(false);
        const Phase loaded = measure(true);
        const Phase after = measure(false);
        app.previewRenderer().setCompositeConsumer("probe", std::nullopt);
        std::printf("clips %d, state %zu bytes, %d connections, %.0f s per phase, load average %.1f\n", clips,
                    state.size(), connections, seconds, [] {
                        double l[1] = {0};
                        return getloadavg(l, 1) == 1 ? l[0] : 0.0;
                    }());
        std::printf("%-8s %8s %10s %8s %10s %12s\n", "phase", "fps", "worst ms", ">2 per", "main core", "requests/s");
        for (const auto& [name, p] : {std::pair{"idle", idle}, {"loaded", loaded}, {"after", after}})
            std::printf("%-8s %8.1f %10.1f %8d %9.0f%% %12s\n", name, p.fps, p.worstMs, p.overTwo, p.mainCore * 100,
                        p.wrk.empty() ? "-" : p.wrk.c_str());
        if (state.empty() || loaded.wrk.empty()) rc = 1;
        host.app.reset();
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return rc;
}
