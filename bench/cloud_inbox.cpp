// The cloud inbox: a 1 GiB upload downloaded from the loopback fake service into the incoming folder and
// then taken into the media folder (hashed and moved, as the ingest does), beside `curl -o` of the same
// address in the same run; and the storage pane's list of managed files with ten recent projects of 1000
// clips each.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "BenchApp.hpp"
#include "Engine/Cloud/CloudInbox.hpp"
#include "Engine/Cloud/FakeInbox.hpp"
#include "Engine/Intake/ContentHash.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Uuid.hpp"

using namespace ombry;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

const fs::path& folder() {
    static const fs::path* p = new fs::path(bench::makeFolder("ombry-bench-cloud-"));
    return *p;
}

double since(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

void BM_DownloadOneGiB(benchmark::State& state) {
    constexpr std::int64_t size = std::int64_t(1) << 30;
    test::FakeInbox service;
    service.addItem({.key = "big", .size = size, .filename = "big.mp4", .generated = size});
    const CloudInbox client{service.origin(), service.inboxId, service.appSecret};
    const CloudInbox::PendingItem item{"big", size, "big.mp4", "", "", ""};
    const std::string url = client.requestURL("app/file", {{"key", "big"}});
    double ours = 0, curl = 0, intoLibrary = 0;
    for (auto _ : state) {
        auto t0 = Steady::now();
        const auto r = client.download(item, AppState::cloudItemLimit);
        ours += since(t0);
        if (!std::holds_alternative<std::string>(r)) {
            state.SkipWithError(std::get<CloudFailure>(r).description().c_str());
            return;
        }
        const fs::path file = std::get<std::string>(r);
        // What the ingest does with it before the library takes it: the hash, then the move.
        t0 = Steady::now();
        benchmark::DoNotOptimize(ContentHash::sha256(file));
        const fs::path dest = Store::mediaDir() / (makeUuid() + ".mp4");
        fs::rename(file, dest);
        intoLibrary += since(t0);
        fs::remove(dest);
        state.PauseTiming();
        const fs::path theirs = Store::mediaIncomingDir() / "curl.mp4";
        t0 = Steady::now();
        const std::string cmd = "curl -s -H 'X-App-Secret: " + service.appSecret + "' -o '" + theirs.string() + "' '" + url + "'";
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("curl failed");
        curl += since(t0);
        fs::remove(theirs);
        state.ResumeTiming();
    }
    const double mb = double(size) / 1e6 * double(state.iterations());
    state.counters["ours_MB_per_s"] = mb / ours;
    state.counters["curl_MB_per_s"] = mb / curl;
    state.counters["ratio_to_curl"] = curl / ours;
    state.counters["download_and_ingest_MB_per_s"] = mb / (ours + intoLibrary);
}
BENCHMARK(BM_DownloadOneGiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Ten recent projects of 1000 clips (the open one among them), half of each in the media folder.
void BM_DownloadedMediaFiles(benchmark::State& state) {
    // The listing looks at names and sizes only: small files stand in for the clips.
    for (int f = 0; f < 500; ++f) {
        std::ofstream out(Store::mediaDir() / ("shared " + std::to_string(f) + ".mp4"), std::ios::binary);
        out << std::string(std::size_t(1000 + f), 'x');
    }
    RecentsStore recents;
    for (int p = 0; p < 10; ++p) {
        bench::Project shape = bench::projectOf(1000);
        ProjectDoc doc = ProjectDoc::make("Show " + std::to_string(p));
        doc.media = shape.media;
        doc.groups = shape.groups;
        for (std::size_t i = 0; i < doc.media.size(); i += 2)
            doc.media[i].path = (Store::mediaDir() / ("shared " + std::to_string(i / 2) + ".mp4")).string();
        const fs::path file = Store::projectsDir() / ("Show " + std::to_string(p) + ".ombry");
        Store::saveDoc(doc, file);
        recents.recents.push_back({doc.id, doc.name, file.string(), 1.7e12});
    }
    recents.save();
    bench::AppHost host;
    host.app = std::make_unique<AppState>(host.environment(false));
    AppState& app = *host.app;
    // The open project (a new one, so nine of the ten stay recent besides it) uses a hundred of the files.
    std::vector<std::string> paths;
    for (int f = 0; f < 100; ++f) paths.push_back((Store::mediaDir() / ("shared " + std::to_string(f) + ".mp4")).string());
    app.library.add(paths);
    state.counters["other_projects"] = double(app.projects().recentsStore().recents.size() - 1);
    std::vector<double> ms;
    std::size_t listed = 0;
    for (auto _ : state) {
        const auto t0 = Steady::now();
        const auto files = app.downloadedMediaFiles();
        ms.push_back(since(t0) * 1000);
        listed = files.size();
        benchmark::DoNotOptimize(files);
    }
    state.counters["median_ms"] = bench::median(ms);
    state.counters["files"] = double(listed);
}
BENCHMARK(BM_DownloadedMediaFiles)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return bench::runInFolder(argc, argv, folder()); }
