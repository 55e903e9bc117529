// A cold take of a 1080p60 H.264 clip through the stage renderer on the headless GL context: from the
// program state reaching the renderer to the first composed frame that shows the clip, with no warmed
// asset and no prepared slot. Beside it, in the same run, the ffmpeg CLI decoding just the first frame
// of the same file, as the yardstick of what opening and decoding that file costs here.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "BenchGl.hpp"
#include "Engine/ProgramStore.hpp"
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

struct Stage {
    LoopQueue q;
    ScopedMainQueue scope{q};
    std::unique_ptr<NativeStageRenderer> r;
    ProgramStore store{StageConfig{1920, 1080, 60, "transparent"}};
    std::map<std::string, MediaItem> items;

    Stage() {
        bench::glContext().makeCurrent();
        RendererOptions options;
        options.frameClock = nullptr;  // ticked by hand every millisecond: no frame-interval rounding
        options.audioOutput = media::AudioOutput::createNull(true);
        r = NativeStageRenderer::create(bench::glContext(), nullptr, std::move(options));
        r->resolvePath = [this](const std::string& id) -> std::optional<std::string> {
            auto it = items.find(id);
            return it == items.end() ? std::nullopt : std::optional<std::string>(it->second.path);
        };
        store.onChange = [this](const ProgramState& s) { r->apply(s); };
        for (int n = 0; n < 2; ++n) {
            MediaItem m;
            m.id = "clip" + std::to_string(n);
            m.name = m.id;
            m.path = clip(n).string();
            items[m.id] = m;
        }
    }
    // Ticks the renderer every millisecond until `pred` holds.
    void runUntil(const std::function<bool()>& pred) {
        std::function<void()> step = [&] {
            r->tick(appClock().monotonic());
            if (pred())
                q.quit();
            else
                q.postAfter(0.001, step);
        };
        q.post(step);
        q.run();
    }
};

void BM_ColdTake1080p60(benchmark::State& state) {
    Stage s;
    auto* host = s.r->host(LayerId::media);
    std::string showing;
    bool shown = false;
    s.r->setCompositeConsumer("probe", [&](const GpuRenderTarget&, int) {
        const double now = appClock().monotonic();
        for (int i = 0; i < 2; ++i) {
            const auto& slot = host->slot(i);
            if (slot.cue && slot.cue->cueId == showing && slot.media && slot.media->texture &&
                slot.visual.opacity.value(now) == 1)
                shown = true;
        }
    });
    int n = 0;
    double worst = 0;
    for (auto _ : state) {
        const auto& item = s.items[n++ % 2 ? "clip1" : "clip0"];
        shown = false;
        const auto t0 = std::chrono::steady_clock::now();
        showing = s.store.trigger(item, {.transitionType = TransitionType::cut, .durationMs = 0}).cueId;
        s.runUntil([&] { return shown; });
        const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        worst = std::max(worst, spent);
        state.SetIterationTime(spent);
    }
    state.counters["worst_ms"] = worst * 1000;
}
BENCHMARK(BM_ColdTake1080p60)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);

// The yardstick: the ffmpeg CLI opening the same file and decoding its first picture.
void BM_FfmpegFirstFrame1080p60(benchmark::State& state) {
    const std::string cmd = "ffmpeg -nostdin -v error -i '" + clip(0).string() + "' -frames:v 1 -f null -";
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("ffmpeg failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}
BENCHMARK(BM_FfmpegFirstFrame1080p60)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(folder());
    return 0;
}
