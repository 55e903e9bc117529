// The cloud inbox: a 1 GiB upload downloaded from the loopback fake service into the incoming folder and
// then taken into the media folder (hashed and moved, as the ingest does), beside `curl -o` of the same
// address in the same run; and the storage pane's list of managed files with ten recent projects of 1000
// clips each.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>

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

// Processor seconds of this thread, and of the children waited for: what each client spends, apart from
// the time it waits for a disk that other work on the machine keeps busy.
double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
double childSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    const auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

void BM_DownloadOneGiB(benchmark::State& state) {
    constexpr std::int64_t size = std::int64_t(1) << 30;
    test::FakeInbox service;
    service.addItem({.key = "big", .size = size, .filename = "big.mp4", .generated = size});
    const CloudInbox client{service.origin(), service.inboxId, service.appSecret};
    const CloudInbox::PendingItem item{"big", size, "big.mp4", "", "", ""};
    const std::string url = client.requestURL("app/file", {{"key", "big"}});
    const fs::path theirs = Store::mediaIncomingDir() / "curl.mp4";
    const std::string cmd = "curl -s -H 'X-App-Secret: " + service.appSecret + "' -o '" + theirs.string() + "' '" + url + "'";
    std::vector<double> ours, curl, intoLibrary, oursCpu, curlCpu;
    bool curlFirst = false;
    for (auto _ : state) {
        // Turn about, so that neither always finds the page cache as the other left it.
        const auto runCurl = [&] {
            const auto t0 = Steady::now();
            const double c0 = childSeconds();
            if (std::system(cmd.c_str()) != 0) state.SkipWithError("curl failed");
            curl.push_back(since(t0));
            curlCpu.push_back(childSeconds() - c0);
            fs::remove(theirs);
        };
        if (curlFirst) runCurl();
        auto t0 = Steady::now();
        const double c0 = threadSeconds();
        const auto r = client.download(item, AppState::cloudItemLimit);
        ours.push_back(since(t0));
        oursCpu.push_back(threadSeconds() - c0);
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
        intoLibrary.push_back(since(t0));
        fs::remove(dest);
        if (!curlFirst) runCurl();
        curlFirst = !curlFirst;
    }
    const double mb = double(size) / 1e6;
    state.counters["ours_MB_per_s"] = mb / bench::median(ours);
    state.counters["curl_MB_per_s"] = mb / bench::median(curl);
    state.counters["ratio_to_curl"] = bench::median(curl) / bench::median(ours);
    state.counters["download_and_ingest_MB_per_s"] = mb / (bench::median(ours) + bench::median(intoLibrary));
    state.counters["ours_cpu_s"] = bench::median(oursCpu);
    state.counters["curl_cpu_s"] = bench::median(curlCpu);
}
// Medians of six runs, three with curl first.
BENCHMARK(BM_DownloadOneGiB)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

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
    // The first call reads the other projects' documents; later ones only those whose file changed.
    state.counters["first_ms"] = ms.front();
    state.counters["median_ms"] = bench::median(ms);
    state.counters["files"] = double(listed);
}
BENCHMARK(BM_DownloadedMediaFiles)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return bench::runInFolder(argc, argv, folder()); }
