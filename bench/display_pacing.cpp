// Frame pacing of a display output window: the frame loop is paced by the window's presenter (one swap
// per vertical blank) and composes a 1920x1080 stage at 60 fps for 600 frames, shown full screen on a
// 1280x720 screen. Reports the intervals between composed frames, the late ones (over 1.5 periods) and
// how many frames the window showed. Runs on $DISPLAY's second screen, or on a private two-screen Xvfb.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "Platform/Clock.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/NativeStageRenderer.hpp"
#include "Render/VsyncFrameClock.hpp"
#include "Ui/Qt/DisplayOutputWindow.hpp"
#include "Ui/Qt/QtGpu.hpp"
#include "Ui/Qt/QtMainQueue.hpp"
#include "Ui/Qt/QtScreens.hpp"
#include "XvfbServer.hpp"

using namespace ombry;

namespace {

constexpr int frames = 600;
constexpr double rate = 60;

void BM_DisplayWindowPacing(benchmark::State& state) {
    std::unique_ptr<test::XvfbServer> xvfb;
    if (!std::getenv("DISPLAY")) xvfb = std::make_unique<test::XvfbServer>();
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ui::prepareApplicationGl();
    int argc = 1;
    char name[] = "bench_display_pacing";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ui::QtMainQueue queue;
    ScopedMainQueue scope(queue);
    auto made = ui::QtGpuContext::create();
    if (!made.context) {
        state.SkipWithError(made.error.c_str());
        return;
    }
    auto& context = static_cast<ui::QtGpuContext&>(*made.context);
    auto renderer = NativeStageRenderer::create(context, nullptr, {.frameClock = nullptr, .audioOutput = media::AudioOutput::createNull(false)});
    ProgramState program;
    program.rev = 1;
    program.stage = {1920, 1080, int64_t(rate), "#1E90FF"};
    renderer->apply(program);

    ui::QtScreenProvider screens;
    DisplayOutputManager manager(screens);
    auto clock = std::make_unique<VsyncFrameClock>(rate);
    VsyncFrameClock* pacing = clock.get();
    manager.setWindowFactory(std::make_unique<ui::QtDisplayWindowFactory>(*renderer, context, screens, pacing->signal()));
    const auto displays = manager.displays();
    manager.open(displays.back().id);
    if (!manager.isOpen(displays.back().id)) {
        state.SkipWithError("the display window cannot be opened");
        return;
    }

    std::vector<double> times;
    times.reserve(frames + 1);
    renderer->setCompositeConsumer("bench", [&](const GpuRenderTarget&, int) {
        times.push_back(appClock().monotonic());
        if (times.size() > size_t(frames)) app.quit();
    });
    uint64_t vsyncTicks = 0, timerTicks = 0;
    for (auto _ : state) {
        renderer->setFrameClock(std::move(clock));
        app.exec();
        vsyncTicks = pacing->vsyncTicks();
        timerTicks = pacing->timerTicks();
        renderer->setFrameClock(nullptr);
    }
    manager.close(displays.back().id);

    std::vector<double> intervals;
    for (size_t i = 1; i < times.size(); ++i) intervals.push_back((times[i] - times[i - 1]) * 1000);
    std::vector<double> sorted = intervals;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double v : intervals) sum += v;
    const double period = 1000 / rate;
    const auto late = std::count_if(intervals.begin(), intervals.end(), [&](double v) { return v > 1.5 * period; });
    state.counters["frames"] = double(intervals.size());
    state.counters["mean_ms"] = sum / double(intervals.size());
    state.counters["p50_ms"] = sorted[sorted.size() / 2];
    state.counters["p99_ms"] = sorted[sorted.size() * 99 / 100];
    state.counters["max_ms"] = sorted.back();
    state.counters["late"] = double(late);
    state.counters["vsync_ticks"] = double(vsyncTicks);
    state.counters["timer_ticks"] = double(timerTicks);
}
BENCHMARK(BM_DisplayWindowPacing)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
