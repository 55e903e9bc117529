// Cold take of a 12-megapixel camera JPEG (4000x3000, EXIF orientation 6) through the stage renderer at
// 1080p: from the program state reaching the renderer to the first composed frame showing the picture,
// beside the ffmpeg CLI decoding the same file once, timed in the same run. The take should stay within
// 1.5 times the ffmpeg figure.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BenchStage.hpp"
#include "ExifFixture.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Media/StillDecoder.hpp"
#include "Render/NativeLayerHost.hpp"

using namespace ombry;

namespace {

const std::filesystem::path& dir() {
    static const auto d = [] {
        auto p = std::filesystem::temp_directory_path() / "ombry-bench-still";
        std::filesystem::create_directories(p);
        return p;
    }();
    return d;
}

// A photo-like picture (noise gives it a camera's entropy), stored on its side with orientation 6.
std::filesystem::path photo(const std::string& name) {
    const auto out = dir() / name;
    if (std::filesystem::exists(out)) return out;
    const auto plain = dir() / "plain.jpg";
    if (!std::filesystem::exists(plain) &&
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=4000x3000 -vf noise=alls=12:allf=u "
                     "-frames:v 1 -q:v 2 -pix_fmt yuvj420p '" + plain.string() + "'").c_str()) != 0)
        std::abort();
    std::ifstream in(plain, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::ofstream(out, std::ios::binary) << test::withExifOrientation(bytes.str(), 6);
    return out;
}

struct Stage : bench::BenchStage {
    Stage() : BenchStage(true) {
        for (const char* id : {"a", "b"}) add(id, MediaKind::image, photo(std::string(id) + ".jpg"));
    }
};

void BM_ColdTakeStill12MP(benchmark::State& state) {
    Stage s;
    std::string showing;
    std::optional<double> takenAt, shownAt;
    auto* host = s.r->host(LayerId::media);
    s.r->setCompositeConsumer("probe", [&](const GpuRenderTarget&, int) {
        if (!takenAt || shownAt) return;
        const double now = appClock().monotonic();
        for (int i = 0; i < 2; ++i) {
            const auto& slot = host->slot(i);
            if (slot.cue && slot.cue->cueId == showing && slot.media && slot.media->texture &&
                slot.visual.opacity.value(now) == 1)
                shownAt = now;
        }
    });
    int n = 0;
    for (auto _ : state) {
        const auto& item = s.items[n++ % 2 ? "b" : "a"];
        takenAt.reset();
        shownAt.reset();
        auto cue = s.store.trigger(item, {.transitionType = TransitionType::cut, .durationMs = 0});
        showing = cue.cueId;
        takenAt = appClock().monotonic();
        s.runUntil([&] { return shownAt.has_value(); });
        state.SetIterationTime(*shownAt - *takenAt);
    }
}
BENCHMARK(BM_ColdTakeStill12MP)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// The decode alone, at the size a 1080p stage needs.
void BM_DecodeStill12MP(benchmark::State& state) {
    const auto path = photo("a.jpg");
    for (auto _ : state) {
        auto r = media::decodeStill(path, {1920, 1080});
        if (!std::holds_alternative<StillImage>(r)) state.SkipWithError("not decoded");
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_DecodeStill12MP)->Iterations(10)->Unit(benchmark::kMillisecond);

// The reference: the ffmpeg CLI decoding the same file, process start included.
void BM_FfmpegCliDecode12MP(benchmark::State& state) {
    const std::string command = "ffmpeg -nostdin -v error -i '" + photo("a.jpg").string() + "' -frames:v 1 -f null -";
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}
BENCHMARK(BM_FfmpegCliDecode12MP)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
