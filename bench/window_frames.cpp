// What the main window costs the frame loop, which shares its thread: the worst interval between composed
// frames while the window is shown, resized every 100 ms and its preview runs, then shown without resizing,
// beside the same figure with the window hidden (goal: the window adds less than one frame interval). A
// private X server, llvmpipe; a 1280x720 H.264 clip live on a 1920x1080 stage.
//
//     build/bench/bench_window_frames
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "BenchApp.hpp"
#include "Render/FrameClock.hpp"
#include "Ui/Qt/QtGpu.hpp"
#include "Ui/Shell/Application.hpp"
#include "Ui/Shell/Theme.hpp"
#include "XvfbServer.hpp"

namespace fs = std::filesystem;
using namespace ombry;

namespace {

// A 60 Hz clock that notes the real time of every tick in which the renderer composed a frame.
class RecordingClock final : public FrameClock {
public:
    RecordingClock(NativeStageRenderer& r, std::vector<double>& intervals) : renderer_(r), intervals_(intervals) {}
    void start(std::function<void(double)> tick) override {
        inner_.start([this, tick = std::move(tick)](double now) {
            const auto before = renderer_.framesComposed();
            tick(now);
            if (renderer_.framesComposed() == before) return;
            const auto t = std::chrono::steady_clock::now();
            if (last_) intervals_.push_back(std::chrono::duration<double, std::milli>(t - *last_).count());
            last_ = t;
        });
    }
    void stop() override { inner_.stop(); }

private:
    NativeStageRenderer& renderer_;
    std::vector<double>& intervals_;
    TimerFrameClock inner_{60};
    std::optional<std::chrono::steady_clock::time_point> last_;
};

struct Figures {
    double worst = 0, p99 = 0;
    std::size_t frames = 0;
};

Figures figures(std::vector<double> v) {
    Figures f;
    if (v.empty()) return f;
    std::sort(v.begin(), v.end());
    f.worst = v.back();
    f.p99 = v[std::min(v.size() - 1, std::size_t(0.99 * double(v.size())))];
    f.frames = v.size() + 1;
    return f;
}

void runFor(double seconds, const std::function<void()>& every100ms) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, every100ms);
    timer.start(100);
    QTimer::singleShot(int(seconds * 1000), qApp, [] { QCoreApplication::exit(0); });
    QApplication::exec();
}

void BM_FrameIntervalsWithAndWithoutTheWindow(benchmark::State& state) {
    const fs::path dir = bench::makeFolder("ombry-bench-frames-");
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    test::XvfbServer xvfb;
    if (!xvfb.running()) return state.SkipWithError(xvfb.error().c_str());
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    const fs::path clip = bench::testClip(dir / "clip.mp4", "red", 1280, 720);

    ui::prepareApplicationGl();
    static int argc = 1;
    static char name[] = "bench_window_frames";
    static char* argv[] = {name, nullptr};
    QApplication qt(argc, argv);
    ui::theme::apply(qt);
    for (auto _ : state) {
        ui::Application app;
        std::vector<double> intervals;
        AppState& s = app.state();
        s.previewRenderer().setFrameClock(std::make_unique<RecordingClock>(s.previewRenderer(), intervals));
        s.masterTransition = AppTransition::cut;
        const auto added = s.library.add({clip.string()});
        app.launch();
        if (!added.empty()) s.trigger(added.front(), false);
        // Let the clip open and the window settle, then measure.
        runFor(1.0, [] {});
        intervals.clear();
        bool wide = false;
        runFor(4.0, [&] {
            wide = !wide;
            app.window().resize(wide ? 1600 : 1300, wide ? 1000 : 800);
        });
        const Figures shown = figures(intervals);
        intervals.clear();
        runFor(4.0, [] {});
        const Figures still = figures(intervals);
        app.window().hide();
        runFor(0.5, [] {});
        intervals.clear();
        runFor(4.0, [] {});
        const Figures hidden = figures(intervals);
        state.counters["worst_ms_window"] = shown.worst;
        state.counters["p99_ms_window"] = shown.p99;
        state.counters["frames_window"] = double(shown.frames);
        state.counters["worst_ms_window_still"] = still.worst;
        state.counters["frames_window_still"] = double(still.frames);
        state.counters["worst_ms_hidden"] = hidden.worst;
        state.counters["p99_ms_hidden"] = hidden.p99;
        state.counters["frames_hidden"] = double(hidden.frames);
        s.program.clearAll();
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_FrameIntervalsWithAndWithoutTheWindow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
