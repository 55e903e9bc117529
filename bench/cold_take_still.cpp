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
#include "Render/StageCompositor.hpp"

#include <epoxy/gl.h>

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

// A photo-like picture (noise gives it a camera's entropy) with EXIF orientation `tag`: 6, a portrait
// stored on its side, as cameras write it; 1, a landscape.
std::filesystem::path photo(const std::string& name, int tag = 6) {
    const auto out = dir() / (std::to_string(tag) + "-" + name);
    if (std::filesystem::exists(out)) return out;
    const auto plain = dir() / "plain.jpg";
    if (!std::filesystem::exists(plain) &&
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=4000x3000 -vf noise=alls=12:allf=u "
                     "-frames:v 1 -q:v 2 -pix_fmt yuvj420p '" + plain.string() + "'").c_str()) != 0)
        std::abort();
    std::ifstream in(plain, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::ofstream(out, std::ios::binary) << test::withExifOrientation(bytes.str(), tag);
    return out;
}

struct Stage : bench::BenchStage {
    explicit Stage(int tag) : BenchStage(true) {
        for (const char* id : {"a", "b"}) add(id, MediaKind::image, photo(std::string(id) + ".jpg", tag));
    }
};

// Argument: the EXIF orientation. A 1080p stage needs the portrait at full size (filling the stage it
// is 1920 wide), the landscape only at half size.
void BM_ColdTakeStill12MP(benchmark::State& state) {
    Stage s(int(state.range(0)));
    std::string showing;
    std::optional<double> takenAt, shownAt;
    s.r->setCompositeConsumer("probe", [&](const GpuRenderTarget&, int) {
        if (!takenAt || shownAt) return;
        const double now = appClock().monotonic();
        if (s.showsFully(showing, now)) shownAt = now;
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
BENCHMARK(BM_ColdTakeStill12MP)->Arg(6)->Arg(1)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// The decode alone, at the size a 1080p stage needs.
void BM_DecodeStill12MP(benchmark::State& state) {
    const auto path = photo("a.jpg", int(state.range(0)));
    for (auto _ : state) {
        auto r = media::decodeStill(path, {1920, 1080});
        if (!std::holds_alternative<StillImage>(r)) state.SkipWithError("not decoded");
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_DecodeStill12MP)->Arg(6)->Arg(1)->Iterations(10)->Unit(benchmark::kMillisecond);

// The upload alone: the decoded picture made a texture, and the GPU done with it.
void BM_ImageTexture12MP(benchmark::State& state) {
    auto r = media::decodeStill(photo("a.jpg", int(state.range(0))), {1920, 1080});
    if (!std::holds_alternative<StillImage>(r)) return state.SkipWithError("not decoded");
    const StillImage& still = std::get<StillImage>(r);
    bench::glContext().makeCurrent();
    auto compositor = StageCompositor::create(bench::glContext());
    if (!compositor.ok()) return state.SkipWithError("no compositor");
    for (auto _ : state) {
        auto texture = compositor.value()->makeImageTexture(still);
        if (!texture.ok()) state.SkipWithError("no texture");
        glFinish();
    }
    state.counters["pixels"] = double(still.width) * still.height;
}
BENCHMARK(BM_ImageTexture12MP)->Arg(6)->Arg(1)->Iterations(10)->Unit(benchmark::kMillisecond);

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
