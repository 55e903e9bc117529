// What reaches the display window while an operator plays a clip with the installed application, as in
// the operator's acceptance run: the intervals between new composed frames on the display window of the
// second screen (worst, 99th percentile) and the frames it showed again while the clip played, with the
// main window shown and with it minimised (goal: the window adds no interval over two frame periods).
// The installed application on a private two-screen X server and a private sound server, its display
// window's frame log on (OMBRY_FRAME_LOG), the acceptance run's 12 s 640x360 H.264 clip with sound taken
// over the remote control. There is no window manager on the private server: minimising is the unmap a
// window manager does.
//
//     build/bench/bench_operator_frames
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Audio/PulseServer.hpp"
#include "Engine/Library/ProjectDoc.hpp"
#include "Engine/Library/Store.hpp"
#include "InstalledApp.hpp"
#include "Engine/Servers/NetTestSupport.hpp"
#include "XvfbServer.hpp"
#include "support/Processes.hpp"
#include "support/TestEnv.hpp"

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace ombry;

namespace {

constexpr const char* kClipId = "0C1A2B3C-4D5E-4F60-8172-839405A6B7C8";

struct Swap {
    double at;
    unsigned long long serial;
};

struct Figures {
    double worstMs = 0, p99Ms = 0, periodMs = 0;
    int frames = 0, repeated = 0;
};

// The display window's swaps between `from` and `to` (monotonic seconds): intervals between swaps that
// showed a new composed frame, and the swaps that showed the one before again.
Figures figuresOf(const fs::path& log, double from, double to) {
    std::vector<Swap> swaps;
    std::ifstream in(log);
    for (Swap s; in >> s.at >> s.serial;)
        if (s.at >= from && s.at <= to && s.serial > 0) swaps.push_back(s);
    Figures f;
    std::vector<double> intervals, swapGaps;
    double lastNew = -1;
    for (std::size_t i = 0; i < swaps.size(); ++i) {
        if (i > 0) swapGaps.push_back(swaps[i].at - swaps[i - 1].at);
        if (i > 0 && swaps[i].serial == swaps[i - 1].serial) {
            ++f.repeated;
            continue;
        }
        if (lastNew >= 0) intervals.push_back((swaps[i].at - lastNew) * 1000);
        lastNew = swaps[i].at;
        ++f.frames;
    }
    if (intervals.empty()) return f;
    std::sort(intervals.begin(), intervals.end());
    std::sort(swapGaps.begin(), swapGaps.end());
    f.worstMs = intervals.back();
    f.p99Ms = intervals[std::min(intervals.size() - 1, std::size_t(double(intervals.size()) * 0.99))];
    f.periodMs = swapGaps[swapGaps.size() / 2] * 1000;
    return f;
}

double monotonicNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One run of the installed application: the clip played out once onto the second screen.
std::optional<Figures> playOnce(const test::XvfbServer& xvfb, const test::PulseServer& pulse, const fs::path& project,
                                bool minimised, std::string& error) {
    const fs::path frameLog = test::tempDir("frames") / "frames.log";
    test::InstalledApp app(xvfb.display(), {"PULSE_SERVER=" + pulse.address(), "OMBRY_FRAME_LOG=" + frameLog.string()});
    const int port = test::freePort();
    test::writeFile(app.home() / "config/Ombry/defaults.json", "{\"hasSeenOnboarding\": true}");
    test::writeFile(app.supportDir() / "settings.json",
                    Json{{"remoteControlEnabled", true}, {"remoteControlPort", port}, {"remoteControlPassword", "bench"}}
                        .dump());
    const auto api = [&](const std::string& path) {
        return test::shell("curl -s -m 5 'http://127.0.0.1:" + std::to_string(port) + path + "?k=bench'");
    };
    const auto media = [&] {
        const Json s = Json::parse(api("/api/state"), nullptr, false);
        return s.is_object() && s["layers"]["media"].is_object() ? s["layers"]["media"] : Json();
    };
    test::XClient screen0(xvfb.display() + ".0"), screen1(xvfb.display() + ".1");
    const auto xdo = [&](const std::string& args) { test::shell("DISPLAY=" + xvfb.display() + ".0 xdotool " + args); };

    const pid_t pid = app.start({project.string()});
    if (pid <= 0) return error = "the application did not start", std::nullopt;
    std::optional<test::XClient::Window> main;
    if (!test::waitFor([&] {
            auto ws = screen0.windows("Ombry");
            if (!ws.empty()) main = ws.front();
            return main && Json::parse(api("/api/state"), nullptr, false).is_object();
        }, 30))
        return error = "no window or no remote control", std::nullopt;
    // The program on the second screen, from the outputs in the sidebar.
    xdo("mousemove --sync 214 944 click 1");
    if (!test::waitFor([&] { return !screen1.windows("").empty(); }, 15))
        return error = "no display window", std::nullopt;
    if (minimised) {
        xdo("windowunmap --sync " + std::to_string(main->id));
        if (!test::waitFor([&] { return screen0.windows("Ombry").empty(); }, 10))
            return error = "the main window stayed", std::nullopt;
    }
    api(std::string("/api/trigger/id/") + kClipId);
    // From the first second of play to the last, with the clip playing.
    if (!test::waitFor([&] { return media().value("playing", false) && media().value("currentTime", 0.0) > 1; }, 20))
        return error = "the clip did not play", std::nullopt;
    const double from = monotonicNow();
    if (!test::waitFor([&] { return media().value("currentTime", 0.0) > 11; }, 30))
        return error = "the clip did not play to its end", std::nullopt;
    const double to = monotonicNow();
    Figures f = figuresOf(frameLog, from, to);
    if (f.frames == 0) return error = "the frame log is empty: " + app.logs(), std::nullopt;
    return f;
}

void BM_OperatorDisplayFrames(benchmark::State& state) {
    const bool minimised = state.range(0) == 1;
    test::XvfbServer xvfb;
    if (!xvfb.running()) return state.SkipWithError(xvfb.error().c_str());
    test::PulseServer pulse;
    if (!pulse.ok()) return state.SkipWithError(pulse.why().c_str());
    if (test::InstalledApp::prefix().empty()) return state.SkipWithError("the install failed");

    const fs::path dir = test::tempDir("media");
    const fs::path clip = dir / "opener.mp4";
    test::runProcess({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                      "testsrc2=s=640x360:r=30:d=12", "-f", "lavfi", "-i", "sine=f=440:d=12", "-c:v", "libx264",
                      "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", clip.string()});
    ProjectDoc doc = ProjectDoc::make("Show");
    MediaItem m;
    m.id = kClipId;
    m.name = "opener.mp4";
    m.kind = MediaKind::video;
    m.path = clip.string();
    m.order = 0;
    doc.media.push_back(m);
    const fs::path project = dir / "Show.ombry";
    Store::saveDoc(doc, project);

    Figures f;
    for (auto _ : state) {
        std::string error;
        const auto got = playOnce(xvfb, pulse, project, minimised, error);
        if (!got) return state.SkipWithError(error.c_str());
        f = *got;
    }
    state.counters["worst_ms"] = f.worstMs;
    state.counters["p99_ms"] = f.p99Ms;
    state.counters["repeated"] = f.repeated;
    state.counters["frames"] = f.frames;
    state.counters["period_ms"] = f.periodMs;
    std::printf("%-22s worst %6.1f ms  p99 %6.1f ms  repeated %4d of %4d frames  (swap period %.1f ms)\n",
                minimised ? "main window minimised" : "main window shown", f.worstMs, f.p99Ms, f.repeated,
                f.frames + f.repeated, f.periodMs);
}
BENCHMARK(BM_OperatorDisplayFrames)->ArgName("minimised")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(test::processRoot(), ec);
    return 0;
}
