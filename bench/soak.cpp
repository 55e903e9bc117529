// A show left running: four layers with looping playlists that advance by themselves (videos on end, stills
// and overlays on timers, a tone bed on end), the real servers on loopback with a remote that polls the state
// twice a second and takes a clip every 20 s, on a renderer paced at 60 Hz. Once a minute it prints resident
// and in-use memory, threads, descriptors and the frame intervals of that minute; at the end, the slope of the
// resident size after the first 5 minutes.
//
//   build/bench/bench_soak [--minutes 30] [--size 1280x720]
#include <arpa/inet.h>
#include <dirent.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "App/AppState.hpp"
#include "App/ServerLinks.hpp"
#include "BenchApp.hpp"
#include "BenchStage.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Clock.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPassword = "soak";

const fs::path& folder() {
    static const fs::path dir = bench::makeFolder("ombry-bench-soak-");
    return dir;
}

fs::path made(const std::string& name, const std::string& args) {
    const fs::path out = folder() / name;
    if (!fs::exists(out) &&
        std::system(("ffmpeg -nostdin -loglevel error -y " + args + " '" + out.string() + "'").c_str()) != 0)
        std::exit(1);
    return out;
}

fs::path still(const std::string& name, const std::string& colour, int w, int h) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    return made(name, "-f lavfi -i testsrc=s=" + size + " -vf \"drawbox=c=" + colour +
                          ":t=fill:w=iw/3:h=ih/3\" -frames:v 1");
}

fs::path tone(const std::string& name, int hz) {
    return made(name, "-f lavfi -i sine=frequency=" + std::to_string(hz) + ":sample_rate=48000:duration=9");
}

// One request per connection; the reply is read without blocking and dropped.
class Poll {
public:
    Poll(std::uint16_t port, const std::string& target) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        request_ = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    }
    ~Poll() { ::close(fd_); }
    Poll(const Poll&) = delete;
    Poll& operator=(const Poll&) = delete;
    // True once the server has answered and closed.
    bool done() {
        if (!sent_) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 0) <= 0) return false;
            sent_ = ::send(fd_, request_.data(), request_.size(), MSG_NOSIGNAL) == ssize_t(request_.size());
            if (!sent_) return true;
        }
        char chunk[16384];
        for (;;) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n == 0) return true;
            if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
            if (!ok_) ok_ = std::strncmp(chunk, "HTTP/1.1 200", 12) == 0;
        }
    }
    bool ok() const { return ok_; }

private:
    int fd_ = -1;
    std::string request_;
    bool sent_ = false;
    bool ok_ = false;
};

long statusField(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0) return std::atol(line.c_str() + n + 1);
    return 0;
}

int descriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n - 1;  // the listing's own
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// Resident megabytes per minute: least-squares slope, in MB per hour.
double slopePerHour(const std::vector<double>& minutes, const std::vector<double>& mb) {
    const double n = double(minutes.size());
    if (n < 2) return 0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < minutes.size(); ++i) {
        sx += minutes[i];
        sy += mb[i];
        sxx += minutes[i] * minutes[i];
        sxy += minutes[i] * mb[i];
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d * 60.0;
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 30;
    int width = 1280, height = 720;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0) minutes = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--size") == 0) std::sscanf(argv[++i], "%dx%d", &width, &height);
    }
    ::setenv("XDG_DATA_HOME", (folder() / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder() / "config").c_str(), 1);

    bench::AppHost host;
    AppEnvironment env = host.environment(true);
    ServerLinkOptions links;
    links.bindAddress = "127.0.0.1";
    addServerLinks(env, std::move(links));
    host.app = std::make_unique<AppState>(std::move(env));
    AppState& app = *host.app;
    host.cutsOn(width, height);
    app.masterTransition = AppTransition::fade;
    app.transitionDuration = 0.3;
    AppSettings settings = app.settings();
    settings.remoteControlEnabled = true;
    settings.remoteControlPort = 0;
    settings.remoteControlPassword = kPassword;
    app.setSettings(settings);

    auto add = [&](const fs::path& path, LayerId layer) {
        MediaItem m = app.library.add({path.string()}).at(0);
        app.library.setMeta(m.id, [layer](MediaItem& x) { x.layer = layer; });
        return m.id;
    };
    auto playlist = [&](const std::string& name, const std::vector<std::string>& ids, auto setup) {
        Group g = app.library.createGroup(name);
        for (const auto& id : ids) app.library.addToGroup(g.id, id);
        for (const Group& x : app.library.groups())
            if (x.id == g.id) g = x;
        g.loopPlaylist = true;
        setup(g);
        app.library.updateGroup(g);
        return g;
    };
    const std::vector<std::string> videos = {
        add(bench::testClip(folder() / "v1.mp4", "red", width, height), LayerId::media),
        add(bench::testClip(folder() / "v2.mp4", "blue", width, height), LayerId::media),
        add(bench::testClip(folder() / "v3.mp4", "green", width, height), LayerId::media)};
    const std::vector<std::string> backgrounds = {add(still("b1.png", "navy", width, height), LayerId::background),
                                                  add(still("b2.jpg", "maroon", width, height), LayerId::background),
                                                  add(still("b3.png", "olive", width, height), LayerId::background)};
    const std::vector<std::string> overlays = {
        add(still("o1.png", "yellow", width / 4, height / 4), LayerId::overlay),
        add(bench::testClip(folder() / "o2.mp4", "white", width / 4, height / 4), LayerId::overlay),
        add(still("o3.jpg", "cyan", width / 4, height / 4), LayerId::overlay)};
    const std::vector<std::string> tones = {add(tone("t1.wav", 330), LayerId::audio),
                                            add(tone("t2.wav", 440), LayerId::audio)};
    playlist("Videos", videos, [](Group& g) { g.advanceOnEnd = true; });
    playlist("Backgrounds", backgrounds, [](Group& g) { g.advanceSeconds = 7; });
    playlist("Overlays", overlays, [](Group& g) {
        g.advanceSeconds = 5;
        g.advanceOnEnd = true;
    });
    playlist("Tones", tones, [](Group& g) { g.advanceOnEnd = true; });

    app.start();
    bench::runUntil(host.q, [&] { return app.serverInfo && app.controlServerInfo(); });
    const auto port = std::uint16_t(app.controlServerInfo()->port);
    for (const auto& id : {backgrounds[0], videos[0], overlays[0], tones[0]}) app.trigger(*app.library.item(id), true);

    using Clock = std::chrono::steady_clock;
    std::vector<double> intervals;
    std::optional<Clock::time_point> lastFrame;
    app.previewRenderer().setCompositeConsumer("soak", [&](const GpuRenderTarget&, int) {
        const auto now = Clock::now();
        if (lastFrame) intervals.push_back(std::chrono::duration<double, std::milli>(now - *lastFrame).count());
        lastFrame = now;
    });

    const auto t0 = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
    std::list<Poll> polls;
    int pollsDone = 0, pollsFailed = 0, takes = 0;
    double nextPoll = 0, nextTake = 20, nextReport = 60;
    std::vector<double> at, rss;
    std::printf("minute  rss_MB  in_use_MB  threads  fds  frames  interval_p50_ms  p99_ms  max_ms  polls  takes\n");
    std::fflush(stdout);
    bench::runUntil(host.q, [&] {
        const double t = elapsed();
        for (auto it = polls.begin(); it != polls.end();) {
            if (!it->done()) {
                ++it;
                continue;
            }
            ++pollsDone;
            if (!it->ok()) ++pollsFailed;
            it = polls.erase(it);
        }
        if (t >= nextPoll) {
            nextPoll += 0.5;
            polls.emplace_back(port, std::string("/api/state?k=") + kPassword);
        }
        if (t >= nextTake) {
            nextTake += 20;
            // The remote takes the next video by its place in the first playlist, as an operator would.
            polls.emplace_back(port, "/api/trigger/index/" + std::to_string(1 + takes++ % 3) + "?k=" + kPassword);
        }
        if (t >= nextReport) {
            nextReport += 60;
            const struct mallinfo2 mi = ::mallinfo2();
            const double mb = double(statusField("VmRSS:")) / 1024.0;
            const double minute = std::round(t / 60);
            at.push_back(minute);
            rss.push_back(mb);
            std::printf("%6.0f  %6.1f  %9.1f  %7ld  %3d  %6zu  %15.2f  %6.2f  %6.2f  %5d  %5d\n", minute, mb,
                        double(mi.uordblks + mi.hblkhd) / 1048576.0, statusField("Threads:"), descriptors(),
                        intervals.size(), percentile(intervals, 0.5), percentile(intervals, 0.99),
                        percentile(intervals, 1.0), pollsDone, takes);
            std::fflush(stdout);
            intervals.clear();
        }
        return t >= minutes * 60;
    });
    app.previewRenderer().setCompositeConsumer("soak", std::nullopt);

    std::vector<double> lateAt, lateRss;
    for (std::size_t i = 0; i < at.size(); ++i)
        if (at[i] > 5) {
            lateAt.push_back(at[i]);
            lateRss.push_back(rss[i]);
        }
    std::printf("resident: first %.1f MB, last %.1f MB, peak %.1f MB; slope after minute 5: %.1f MB/h; "
                "polls %d (%d failed)\n",
                rss.empty() ? 0 : rss.front(), rss.empty() ? 0 : rss.back(),
                rss.empty() ? 0 : *std::max_element(rss.begin(), rss.end()), slopePerHour(lateAt, lateRss),
                pollsDone, pollsFailed);
    host.app.reset();
    std::error_code ec;
    fs::remove_all(folder(), ec);
    return 0;
}
