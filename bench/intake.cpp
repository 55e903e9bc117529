// Media intake: content hashing beside the openssl CLI, probing and thumbnailing a mixed batch under the
// probe gate, and adding a folder of 1000 stills while timing every main-thread task.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "Engine/Intake/ContentHash.hpp"
#include "Engine/Intake/Intake.hpp"
#include "Engine/Library/Library.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/MainQueue.hpp"

using namespace ombry;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

const fs::path& benchFolder() {
    // Never destroyed: the clean-up at exit still needs it.
    static const fs::path* p = [] {
        auto* dir = new fs::path(fs::temp_directory_path() / ("ombry-bench-intake-" + std::to_string(::getpid())));
        fs::create_directories(*dir);
        // The support folder (thumbnails, media) of this run, not the user's.
        ::setenv("XDG_DATA_HOME", (*dir / "data").c_str(), 1);
        return dir;
    }();
    return *p;
}

struct Cleanup {
    ~Cleanup() {
        std::error_code ec;
        fs::remove_all(benchFolder(), ec);
    }
} cleanup;

double elapsed(Steady::time_point since) { return std::chrono::duration<double>(Steady::now() - since).count(); }

fs::path gibFile() {
    const fs::path file = benchFolder() / "one.gib";
    if (fs::exists(file)) return file;
    std::vector<char> block(1 << 20);
    std::mt19937 rng(7);
    for (auto& c : block) c = char(rng());
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < 1024; ++i) {
        block[0] = char(i);  // no two blocks alike
        out.write(block.data(), std::streamsize(block.size()));
    }
    return file;
}

// SHA-256 of 1 GiB from the page cache, and the openssl CLI on the same file in the same run.
void BM_HashOneGiB(benchmark::State& state) {
    const fs::path file = gibFile();
    ContentHash::sha256(file);  // warm the cache
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        auto t0 = Steady::now();
        benchmark::DoNotOptimize(ContentHash::sha256(file));
        ours += elapsed(t0);
        state.PauseTiming();
        t0 = Steady::now();
        const std::string cmd = "openssl dgst -sha256 '" + file.string() + "' > /dev/null";
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("openssl failed");
        theirs += elapsed(t0);
        state.ResumeTiming();
    }
    const double gib = double(state.iterations());
    state.counters["ours_GiB_per_s"] = gib / ours;
    state.counters["openssl_GiB_per_s"] = gib / theirs;
    state.counters["ratio"] = theirs / ours;
}
BENCHMARK(BM_HashOneGiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

fs::path generate(const std::string& name, const std::string& args) {
    const fs::path out = benchFolder() / "sources" / name;
    if (fs::exists(out)) return out;
    fs::create_directories(out.parent_path());
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + out.string() + "'";
    if (std::system(cmd.c_str()) != 0) return {};
    return out;
}

// Clips, stills and sounds of the kinds a show holds, 200 files in all (copies under their own names).
std::vector<fs::path> mixedBatch() {
    const fs::path cover = generate("cover.png", "-f lavfi -i testsrc2=s=1000x1000 -frames:v 1");
    const std::vector<fs::path> sources = {
        generate("hd.mp4", "-f lavfi -i testsrc2=s=1920x1080:r=30:d=3 -c:v libx264 -preset veryfast -pix_fmt yuv420p"),
        generate("sd.webm", "-f lavfi -i testsrc2=s=640x360:r=25:d=3 -c:v libvpx-vp9 -deadline realtime"),
        generate("photo.jpg", "-f lavfi -i testsrc2=s=4000x3000 -frames:v 1 -q:v 3"),
        generate("slide.png", "-f lavfi -i testsrc2=s=1920x1080 -frames:v 1"),
        generate("song.mp3", "-f lavfi -i sine=d=3 -i '" + cover.string() +
                                 "' -map 0 -map 1 -c:a libmp3lame -c:v png -disposition:v attached_pic -id3v2_version 3"),
        generate("voice.wav", "-f lavfi -i sine=d=3 -c:a pcm_s24le"),
    };
    std::vector<fs::path> batch;
    const fs::path dir = benchFolder() / "batch";
    fs::create_directories(dir);
    for (int i = 0; i < 200; ++i) {
        const fs::path& src = sources[size_t(i) % sources.size()];
        const fs::path copy = dir / (std::to_string(i) + src.extension().string());
        if (!fs::exists(copy)) fs::create_hard_link(src, copy);
        batch.push_back(copy);
    }
    return batch;
}

void BM_ProbeAndThumbnail200Mixed(benchmark::State& state) {
    const auto batch = mixedBatch();
    ManualQueue q;
    ScopedMainQueue scope(q);
    const int limit = std::clamp<int>(int(std::thread::hardware_concurrency()), 1, 6);
    double total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Library library;
        MediaRegistry registry;
        MediaTombstones tombstones;
        Intake intake(library, registry, tombstones, {limit, {}});
        std::vector<std::string> paths;
        for (const auto& p : batch) paths.push_back(p.string());
        state.ResumeTiming();
        const auto t0 = Steady::now();
        intake.addMedia(paths, std::nullopt, false, false);
        q.waitUntil([&] { return intake.probesInFlight() == 0 && intake.probeGate().active() == 0; }, 600);
        total += elapsed(t0);
        state.PauseTiming();
        std::size_t thumbs = 0;
        for (const auto& m : library.media()) thumbs += m.thumbAt ? 1 : 0;
        if (thumbs < 150) state.SkipWithError("thumbnails missing");
        state.ResumeTiming();
    }
    state.counters["files_per_s"] = 200.0 * double(state.iterations()) / total;
    state.counters["gate_limit"] = limit;
}
BENCHMARK(BM_ProbeAndThumbnail200Mixed)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The main queue with every task timed: the longest one is how long the window would freeze.
class TimedQueue final : public MainQueue {
public:
    explicit TimedQueue(ManualQueue& inner) : inner_(inner) {}
    void post(Task fn) override { inner_.post(timed(std::move(fn))); }
    TaskHandle postAfter(double s, Task fn) override { return inner_.postAfter(s, timed(std::move(fn))); }
    TaskHandle postAfterBoot(double s, Task fn) override { return inner_.postAfterBoot(s, timed(std::move(fn))); }
    double now() const override { return inner_.now(); }
    bool isMainThread() const override { return inner_.isMainThread(); }
    double longest = 0;

private:
    Task timed(Task fn) {
        return [this, fn = std::move(fn)] {
            const auto t0 = Steady::now();
            fn();
            longest = std::max(longest, elapsed(t0));
        };
    }
    ManualQueue& inner_;
};

