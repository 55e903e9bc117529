// Decode-to-frame throughput of a 1080p60 H.264 clip against `ffmpeg -f null -` on the same file, and
// audio/video drift of a long looping clip on the virtual clock.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "Platform/Clock.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/MediaPlayer.hpp"

using namespace ombry;
using namespace ombry::media;

namespace {

std::filesystem::path makeClip(const std::string& name, const std::string& args) {
    const auto dir = std::filesystem::temp_directory_path() / "ombry-bench";
    std::filesystem::create_directories(dir);
    const auto out = dir / name;
    if (!std::filesystem::exists(out))
        std::system(("ffmpeg -nostdin -loglevel error -y " + args + " '" + out.string() + "'").c_str());
    return out;
}

std::filesystem::path clip1080() {
    return makeClip("1080p60.mp4", "-f lavfi -i testsrc2=s=1920x1080:r=60:d=10 -c:v libx264 -preset veryfast -pix_fmt yuv420p");
}

void prerolled(ManualQueue& q, MediaPlayer& p) {
    bool ready = false;
    p.preroll([&](bool) { ready = true; });
    q.waitUntil([&] { return ready; }, 30);
}

// Plays the clip on a virtual clock that advances one frame each time the frame is there: as fast as
// the decoder (and conversion into frames) can go.
void BM_PlayerDecode1080p60(benchmark::State& state) {
    const auto path = clip1080();
    for (auto _ : state) {
        ManualQueue q;
        ScopedMainQueue scope(q);
        auto out = AudioOutput::createNull(false);
        MediaPlayer p(MediaAsset::open(path), {.output = out});
        prerolled(q, p);
        p.play();
        const auto t0 = std::chrono::steady_clock::now();
        int frames = 0;
        uint64_t last = 0;
        while (frames < 600) {
            if (!q.waitUntil([&] {
                    auto f = p.latestFrame(appClock().monotonic());
                    return f && f->serial != last;
                }, 10))
                break;
            last = p.latestFrame(appClock().monotonic())->serial;
            ++frames;
            q.advance(1.0 / 60);
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.counters["player_fps"] = frames / secs;
        state.counters["dropped"] = double(p.framesDropped());
    }
}
BENCHMARK(BM_PlayerDecode1080p60)->Iterations(1)->Unit(benchmark::kSecond);

void BM_FfmpegNullDecode1080p60(benchmark::State& state) {
    const auto path = clip1080();
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        std::system(("ffmpeg -nostdin -loglevel error -i '" + path.string() + "' -f null -").c_str());
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.counters["ffmpeg_fps"] = 600 / secs;
    }
}
BENCHMARK(BM_FfmpegNullDecode1080p60)->Iterations(1)->Unit(benchmark::kSecond);

// An hour of a looping 60 s clip on the virtual clock: the sound handed to the output and the frame on
// show are compared at every frame; the worst gap is reported in frames (at 30 fps).
void BM_AvDriftOneHour(benchmark::State& state) {
    const auto path = makeClip("drift.mp4",
                               "-f lavfi -i testsrc=s=32x18:r=30:d=60 -f lavfi -i sine=f=440:r=48000:d=60 -c:v libx264 "
                               "-preset ultrafast -pix_fmt yuv420p -c:a aac -shortest");
    for (auto _ : state) {
        ManualQueue q;
        ScopedMainQueue scope(q);
        auto out = AudioOutput::createNull(false);
        MediaPlayer p(MediaAsset::open(path), {.output = out});
        prerolled(q, p);
        p.setActionAtEnd(ActionAtEnd::loop);
        p.play();
        const double hostStart = appClock().monotonic();
        double worst = 0;
        const int steps = int(state.range(0)) * 30;
        for (int i = 0; i < steps; ++i) {
            // Decoding runs in real time: let it catch up with the virtual clock before each step.
            q.waitUntil([&] { return p.bufferedAudio() > 0.1 && p.bufferedFrames() >= 1; }, 2);
            q.advance(1.0 / 30);
            out->pump();
            auto f = p.latestFrame(appClock().monotonic());
            if (!f) continue;
            // Media time from the clock vs the frame on show, folded into one pass of the loop.
            const double len = p.endTime();
            double d = std::fmod(p.currentTime() - f->time, len);
            if (d > len / 2) d -= len;
            if (d < -len / 2) d += len;
            worst = std::max(worst, std::abs(d));
        }
        state.counters["worst_drift_frames"] = worst * 30;
        state.counters["simulated_s"] = appClock().monotonic() - hostStart;
    }
}
BENCHMARK(BM_AvDriftOneHour)->Arg(3600)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
