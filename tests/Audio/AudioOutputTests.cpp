// The monitor output's lock-free parts under contention: the clock pair the audio thread publishes, and
// sources coming and going while the output mixes. Meant to run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "AudioTestSupport.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Media/AudioOutput.hpp"
#include "Platform/Media/SeqLockPair.hpp"

namespace ombry {
namespace {

using media::AudioOutput;
using media::AudioSource;
using media::SeqLockPair;
using test::eventually;

TEST(SeqLockPair, ReadersNeverSeeATornPair) {
    SeqLockPair pair(1, 2);
    constexpr int writes = 200000;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, backwards{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            double last = 0;
            while (!stop.load()) {
                const auto [a, b] = pair.load();
                if (b != 2 * a) torn.fetch_add(1);
                if (a < last) backwards.fetch_add(1);
                last = a;
            }
        });
    std::thread writer([&] {
        for (int i = 1; i <= writes; ++i) pair.store(i, 2.0 * i);
    });
    writer.join();
    stop.store(true);
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(backwards.load(), 0);
    EXPECT_EQ(pair.load(), std::make_pair(double(writes), 2.0 * writes));
}

// A source that notices being rendered after its removal returned. Its frame count is a plain field:
// reading it after removal races with a render the output failed to wait for, which the race detector
// reports.
class ProbeSource final : public AudioSource {
public:
    void renderAdd(float* out, int frames, double) override {
        if (retired.load()) lateRenders.fetch_add(1);
        framesSeen += frames;
        // As much work as a player's render, so removals land inside mixes.
        for (int i = 0; i < frames * AudioOutput::kChannels; ++i) out[i] += 1e-3f * float(i % 7);
        if (retired.load()) lateRenders.fetch_add(1);
        renders.fetch_add(1);
    }
    std::atomic<bool> retired{false};
    std::atomic<int> renders{0};
    int64_t framesSeen = 0;
    static inline std::atomic<int> lateRenders{0};
};

TEST(AudioOutputSources, AddAndRemoveWhileMixing) {
    ManualQueue q;  // its clock paces the null output, moved by the mixing thread
    ScopedMainQueue scope(q);
    auto output = AudioOutput::createNull(/*paced=*/false);
    std::atomic<bool> stop{false};
    std::atomic<int64_t> mixes{0};
    std::thread mixer([&] {
        while (!stop.load()) {
            q.clock().advance(0.01);  // one 480-frame block due
            output->pump();
            mixes.fetch_add(1);
        }
    });

    constexpr int perThread = 400;
    std::vector<std::vector<std::unique_ptr<ProbeSource>>> kept(3);
    std::atomic<int> unrendered{0};
    std::vector<std::thread> churn;
    for (int c = 0; c < 3; ++c)
        churn.emplace_back([&, c] {
            for (int i = 0; i < perThread; ++i) {
                auto source = std::make_unique<ProbeSource>();
                ASSERT_TRUE(output->addSource(source.get()));
                // Half are removed at once, in the middle of whatever mix is running; half once they
                // have been mixed.
                if (i % 2 && !eventually([&] { return source->renders.load() > 0; })) unrendered.fetch_add(1);
                output->removeSource(source.get());
                source->retired.store(true);
                EXPECT_GE(source->framesSeen, 0);  // the plain read the race detector checks
                kept[size_t(c)].push_back(std::move(source));
            }
        });
    for (auto& t : churn) t.join();
    // Removed sources stay removed while mixing goes on.
    const int64_t before = mixes.load();
    ASSERT_TRUE(eventually([&] { return mixes.load() > before + 20; }));
    stop.store(true);
    mixer.join();

    EXPECT_EQ(unrendered.load(), 0);
    EXPECT_EQ(ProbeSource::lateRenders.load(), 0);
    int64_t rendered = 0;
    for (auto& list : kept)
        for (auto& s : list) rendered += s->renders.load();
    EXPECT_GE(rendered, 3 * perThread / 2);
}

}  // namespace
}  // namespace ombry
