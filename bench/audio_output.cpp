// Cost of one 480-frame block through the monitor output's mix (null backend, on a clock that moves only
// when told), with 1, 4 and 16 sources that each add a steady level: the slot scan and the epoch around
// every mix, plus the sources' own adds.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "Platform/Clock.hpp"
#include "Platform/Media/AudioOutput.hpp"

namespace {

using namespace ombry;

class LevelSource final : public media::AudioSource {
public:
    void renderAdd(float* out, int frames, double) override {
        for (int i = 0; i < frames * media::AudioOutput::kChannels; ++i) out[i] += 0.01f;
    }
};

void BM_OutputMix(benchmark::State& state) {
    ManualClock clock;
    setAppClock(&clock);
    {
        auto output = media::AudioOutput::createNull(/*paced=*/false);
        std::vector<LevelSource> sources(size_t(state.range(0)));
        for (auto& s : sources) output->addSource(&s);
        for (auto _ : state) {
            clock.advance(0.01);  // one block due
            output->pump();
        }
        for (auto& s : sources) output->removeSource(&s);
    }
    setAppClock(nullptr);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OutputMix)->Arg(1)->Arg(4)->Arg(16);

}  // namespace

BENCHMARK_MAIN();
