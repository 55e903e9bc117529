// Opening (read, decode, adopt) and saving (encode, atomic write) a project document as it grows.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "Engine/Library/Library.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Uuid.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

fs::path benchFolder() {
    static const fs::path p = [] {
        fs::path dir = fs::temp_directory_path() / ("ombry-bench-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        return dir;
    }();
    return p;
}

// A show of n probed clips in 10 playlists, written to disk.
fs::path makeProject(std::int64_t n) {
    ProjectDoc doc = ProjectDoc::make("Bench");
    doc.stage = StageConfig{};
    for (int g = 0; g < 10; ++g) {
        Group group;
        group.id = makeUuid();
        group.name = "Playlist " + std::to_string(g);
        doc.groups.push_back(std::move(group));
    }
    for (std::int64_t i = 0; i < n; ++i) {
        MediaItem m;
        m.id = makeUuid();
        m.name = "Clip " + std::to_string(i) + ".mov";
        m.path = (benchFolder() / "media" / m.name).string();
        m.duration = 12.5;
        m.width = 1920;
        m.height = 1080;
        m.fps = 29.97;
        m.probed = true;
        m.probeVersion = 2;
        m.addedAt = 1.7e12 + double(i);
        m.order = double(i);
        m.thumbAt = 1.7e12;
        doc.groups[std::size_t(i % 10)].mediaIds.push_back(m.id);
        doc.media.push_back(std::move(m));
    }
    fs::path file = benchFolder() / ("Bench-" + std::to_string(n) + ".ombry");
    Store::saveDoc(doc, file);
    return file;
}

void BM_OpenProject(benchmark::State& state) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    const fs::path file = makeProject(state.range(0));
    for (auto _ : state) {
        Library lib;
        auto read = Store::readDoc<ProjectDoc>(file);
        lib.adopt(*read.value, file, true);
        benchmark::DoNotOptimize(lib.item(lib.media().back().id));
        q.runPending();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SaveProject(benchmark::State& state) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    const fs::path file = makeProject(state.range(0));
    Library lib;
    lib.adopt(*Store::readDoc<ProjectDoc>(file).value, file, false);
    for (auto _ : state) {
        lib.writeDoc();
        q.runPending();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["bytes"] = double(fs::file_size(file));
}

}  // namespace

BENCHMARK(BM_OpenProject)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveProject)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Keep the support folder out of the user's home.
    ::setenv("XDG_DATA_HOME", (benchFolder() / "data").c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(benchFolder(), ec);
    return 0;
}