void BM_AddFolderOf1000Stills(benchmark::State& state) {
    const fs::path still = generate("still.png", "-f lavfi -i testsrc2=s=1280x720 -frames:v 1");
    const fs::path folder = benchFolder() / "stills";
    fs::create_directories(folder);
    for (int i = 0; i < 1000; ++i) {
        const fs::path p = folder / ("still " + std::to_string(i) + ".png");
        if (!fs::exists(p)) fs::create_hard_link(still, p);
    }
    ManualQueue q;
    ScopedMainQueue clock(q);
    TimedQueue timed(q);
    ScopedMainQueue scope(static_cast<MainQueue&>(timed));
    double addCall = 0, longest = 0, all = 0;
    for (auto _ : state) {
        Library library;
        library.adopt(ProjectDoc::make("Bench"), benchFolder() / "Bench.ombry", false);  // writes happen for real
        MediaRegistry registry;
        MediaTombstones tombstones;
        Intake intake(library, registry, tombstones, {std::clamp<int>(int(std::thread::hardware_concurrency()), 1, 6), {}});
        timed.longest = 0;
        const auto t0 = Steady::now();
        const auto added = intake.addMedia({folder.string()}, std::nullopt, true, true);
        addCall = std::max(addCall, elapsed(t0));
        q.waitUntil([&] { return intake.probesInFlight() == 0 && intake.probeGate().active() == 0; }, 600);
        q.advance(Library::coalesceSeconds + 0.1);  // the coalesced write of the probe results
        all += elapsed(t0);
        longest = std::max(longest, timed.longest);
        if (added.size() != 1000) state.SkipWithError("not all stills were added");
    }
    state.counters["addMedia_ms"] = addCall * 1000;
    state.counters["longest_other_main_task_ms"] = longest * 1000;
    state.counters["stills_per_s"] = 1000.0 * double(state.iterations()) / all;
}
BENCHMARK(BM_AddFolderOf1000Stills)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
