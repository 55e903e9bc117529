// NDI conversion plus readback per 1080p frame: the GPU passes into the wire layout, the asynchronous
// readback and the copy out that the sender makes, for "UYVA" (1920 wide) and "BGRA" (1919 wide, which
// cannot be 4:2:2), each waited for frame by frame (latency) and pipelined two deep (throughput); beside
// them a plain readback of the composed stage with no conversion, as the floor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "BenchGl.hpp"
#include "Render/NDIOutput.hpp"

using namespace ombry;

namespace {

GpuContext& context() { return bench::glContext(); }

std::unique_ptr<StageCompositor> composedStage(int w, int h) {
    context().makeCurrent();
    auto created = StageCompositor::create(context());
    if (!created) return nullptr;
    auto c = std::move(created.value());
    c->setStageSize({double(w), double(h)});
    const StageSize s{double(w), double(h)};
    c->render({StageDraw::solid({0.9f, 0.2f, 0.1f}, StageQuad::rect({0, 0, w / 2.0, double(h)}, {}, s), 1),
               StageDraw::solid({0.1f, 0.5f, 0.8f}, StageQuad::rect({w / 4.0, h / 4.0, w / 2.0, h / 2.0}, {}, s), 0.6f)},
              {0, 0, 0, 0});
    return c;
}

// What the sender does with a finished frame: copy it out.
std::vector<uint8_t>& scratch() {
    static std::vector<uint8_t> s(size_t(1920) * 1080 * 4);
    return s;
}

void BM_NdiConvertAndRead(benchmark::State& state) {
    const int w = int(state.range(0)), h = 1080;
    const bool pipelined = state.range(1) != 0;
    auto c = composedStage(w, h);
    if (!c) {
        state.SkipWithError("no compositor");
        return;
    }
    NDIFrameConverter converter(*c, pipelined ? 2 : 1);
    size_t bytes = 0;
    auto consume = [&](const NDIWireFrame& f) {
        std::memcpy(scratch().data(), f.data, f.size);
        bytes = f.size;
    };
    int64_t frames = 0;
    for (auto _ : state) {
        if (!converter.stage(c->target(), 60)) {
            state.SkipWithError("staging failed");
            break;
        }
        frames += converter.poll(consume, !pipelined);
        // Two deep: wait only for the older frame once both buffers are busy.
        if (pipelined && converter.pending() > 1) frames += converter.poll(consume, true);
    }
    frames += converter.poll(consume, true);
    state.SetLabel(converter.wireFor(w) == NDIWire::uyva ? "UYVA" : "BGRA");
    state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["MB/frame"] = double(bytes) / 1e6;
}
BENCHMARK(BM_NdiConvertAndRead)
    ->ArgNames({"width", "pipelined"})
    ->Args({1920, 0})
    ->Args({1919, 0})
    ->Args({1920, 1})
    ->Args({1919, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_StageReadbackOnly(benchmark::State& state) {
    auto c = composedStage(1920, 1080);
    if (!c) {
        state.SkipWithError("no compositor");
        return;
    }
    GpuReadback readback(1);
    for (auto _ : state) {
        readback.request(c->target());
        readback.poll([](const ReadbackFrame& f) { std::memcpy(scratch().data(), f.pixels, size_t(f.stride) * size_t(f.height)); },
                      true);
    }
}
BENCHMARK(BM_StageReadbackOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
