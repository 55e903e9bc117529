// Cost of handing one composed 1080p frame to the frame-sharing server (copy into the shared surface and
// the new-frame notices), as the frame loop pays it, with and without a colour-order swap.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "Syphon/SyphonServer.hpp"

using namespace ombry;

static void publish(benchmark::State& state, SyphonPixelFormat format) {
    const auto dir = std::filesystem::temp_directory_path() / ("ombry-bench-" + std::to_string(::getpid()));
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    auto server = SyphonServer::create("Program");
    if (!server) {
        state.SkipWithError("server did not start");
        return;
    }
    const int w = 1920, h = 1080;
    std::vector<uint8_t> pixels(size_t(w) * h * 4, 0x80);
    const SyphonFrame frame{pixels.data(), w, h, w * 4, format};
    for (auto _ : state) server->publishFrame(frame, {0, 0, w, h}, true);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixels.size()));
    server->stop();
    std::filesystem::remove_all(dir);
}

BENCHMARK_CAPTURE(publish, bgra, SyphonPixelFormat::bgra8)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(publish, rgba, SyphonPixelFormat::rgba8)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
