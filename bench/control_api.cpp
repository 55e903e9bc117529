// The remote-control command parser, per command, and the state snapshot remotes get on every change:
// encoding it at the 1000-clip project limit.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "App/AppState.hpp"
#include "BenchApp.hpp"
#include "BenchGl.hpp"
#include "BenchSnapshot.hpp"
#include "Engine/Control/ControlCommand.hpp"
#include "Engine/Control/ControlSnapshot.hpp"
#include "Platform/Media/AudioOutput.hpp"

using namespace ombry;

namespace {

const std::vector<std::pair<const char*, const char*>> commands = {
    {"triggerId", "/api/trigger/id/6F1C2A4E-3B7D-4F0A-9E21-8C5D7B3A1F60?k=secret"},
    {"triggerIndex", "/api/trigger/index/12"},
    {"seekBy", "/api/transport/seek?by=-5"},
    {"seekTo", "/api/transport/seek?by=x&to=12.5"},
    {"transportLayer", "/api/transport/media/seek?to=3"},
    {"black", "/api/black/toggle"},
    {"clearLayer", "/api/clear/overlay"},
    {"volumeSetDB", "/api/volume/set?db=-12.5"},
    {"volumeStep", "/api/volume/step?by=-2"},
    {"layerVolume", "/api/volume/overlay?v=0.5"},
    {"mute", "/api/mute/toggle"},
    {"play", "/api/transport/play"},
    {"playPause", "/api/transport/toggle"},
    {"nextClip", "/api/clip/next"},
    {"clearAll", "/api/clear/all"},
    {"fullUrl", "http://192.168.1.20:7341/api/transport/pause?k=secret"},
    {"notACommand", "/api/transport/program/play"},
};

void BM_Parse(benchmark::State& state, const char* target) {
    const std::string text = target;
    for (auto _ : state) benchmark::DoNotOptimize(ControlCommand::parse(text));
}

void BM_SnapshotEncode(benchmark::State& state) {
    const ControlSnapshot s = bench::snapshotOf(int(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = wireText(s);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = double(bytes);
}

// The snapshot as the application builds it from its library and program, then encoded.
// `encode`: the text remotes are sent, else the record alone.
void BM_ControlSnapshot(benchmark::State& state, bool encode) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    bench::NoScreens screens;
    bench::NoPanels panels;
    MemoryClipboard clipboard;
    AppEnvironment env;
    env.screens = &screens;
    env.panels = &panels;
    env.clipboard = &clipboard;
    env.makeRenderer = [](MeterEngine* meters) {
        bench::glContext().makeCurrent();
        return NativeStageRenderer::create(bench::glContext(), meters,
                                           {.frameClock = nullptr, .audioOutput = media::AudioOutput::createNull(false)});
    };
    AppState app(env);
    // 80 clips in each of 10 playlists, the rest in none; three layers on air.
    auto [media, groups] = bench::projectOf(int(state.range(0)));
    app.library.setMedia(media);
    app.library.setGroups(groups);
    app.program.trigger(media[1]);
    app.program.trigger(media[0], {.layer = LayerId::overlay});
    std::size_t bytes = 0;
    for (auto _ : state) {
        if (!encode) {
            benchmark::DoNotOptimize(app.controlSnapshot());
            continue;
        }
        const std::string text = wireText(app.controlSnapshot());
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    if (encode) state.counters["bytes"] = double(bytes);
}

}  // namespace

int main(int argc, char** argv) {
    // The application state opens its project in a support folder of its own.
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("ombry-bench-control-" + std::to_string(::getpid()));
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    for (const auto& [name, target] : commands)
        benchmark::RegisterBenchmark((std::string("BM_Parse/") + name).c_str(), BM_Parse, target);
    benchmark::RegisterBenchmark("BM_SnapshotEncode", BM_SnapshotEncode)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_ControlSnapshot", BM_ControlSnapshot, false)->Arg(1000)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_ControlSnapshotEncoded", BM_ControlSnapshot, true)
        ->Arg(1000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
