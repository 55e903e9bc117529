// A take of a prepared clip through the application state, as the operator's click, the keyboard and the
// remotes make it: from AppState::trigger to the first composed frame that shows the clip fully, in 60 Hz
// frame intervals and in milliseconds. Beside it, in the same run and on the same renderer, the
// renderer-only figure: the program store's take applied straight to the renderer, without the state's
// choices and wiring. Takes of the two kinds alternate, so that both see the same load on the machine,
// and each starts right after a composed frame; the difference of their medians is what the application
// state adds (the goal: under 1 ms).
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "App/AppState.hpp"
#include "BenchApp.hpp"
#include "BenchStage.hpp"
#include "Platform/Clock.hpp"
#include "Render/FrameClock.hpp"
#include "Render/NativeLayerHost.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

constexpr double kFrameMs = 1000.0 / 60;

const fs::path& folder() {
    static const fs::path dir = bench::makeFolder("ombry-bench-app-");
    return dir;
}

fs::path clip(const std::string& name, const std::string& colour, int width, int height) {
    return bench::testClip(folder() / (std::to_string(height) + "p-" + name + ".mp4"), colour, width, height);
}

// The application state over a renderer paced at 60 Hz on the benchmark's GL context, past its start-up
// (so that selecting a clip prepares it), taking cuts.
struct AppStage : bench::AppHost {
    AppStage(int width, int height) {
        app = std::make_unique<AppState>(environment(true));
        cutsOn(width, height);
        app->started = true;
    }
    NativeStageRenderer& renderer() { return app->previewRenderer(); }
    NativeLayerHost& host() { return *renderer().host(LayerId::media); }
    bool preparedReady() { return host().prepared() && host().prepared()->texture && host().loadsInFlight() == 0; }
    bool onAir(const std::string& cueId) { return host().current() && host().current()->cueId == cueId && host().idle(); }
};

using bench::median;
using bench::msBetween;
using bench::Time;

// Each iteration takes one prepared clip through the application state and then one straight through the
// renderer, each a different clip from the one on air. Counters (medians): app_ms and app_frames, from the
// call of AppState::trigger to the first composed frame showing the clip; renderer_ms and renderer_frames,
// from the program store's take to that frame; added_ms, app_ms − renderer_ms; trigger_call_ms and
// store_call_ms, the time inside those two calls.
void takes(benchmark::State& state, int width, int height) {
    AppStage s(width, height);
    // Three clips in turn: each take is of a clip that is neither on air nor the last one selected.
    std::vector<MediaItem> clips;
    for (auto [name, colour] : {std::pair{"a", "red"}, {"b", "blue"}, {"c", "green"}})
        clips.push_back(s.app->library.add({clip(name, colour, width, height).string()}).at(0));
    std::string showing;
    std::optional<Time> shownAt;
    // Each take starts right after a composed frame, so that both kinds meet the frame loop in the same
    // phase and the difference of their latencies is not the luck of where a frame fell.
    std::function<void()> takeAfterFrame;
    s.renderer().setCompositeConsumer("probe", [&](const GpuRenderTarget&, int) {
        if (!shownAt && !showing.empty() && bench::showsFully(s.renderer(), showing, appClock().monotonic()))
            shownAt = std::chrono::steady_clock::now();
        if (takeAfterFrame) s.q.post(std::exchange(takeAfterFrame, nullptr));
    });
    const auto wiring = s.app->program.onChange;
    std::vector<double> app, renderer, triggerCall, storeCall;
    int n = 0;
    auto take = [&](const MediaItem& item, bool throughApp) {
        if (throughApp) {
            s.app->setSelectedItemId(item.id);  // the operator's selection prepares the clip
        } else {
            s.app->program.onChange = [&](const ProgramState& st) { s.renderer().apply(st); };
            s.renderer().prepare(LayerId::media, item.id, item.kind, std::nullopt, std::nullopt);
        }
        bench::runUntil(s.q, [&] { return s.preparedReady(); });
        showing.clear();
        shownAt.reset();
        Time t0, t1;
        takeAfterFrame = [&] {
            t0 = std::chrono::steady_clock::now();
            if (throughApp)
                s.app->trigger(item, false);
            else
                s.app->program.trigger(item, {.transitionType = TransitionType::cut, .durationMs = 0});
            t1 = std::chrono::steady_clock::now();
            showing = s.app->program.state().layers[LayerId::media].active->cueId;
        };
        bench::runUntil(s.q, [&] { return shownAt && s.onAir(showing); });
        s.app->program.onChange = wiring;
        (throughApp ? app : renderer).push_back(msBetween(t0, *shownAt));
        (throughApp ? triggerCall : storeCall).push_back(msBetween(t0, t1));
    };
    for (auto _ : state) {
        take(clips[n++ % 3], true);
        take(clips[n++ % 3], false);
        state.SetIterationTime(app.back() / 1000.0);
    }
    state.counters["app_ms"] = median(app);
    state.counters["app_frames"] = median(app) / kFrameMs;
    state.counters["renderer_ms"] = median(renderer);
    state.counters["renderer_frames"] = median(renderer) / kFrameMs;
    state.counters["added_ms"] = median(app) - median(renderer);
    state.counters["trigger_call_ms"] = median(triggerCall);
    state.counters["store_call_ms"] = median(storeCall);
}

void BM_AppTriggerPrepared1080p(benchmark::State& state) { takes(state, 1920, 1080); }
void BM_AppTriggerPrepared360p(benchmark::State& state) { takes(state, 640, 360); }
BENCHMARK(BM_AppTriggerPrepared1080p)->UseManualTime()->Iterations(24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppTriggerPrepared360p)->UseManualTime()->Iterations(24)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The state's support folder and settings stay in the benchmark's own folder.
    return bench::runInFolder(argc, argv, folder());
}
