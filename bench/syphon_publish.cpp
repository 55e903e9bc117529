// Cost of handing one composed 1080p frame to the frame-sharing server.
// - publish/bgra, publish/rgba: the copy into the shared surface and the new-frame notices, as the worker
//   pays it for a frame in memory (with and without a colour-order swap).
// - BM_PublishStageMainThread: what the frame loop's thread pays for a 1080p stage on the GPU: publish()
//   and anything the main queue runs until the frame has reached the clients (idle waits not counted).
#include <benchmark/benchmark.h>

#include <epoxy/gl.h>

#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "Platform/Gpu/GlObjects.hpp"
#include "Platform/Gpu/GpuContext.hpp"
#include "Platform/MainQueue.hpp"
#include "Syphon/SyphonOutput.hpp"
#include "Syphon/SyphonServer.hpp"

using namespace ombry;

namespace {

std::filesystem::path runtimeDir() {
    const auto dir = std::filesystem::temp_directory_path() / ("ombry-bench-" + std::to_string(::getpid()));
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    return dir;
}

void publish(benchmark::State& state, SyphonPixelFormat format) {
    const auto dir = runtimeDir();
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

// The main thread's CPU time: on a machine shared with other work its wall time mostly measures how
// long it waited for a core. Both are reported (the wall time as "wall_us").
double threadSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_PublishStageMainThread(benchmark::State& state) {
    using clock = std::chrono::steady_clock;
    const auto dir = runtimeDir();
    auto gpu = makeHeadlessGpuContext();
    if (!gpu.context) {
        state.SkipWithError(gpu.error.c_str());
        return;
    }
    ManualQueue queue;
    ScopedMainQueue scope(queue);
    {
        auto stage = GpuRenderTarget::create(1920, 1080);
        SyphonOutput output("Program", gpu.context.get());
        if (!stage || !output.server()) {
            state.SkipWithError("no stage target or server");
            return;
        }
        uint64_t frames = 0;
        double wall = 0;
        for (auto _ : state) {
            // The composition, finished before the frame loop hands the frame over: not ours to count.
            glBindFramebuffer(GL_FRAMEBUFFER, stage.framebuffer());
            glClearColor(float(frames % 2), 0.5f, 0.25f, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            glFinish();

            const auto start = clock::now();
            const double cpu = threadSeconds();
            output.publish(stage);
            double mainThread = threadSeconds() - cpu;
            wall += std::chrono::duration<double>(clock::now() - start).count();
            ++frames;
            // Until it reached the clients, with what the main queue runs meanwhile.
            while (output.framesPublished() < frames) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                const double c = threadSeconds();
                queue.advance(0.001);
                mainThread += threadSeconds() - c;
            }
            state.SetIterationTime(mainThread);
        }
        output.flush();
        state.counters["wall_us"] = wall * 1e6 / double(state.iterations());
    }
    gpu.context->doneCurrent();
    std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK_CAPTURE(publish, bgra, SyphonPixelFormat::bgra8)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(publish, rgba, SyphonPixelFormat::rgba8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PublishStageMainThread)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
