// Main-thread time of the program column while four layers play: the application state with its real
// renderer composing a 1280x720 stage at 60 Hz (headless GL), the program panel (preview placeholder,
// meter, fader, four layer rows with transport) shown in a window on the offscreen platform, for 4 s of
// wall time; then the same run with the panel hidden. Reports the main thread's CPU time per second of
// each run, and their difference as the panel's share of a core.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>

#include <time.h>

#include "BenchApp.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Bridge/Preferences.hpp"
#include "Ui/Bridge/StateSignals.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Program/ProgramPanelView.hpp"
#include "Ui/Qt/QtMainQueue.hpp"

using namespace ombry;
using namespace ombry::bench;

namespace {

constexpr double runSeconds = 4;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_program_panel";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(argc, argv);
    return app;
}

// Main-thread CPU seconds per wall second while four layers play, with the panel shown or hidden.
double mainThreadLoad(bool panelShown) {
    QApplication& app = application();
    ui::QtMainQueue queue;
    ScopedMainQueue scope(queue);
    glContext().makeCurrent();
    NoScreens screens;
    NoPanels panels;
    MemoryClipboard clipboard;
    AppEnvironment env;
    env.screens = &screens;
    env.panels = &panels;
    env.clipboard = &clipboard;
    env.makeRenderer = [](MeterEngine* meters) {
        RendererOptions options;
        options.frameClock = std::make_unique<TimerFrameClock>(60);
        options.audioOutput = media::AudioOutput::createNull(true);
        return NativeStageRenderer::create(glContext(), meters, std::move(options));
    };
    auto state = std::make_unique<AppState>(std::move(env));
    state->program.setStage([](StageConfig& s) {
        s.width = 1280;
        s.height = 720;
    });
    state->masterTransition = AppTransition::cut;
    state->transitionDuration = 0;

    const auto dir = makeFolder("ombry-bench-panel-clips");
    const auto tone = dir / "tone.wav";
    if (!std::filesystem::exists(tone) &&
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 '" +
                     tone.string() + "'").c_str()) != 0)
        std::exit(1);
    const std::vector<std::pair<std::string, LayerId>> clips{
        {testClip(dir / "bg.mp4", "blue", 1280, 720).string(), LayerId::background},
        {testClip(dir / "media.mp4", "red", 1280, 720).string(), LayerId::media},
        {testClip(dir / "overlay.mp4", "green", 640, 360).string(), LayerId::overlay},
        {tone.string(), LayerId::audio}};

    MemoryDefaults defaults;
    ui::Preferences preferences(defaults);
    ui::ScriptedDialogs dialogs;
    ui::WindowRegistry windows;
    ui::FixedPointerState pointer;
    ui::StateSignals stateSignals(*state);
    ui::ViewContext context{*state, stateSignals, preferences, dialogs, windows, pointer, {}};
    QWidget window;
    window.resize(400, 900);
    auto* panel = new ui::ProgramPanelView(context, &window);
    panel->resize(400, 900);
    window.show();
    state->setUiVisible(true);

    for (const auto& [path, layer] : clips) {
        auto added = state->library.add({path});
        if (added.empty()) std::exit(1);
        state->library.setMeta(added[0].id, [layer = layer](MediaItem& m) {
            if (m.kind != MediaKind::audio) m.layer = layer;
            m.loop = true;
            m.endAction = EndAction::loop;
        });
        state->trigger(*state->library.item(added[0].id), false);
    }
    // Let the takes land, then measure.
    QTimer::singleShot(1000, &app, [&] { app.quit(); });
    app.exec();
    if (!panelShown) window.hide();
    const double cpu0 = threadCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    QTimer::singleShot(int(runSeconds * 1000), &app, [&] { app.quit(); });
    app.exec();
    const double cpu = threadCpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    if (state->program.liveLayers().size() != 4) std::fprintf(stderr, "only %zu layers live\n", state->program.liveLayers().size());
    window.hide();
    delete panel;
    state.reset();
    return cpu / wall;
}

void BM_ProgramPanelMainThread(benchmark::State& state) {
    double shown = 0, hidden = 0;
    for (auto _ : state) {
        hidden = mainThreadLoad(false);
        shown = mainThreadLoad(true);
    }
    state.counters["shown_core_pct"] = shown * 100;
    state.counters["hidden_core_pct"] = hidden * 100;
    state.counters["panel_core_pct"] = (shown - hidden) * 100;
}
BENCHMARK(BM_ProgramPanelMainThread)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return runInFolder(argc, argv, makeFolder("ombry-bench-panel-")); }
