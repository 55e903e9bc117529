#include <gtest/gtest.h>

#include <string>

#include "AudioTestSupport.hpp"
#include "Render/Audio/AudioTapNode.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace ombry {
namespace {

constexpr int B = ProgramAudioBus::blockFrames;

// Writes frames straight into a ring, as a tap does.
void push(TapAudioRing& ring, const std::vector<float>& l, const std::vector<float>& r) {
    int64_t w = ring.writeIdx.load();
    for (size_t i = 0; i < l.size(); ++i, ++w) {
        ring.left[size_t(w % TapAudioRing::capacity)] = l[i];
        ring.right[size_t(w % TapAudioRing::capacity)] = r[i];
    }
    ring.writeIdx.store(w);
}

// The pass (counting from 0) in which the first non-zero left sample was sent, and its offset.
std::pair<int, int> firstSound(const std::vector<std::vector<float>>& blocks) {
    for (size_t p = 0; p < blocks.size(); ++p)
        for (int i = 0; i < B; ++i)
            if (blocks[p][size_t(i)] != 0) return {int(p), i};
    return {-1, -1};
}

// Runs a bus for `passes` passes with a click pushed into a ring after its first pass.
std::vector<std::vector<float>> clickThroughBus(int64_t delayFrames, int passes) {
    auto clock = std::make_shared<test::StepBusClock>();
    auto bus = std::make_shared<ProgramAudioBus>(clock);
    auto ring = std::make_shared<TapAudioRing>();
    bus->addRing(ring.get(), ring);
    bus->delayFrames.store(delayFrames);
    auto sink = std::make_shared<test::RecordingSink>();
    bus->setSink(sink);
    EXPECT_TRUE(sink->waitFor(1));
    std::vector<float> l(B, 0.0f), r(B, 0.0f);
    l[7] = 1.0f;
    r[7] = -1.0f;
    push(*ring, l, r);
    clock->step(passes - 1);
    EXPECT_TRUE(sink->waitFor(size_t(passes)));
    bus->setSink(nullptr);
    return sink->blocks();
}

TEST(ProgramAudioBus, DelayOf4800FramesArrivesTenPassesLater) {
    const auto direct = firstSound(clickThroughBus(0, 14));
    const auto delayed = firstSound(clickThroughBus(4800, 14));
    EXPECT_EQ(direct, std::make_pair(1, 7));
    EXPECT_EQ(delayed, std::make_pair(11, 7));
    const auto blocks = clickThroughBus(4800, 12);
    EXPECT_EQ(blocks[11][7], 1.0f);
    EXPECT_EQ(blocks[11][B + 7], -1.0f);
}

TEST(ProgramAudioBus, DelayIsLimitedAndConvertedFromMilliseconds) {
    // Through the mixer alone: a click in the first pass shows up after `expected` frames.
    struct Case {
        int64_t delay, expected;
    };
    for (const Case& c : {Case{30000, 24000}, Case{-5, 0}, Case{24000, 24000}, Case{1, 1}}) {
        BusMixer mixer;
        auto ring = std::make_shared<TapAudioRing>();
        std::vector<float> l(B, 0.0f);
        l[0] = 0.5f;
        push(*ring, l, l);
        const std::vector<std::shared_ptr<TapAudioRing>> rings{ring};
        int64_t found = -1;
        for (int p = 0; p < 60 && found < 0; ++p) {
            const float* out = mixer.pass(rings, c.delay);
            for (int i = 0; i < B; ++i)
                if (out[i] != 0) found = int64_t(p) * B + i;
        }
        EXPECT_EQ(found, c.expected) << c.delay;
    }
    EXPECT_EQ(ProgramAudioBus::delayFramesForMs(100), 4800);
    EXPECT_EQ(ProgramAudioBus::delayFramesForMs(-3), 0);
    EXPECT_EQ(ProgramAudioBus::delayFramesForMs(900), 24000);
}

TEST(ProgramAudioBus, MixesRingsByPlainAddition) {
    BusMixer mixer;
    auto a = std::make_shared<TapAudioRing>();
    auto b = std::make_shared<TapAudioRing>();
    push(*a, std::vector<float>(B, 1.0f), std::vector<float>(B, 1.0f));
    push(*b, std::vector<float>(B + 200, 1.0f), std::vector<float>(B + 200, -0.25f));  // runs ahead
    const std::vector<std::shared_ptr<TapAudioRing>> rings{a, b};

    const float* out = mixer.pass(rings, 0);
    EXPECT_EQ(out[0], 2.0f);
    EXPECT_EQ(out[B - 1], 2.0f);
    EXPECT_EQ(out[B], 0.75f);
    EXPECT_EQ(b->readIdx.load(), B);  // keeps its surplus for the next pass

    // Next pass: only b's 200 frames; the rest of the block is silence.
    out = mixer.pass(rings, 0);
    EXPECT_EQ(out[199], 1.0f);
    EXPECT_EQ(out[200], 0.0f);
    EXPECT_EQ(out[B + 199], -0.25f);
    EXPECT_EQ(a->readIdx.load(), a->writeIdx.load());
    EXPECT_EQ(b->readIdx.load(), b->writeIdx.load());
}

TEST(ProgramAudioBus, RunsOnlyWithASink) {
    auto clock = std::make_shared<test::StepBusClock>();
    auto bus = std::make_shared<ProgramAudioBus>(clock);
    EXPECT_FALSE(bus->running());
    EXPECT_EQ(bus->threadId(), std::thread::id());

    // A tap does not feed its ring while the bus is stopped.
    AudioTapNode node(true, bus);
    media::AudioProcessor& tap = node;
    tap.prepare(media::AudioFormat{48000, 2, true, false});
    node.setCueGain(1, 0.001);
    test::PlanarBlock block(2, 480);
    tap.process(block.block);
    EXPECT_EQ(node.busRing()->writeIdx.load(), 0);

    auto sink = std::make_shared<test::RecordingSink>();
    bus->setSink(sink);
    EXPECT_TRUE(bus->running());
    ASSERT_TRUE(sink->waitFor(1));
    EXPECT_EQ(sink->threadName(), "ndi-audio-bus");
    EXPECT_EQ(bus->activeLoops(), 1);
    test::PlanarBlock more(2, 480, 0.5f);
    tap.process(more.block);
    EXPECT_EQ(node.busRing()->writeIdx.load(), 480);
    clock->step();
    ASSERT_TRUE(sink->waitFor(2));
    EXPECT_EQ(sink->blocks()[1][0], 0.5f);
    EXPECT_EQ(sink->blocks()[1][479], 0.5f);

    bus->setSink(nullptr);
    EXPECT_FALSE(bus->running());
    EXPECT_EQ(bus->threadId(), std::thread::id());
    EXPECT_EQ(bus->activeLoops(), 0);
}

TEST(ProgramAudioBus, SwitchingTheSinkOffAndOnNeverLeavesTwoThreads) {
    auto clock = std::make_shared<test::StepBusClock>();
    auto bus = std::make_shared<ProgramAudioBus>(clock);
    auto ring = std::make_shared<TapAudioRing>();
    bus->addRing(ring.get(), ring);
    bus->delayFrames.store(480);

    auto first = std::make_shared<test::RecordingSink>();
    bus->setSink(first);
    ASSERT_TRUE(first->waitFor(1));
    push(*ring, std::vector<float>(B, 0.5f), std::vector<float>(B, 0.5f));

    // Off and on again at once, while the first thread sleeps with a pass pending.
    bus->setSink(nullptr);
    const size_t firstCount = first->count();
    auto second = std::make_shared<test::RecordingSink>();
    bus->setSink(second);
    EXPECT_EQ(bus->activeLoops(), 1);
    ASSERT_TRUE(second->waitFor(1));
    clock->step(2);
    ASSERT_TRUE(second->waitFor(3));
    EXPECT_EQ(first->count(), firstCount);  // the old sink is not called after it was detached

    // The new thread starts with a silent delay line and drains the ring alone: the frames arrive once.
    const auto blocks = second->blocks();
    EXPECT_EQ(blocks[0][0], 0.0f);
    EXPECT_EQ(blocks[1][0], 0.5f);
    EXPECT_EQ(blocks[2][0], 0.0f);
    EXPECT_EQ(ring->readIdx.load(), B);
    bus->setSink(nullptr);
}

TEST(ProgramAudioBus, ReplacingTheSinkKeepsTheThread) {
    auto clock = std::make_shared<test::StepBusClock>();
    auto bus = std::make_shared<ProgramAudioBus>(clock);
    auto first = std::make_shared<test::RecordingSink>();
    bus->setSink(first);
    ASSERT_TRUE(first->waitFor(1));
    const auto thread = bus->threadId();
    auto second = std::make_shared<test::RecordingSink>();
    bus->setSink(second);
    EXPECT_EQ(bus->threadId(), thread);
    clock->step();
    ASSERT_TRUE(second->waitFor(1));
    EXPECT_EQ(first->count(), 1u);
    bus->setSink(nullptr);
}

TEST(ProgramAudioBus, RapidSwitchingOnTheRealClock) {
    auto bus = std::make_shared<ProgramAudioBus>();
    for (int i = 0; i < 40; ++i) {
        auto sink = std::make_shared<test::RecordingSink>();
        bus->setSink(sink);
        ASSERT_LE(bus->activeLoops(), 1) << i;
        if (i % 2) {
            ASSERT_TRUE(sink->waitFor(1));
        }
        bus->setSink(nullptr);
        ASSERT_EQ(bus->activeLoops(), 0) << i;
    }
}

TEST(ProgramAudioBus, LatePassResynchronisesInsteadOfBursting) {
    auto clock = std::make_shared<test::StepBusClock>();
    auto bus = std::make_shared<ProgramAudioBus>(clock);
    auto sink = std::make_shared<test::RecordingSink>();
    bus->setSink(sink);
    ASSERT_TRUE(clock->waitForSleeps(1));
    clock->jump(1.0);  // the thread wakes a second late
    clock->step();
    ASSERT_TRUE(clock->waitForSleeps(2));
    // The late pass and one immediate pass, then back to one block per period.
    EXPECT_EQ(sink->count(), 3u);
    clock->step();
    ASSERT_TRUE(clock->waitForSleeps(3));
    EXPECT_EQ(sink->count(), 4u);
    bus->setSink(nullptr);
}

}  // namespace
}  // namespace ombry
