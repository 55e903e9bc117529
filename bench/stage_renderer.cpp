// The stage renderer in real time on the headless GL context (llvmpipe here, a real GPU in the field):
//  - take latency: from the program state reaching the renderer to the first composed frame showing the
//    clip, for a clip prepared ahead and for one loaded by the take; in 60 Hz frame intervals and in
//    renderer ticks, at 1080p and at a light 640x360 stage whose ticks fit the frame budget even on
//    software GL, so that the pipeline's own delay shows apart from the GPU's speed;
//  - the cost of one frame (tick) with three 1080p H.264 layers playing, against the 16.7 ms budget.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "BenchStage.hpp"
#include "Platform/Clock.hpp"
#include "Render/NativeLayerHost.hpp"

using namespace ombry;

namespace {

constexpr double kFrame = 1.0 / 60;

std::filesystem::path clip(const std::string& name, const std::string& colour, int width, int height) {
    const auto dir = std::filesystem::temp_directory_path() / "ombry-bench-stage";
    std::filesystem::create_directories(dir);
    const auto out = dir / (std::to_string(height) + "p-" + name);
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (!std::filesystem::exists(out))
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=" + size + ":r=30:d=6 -vf "
                     "\"drawbox=c=" + colour + ":t=fill:w=iw/5:h=ih/4\" -c:v libx264 -preset veryfast -g 30 "
                     "-pix_fmt yuv420p '" + out.string() + "'").c_str());
    return out;
}

struct Stage : bench::BenchStage {
    explicit Stage(bool clock, int width = 1920, int height = 1080) : BenchStage(clock, width, height) {
        for (auto [id, colour] : {std::pair{"a", "red"}, {"b", "blue"}, {"c", "green"}})
            add(id, MediaKind::video, clip(std::string(id) + ".mp4", colour, width, height));
    }
    bool onAir(LayerId layer, const std::string& cueId) {
        auto* h = r->host(layer);
        return h->current() && h->current()->cueId == cueId && h->idle();
    }
};

// From the store's take to the first composed frame in which the new clip is drawn fully: in 60 Hz
// intervals of real time and in renderer ticks (the first tick after the take counts 1).
void takeLatency(benchmark::State& state, bool prepared, int width, int height) {
    Stage s(true, width, height);
    std::string showing;
    std::optional<double> takenAt, shownAt;
    uint64_t takenTick = 0, shownTick = 0;
    auto* host = s.r->host(LayerId::media);
    s.r->setCompositeConsumer("probe", [&](const GpuRenderTarget&, int) {
        if (!takenAt || shownAt) return;
        const double now = appClock().monotonic();
        if (s.showsFully(showing, now)) {
            shownAt = now;
            shownTick = s.r->framesComposed();
        }
    });
    int n = 0;
    double frames = 0, ticks = 0, worstTicks = 0;
    for (auto _ : state) {
        const auto& item = s.items[n++ % 2 ? "b" : "a"];
        if (prepared) {
            s.r->prepare(LayerId::media, item.id, MediaKind::video, std::nullopt, std::nullopt);
            s.runUntil([&] { return host->prepared() != nullptr; });
        }
        takenAt.reset();
        shownAt.reset();
        auto cue = s.store.trigger(item, {.transitionType = TransitionType::cut, .durationMs = 0});
        showing = cue.cueId;
        takenAt = appClock().monotonic();
        takenTick = s.r->framesComposed();
        s.runUntil([&] { return shownAt.has_value() && s.onAir(LayerId::media, cue.cueId); });
        frames += (*shownAt - *takenAt) / kFrame;
        const double t = double(shownTick - takenTick);
        ticks += t;
        worstTicks = std::max(worstTicks, t);
        state.SetIterationTime(*shownAt - *takenAt);
    }
    state.counters["frames60"] = benchmark::Counter(frames / double(std::max(n, 1)));
    state.counters["ticks"] = benchmark::Counter(ticks / double(std::max(n, 1)));
    state.counters["worst_ticks"] = benchmark::Counter(worstTicks);
    // Frames the compositor skipped because the GPU was still reading every buffer: explains outliers.
    state.counters["uploads_skipped"] = double(s.r->compositor().uploadsSkipped());
}

void BM_TakeLatencyPrepared1080p(benchmark::State& state) { takeLatency(state, true, 1920, 1080); }
void BM_TakeLatencyCold1080p(benchmark::State& state) { takeLatency(state, false, 1920, 1080); }
void BM_TakeLatencyPrepared360p(benchmark::State& state) { takeLatency(state, true, 640, 360); }
void BM_TakeLatencyCold360p(benchmark::State& state) { takeLatency(state, false, 640, 360); }
BENCHMARK(BM_TakeLatencyPrepared1080p)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TakeLatencyCold1080p)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TakeLatencyPrepared360p)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TakeLatencyCold360p)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);

// One composed frame with three playing 1080p layers: frame pulls, YUV uploads, the composition and the
// consumers' hand-off. The budget is one 60 fps interval.
void BM_TickThreeLayers1080p(benchmark::State& state) {
    Stage s(false);
    std::vector<std::pair<LayerId, std::string>> cues;
    for (auto [layer, id] : {std::pair{LayerId::background, "a"}, {LayerId::media, "b"}, {LayerId::overlay, "c"}})
        cues.emplace_back(layer, s.store.trigger(s.items[id], {.layer = layer, .loop = true,
                                                               .transitionType = TransitionType::cut})
                                     .cueId);
    // The takes need ticks to see their pictures arrive; once on air only the measured ticks run, or the
    // pacing ticks would compose first and leave the measured ones nothing to do.
    bool pacing = true;
    std::function<void()> pace = [&] {
        if (!pacing) return;
        s.r->tick(appClock().monotonic());
        s.q.postAfter(kFrame, pace);
    };
    s.q.post(pace);
    s.runUntil([&] {
        for (auto& [layer, cue] : cues)
            if (!s.onAir(layer, cue)) return false;
        return true;
    });
    pacing = false;
    double worst = 0;
    for (auto _ : state) {
        double spent = 0;
        s.q.postAfter(kFrame, [&] {
            const auto t0 = std::chrono::steady_clock::now();
            s.r->tick(appClock().monotonic());
            spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            s.q.quit();
        });
        s.q.run();
        worst = std::max(worst, spent);
        state.SetIterationTime(spent);
    }
    state.counters["worst_ms"] = worst * 1000;
    state.counters["budget_ms"] = kFrame * 1000;
    state.counters["composed"] = double(s.r->framesComposed());
    // Video frames not shown because every plane set was still being read by the GPU.
    state.counters["uploads_skipped"] = double(s.r->compositor().uploadsSkipped());
    // Ticks that composed nothing because the GPU was still on the frame before the last.
    state.counters["frames_dropped"] = double(s.r->compositor().framesDropped());
}
BENCHMARK(BM_TickThreeLayers1080p)->UseManualTime()->Iterations(240)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
