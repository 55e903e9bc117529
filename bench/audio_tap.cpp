// Cost of one 512-frame stereo block through the audio tap (each includes refilling the block's 1024 samples): the steady path (two vector operations per
// channel), a block that ramps its gain, and a steady block that also feeds the program bus at 44.1 kHz.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "Render/Audio/AudioTapNode.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace {

using namespace ombry;

constexpr int frames = 512;

struct Stereo {
    Stereo() : left(frames), right(frames), source(frames) {
        for (int i = 0; i < frames; ++i) source[i] = float((i % 97) - 48) / 64.0f;
        refill();
        planes[0] = left.data();
        planes[1] = right.data();
        block = {frames, 2, false, planes};
    }
    // Puts the original samples back, so repeated gains never decay them into denormals.
    void refill() {
        std::copy(source.begin(), source.end(), left.begin());
        std::copy(source.begin(), source.end(), right.begin());
    }
    std::vector<float> left, right, source;
    float* planes[2];
    media::AudioBlock block;
};

// Never sleeps: the bus stays running while nothing drains it, and the benchmark drains by hand.
class IdleClock final : public BusClock {
public:
    double now() override { return 0; }
    void sleepUntil(double, const std::atomic<bool>& running) override {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return !running.load(); });
    }
    void wake() override {
        std::lock_guard lock(mutex_);
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
};

class NullSink final : public NDIAudioSink {
public:
    void sendAudio(const float*) override {}
};

void BM_TapSteady(benchmark::State& state) {
    AudioTapNode node(true);
    media::AudioProcessor& tap = node;
    tap.prepare({48000, 2, true, false});
    node.setCueGain(0.7, 0.001);
    Stereo s;
    tap.process(s.block);
    for (auto _ : state) {
        s.refill();
        tap.process(s.block);
        benchmark::DoNotOptimize(s.left.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TapSteady);

void BM_TapRamping(benchmark::State& state) {
    AudioTapNode node(true);
    media::AudioProcessor& tap = node;
    tap.prepare({48000, 2, true, false});
    Stereo s;
    bool up = false;
    for (auto _ : state) {
        node.setCueGain(up ? 1.0 : 0.99, 1.0);  // a ramp longer than the block: every frame steps
        up = !up;
        s.refill();
        tap.process(s.block);
        benchmark::DoNotOptimize(s.left.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TapRamping);

void BM_TapFeedingBus(benchmark::State& state) {
    auto bus = std::make_shared<ProgramAudioBus>(std::make_shared<IdleClock>());
    bus->setSink(std::make_shared<NullSink>());
    {
        AudioTapNode node(true, bus);
        media::AudioProcessor& tap = node;
        tap.prepare({44100, 2, true, false});
        node.setCueGain(1.0, 0.001);
        Stereo s;
        TapAudioRing& ring = *node.busRing();
        for (auto _ : state) {
            s.refill();
            tap.process(s.block);
            ring.readIdx.store(ring.writeIdx.load());  // drained, as by the bus
            benchmark::DoNotOptimize(s.left.data());
        }
        state.SetItemsProcessed(state.iterations());
    }
    bus->setSink(nullptr);
}
BENCHMARK(BM_TapFeedingBus);

}  // namespace

BENCHMARK_MAIN();
