// A cold take of a 1080p60 H.264 clip through the stage renderer on the headless GL context: from the
// program state reaching the renderer to the first composed frame that shows the clip, with no warmed
// asset and no prepared slot. Beside it, in the same run, the ffmpeg CLI decoding just the first frame
// of the same file: the yardstick of what opening and decoding that file costs on this machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "BenchStage.hpp"
#include "Platform/Clock.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/NativeLayerHost.hpp"
#include "Render/NativeStageRenderer.hpp"

using namespace ombry;

namespace {

const std::filesystem::path& folder() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("ombry-bench-cold-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

// Two clips, so that each take opens a file the previous take did not hold open.
std::filesystem::path clip(int n) {
    const auto out = folder() / ("clip" + std::to_string(n) + ".mp4");
    if (!std::filesystem::exists(out)) {
        const std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=60:d=4 "
                                "-f lavfi -i sine=f=" + std::to_string(440 + 110 * n) + ":r=48000:d=4 "
                                "-c:v libx264 -preset veryfast -g 60 -pix_fmt yuv420p -c:a aac -shortest '" +
                                out.string() + "'";
        if (std::system(cmd.c_str()) != 0) std::exit(1);
    }
    return out;
}

// Composes at 60 Hz, as on air.
struct Stage : bench::BenchStage {
    Stage() : BenchStage(true) {
        for (int n = 0; n < 2; ++n) add("clip" + std::to_string(n), MediaKind::video, clip(n));
    }
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double msSince(std::chrono::steady_clock::time_point t0, std::chrono::steady_clock::time_point t1) {
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// A run of the ffmpeg CLI, timed from outside the process.
double ffmpegMs(const std::string& args) {
    const std::string cmd = "ffmpeg -nostdin -v error " + args;
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    return msSince(t0, std::chrono::steady_clock::now());
}

// Each iteration: one cold take (alternating between the two clips), then the ffmpeg CLI on the same file,
// so that both see the same load on the machine. Counters (medians): take_ms, from the take to the first
// composed frame showing the clip; load_ms, from the take to the clip loaded and prerolled in the host's
// incoming slot; ffmpeg_ms, the CLI decoding the first frame; ffmpeg_start_ms, the CLI only starting (of
// ffmpeg_ms, what is process start-up); and take_ms / ffmpeg_ms.
void BM_ColdTake1080p60(benchmark::State& state) {
    Stage s;
    auto* host = s.r->host(LayerId::media);
    std::string showing;
    using Time = std::chrono::steady_clock::time_point;
    std::optional<Time> shownAt, loadedAt;
    s.r->setCompositeConsumer("probe", [&](const GpuRenderTarget&, int) {
        if (!shownAt && s.showsFully(showing, appClock().monotonic())) shownAt = std::chrono::steady_clock::now();
    });
    std::vector<double> takes, loads, ffmpeg, ffmpegStart;
    int n = 0;
    for (auto _ : state) {
        const auto& item = s.items[n++ % 2 ? "clip1" : "clip0"];
        shownAt.reset();
        loadedAt.reset();
        const Time t0 = std::chrono::steady_clock::now();
        showing = s.store.trigger(item, {.transitionType = TransitionType::cut, .durationMs = 0}).cueId;
        // The take's work after its first frame (releasing the outgoing clip) is not timed, but it ends
        // before the next take, as between an operator's takes.
        s.runUntil([&] {
            for (int i = 0; i < 2 && !loadedAt; ++i)
                if (host->slot(i).cue && host->slot(i).cue->cueId == showing && host->slot(i).media)
                    loadedAt = std::chrono::steady_clock::now();
            return shownAt && host->current() && host->current()->cueId == showing && host->idle();
        });
        takes.push_back(msSince(t0, *shownAt));
        loads.push_back(msSince(t0, loadedAt.value_or(*shownAt)));
        state.SetIterationTime(takes.back() / 1000.0);
        state.PauseTiming();
        ffmpeg.push_back(ffmpegMs("-i '" + item.path + "' -frames:v 1 -f null -"));
        ffmpegStart.push_back(ffmpegMs("-version > /dev/null"));
        state.ResumeTiming();
    }
    state.counters["take_ms"] = median(takes);
    state.counters["load_ms"] = median(loads);
    state.counters["ffmpeg_ms"] = median(ffmpeg);
    state.counters["ffmpeg_start_ms"] = median(ffmpegStart);
    state.counters["take_per_ffmpeg"] = median(ffmpeg) > 0 ? median(takes) / median(ffmpeg) : 0;
    state.counters["worst_take_ms"] = *std::max_element(takes.begin(), takes.end());
}
BENCHMARK(BM_ColdTake1080p60)->UseManualTime()->Iterations(16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(folder());
    return 0;
}
