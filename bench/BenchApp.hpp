#pragma once
// What the application-state benchmarks share: the desktop seams they leave empty, a coloured test clip, a
// project of many clips, and medians of milliseconds.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "App/AppState.hpp"
#include "BenchGl.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Render/FrameClock.hpp"

namespace ombry::bench {

struct NoScreens final : ScreenProvider {
    std::vector<DisplayScreen> screens() const override { return {}; }
};
struct NoPanels final : FilePanels {
    std::optional<std::filesystem::path> runSavePanel(const SavePanelRequest&) override { return std::nullopt; }
    std::optional<std::filesystem::path> runOpenPanel(const OpenPanelRequest&) override { return std::nullopt; }
};

// The desktop seams of an application state and the real-time loop it runs on.
struct AppHost {
    LoopQueue q;
    ScopedMainQueue scope{q};
    NoScreens screens;
    NoPanels panels;
    MemoryClipboard clipboard;
    std::unique_ptr<AppState> app;

    // These seams and a renderer on the benchmark's GL context, paced at 60 Hz when `frames`, else ticked
    // by the caller.
    AppEnvironment environment(bool frames) {
        glContext().makeCurrent();
        AppEnvironment env;
        env.screens = &screens;
        env.panels = &panels;
        env.clipboard = &clipboard;
        env.makeRenderer = [frames](MeterEngine* meters) {
            RendererOptions options;
            if (frames) options.frameClock = std::make_unique<TimerFrameClock>(60);
            options.audioOutput = media::AudioOutput::createNull(true);
            return NativeStageRenderer::create(glContext(), meters, std::move(options));
        };
        return env;
    }
    // A stage of this size, taking cuts.
    void cutsOn(int width, int height) {
        app->program.setStage([&](StageConfig& s) {
            s.width = width;
            s.height = height;
        });
        app->masterTransition = AppTransition::cut;
        app->transitionDuration = 0;
    }
};

// A folder of this benchmark program's own, `prefix` and the process id under the temporary folder.
inline std::filesystem::path makeFolder(const std::string& prefix) {
    auto d = std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
}

// Runs the registered benchmarks with the state's support folder and settings inside `dir`, then removes it.
inline int runInFolder(int argc, char** argv, const std::filesystem::path& dir) {
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}

// A 6 s H.264 test picture with a box of `colour`, made once; exits when ffmpeg fails.
inline std::filesystem::path testClip(const std::filesystem::path& out, const std::string& colour, int width, int height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (!std::filesystem::exists(out) &&
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=" + size + ":r=30:d=6 -vf "
                     "\"drawbox=c=" + colour + ":t=fill:w=iw/5:h=ih/4\" -c:v libx264 -preset veryfast -g 30 "
                     "-pix_fmt yuv420p '" + out.string() + "'").c_str()) != 0)
        std::exit(1);
    return out;
}

// A project as remotes see it at its size limit: `n` clips (every seventh a still), 80 % of them spread
// over 10 playlists and the rest in none, each with a thumbnail.
struct Project {
    std::vector<MediaItem> media;
    std::vector<Group> groups;
};
inline Project projectOf(int n) {
    Project p;
    p.groups.resize(10);
    for (int i = 0; i < n; ++i) {
        MediaItem m;
        m.id = "6F1C2A4E-3B7D-4F0A-9E21-" + std::to_string(100000000000 + i);
        m.name = "Clip " + std::to_string(i) + ".mov";
        m.kind = i % 7 == 0 ? MediaKind::image : MediaKind::video;
        m.path = "/media/" + m.name;
        m.order = i;
        if (m.kind == MediaKind::video) m.duration = 12.5 + i;
        m.thumbAt = 1.7e12 + i;
        if (i < n * 4 / 5) p.groups[std::size_t(i % 10)].mediaIds.push_back(m.id);
        p.media.push_back(std::move(m));
    }
    for (std::size_t g = 0; g < p.groups.size(); ++g) {
        p.groups[g].id = "group-" + std::to_string(g);
        p.groups[g].name = "Playlist " + std::to_string(g);
        p.groups[g].color = "#5f6670";
    }
    return p;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

using Time = std::chrono::steady_clock::time_point;
inline double msBetween(Time a, Time b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

}  // namespace ombry::bench
