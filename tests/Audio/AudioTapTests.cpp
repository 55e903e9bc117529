#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "AudioTestSupport.hpp"
#include "Platform/Log.hpp"
#include "Platform/MainQueue.hpp"
#include "Render/Audio/AudioTapNode.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace ombry {
namespace {

using test::PlanarBlock;

media::AudioFormat floatFormat(double rate, int channels = 2) {
    media::AudioFormat f;
    f.sampleRate = rate;
    f.channels = channels;
    return f;
}

// The node as the player sees it.
media::AudioProcessor& player(AudioTapNode& node) { return node; }

// A bus whose thread is parked after its first pass, so the taps feed their rings and nothing drains them.
struct ParkedBus {
    ParkedBus() : clock(std::make_shared<test::StepBusClock>()), bus(std::make_shared<ProgramAudioBus>(clock)) {
        bus->setSink(sink);
        EXPECT_TRUE(clock->waitForSleeps(1));
    }
    ~ParkedBus() { bus->setSink(nullptr); }
    std::shared_ptr<test::StepBusClock> clock;
    std::shared_ptr<test::RecordingSink> sink = std::make_shared<test::RecordingSink>();
    std::shared_ptr<ProgramAudioBus> bus;
};

// Prepares the node at 48 kHz and runs the 48 frames of a 1 ms ramp to `gain`, forgetting their peaks.
void settle(AudioTapNode& node, double gain, int channels = 2) {
    player(node).prepare(floatFormat(48000, channels));
    node.setCueGain(gain, 0.001);
    PlanarBlock warm(channels, 48);
    player(node).process(warm.block);
    node.peakL.exchange(0);
    node.peakR.exchange(0);
}

// Prepares the node at 48 kHz, mono, and runs the first half of a 10 ms ramp from 0 to 1.
void halfWayUp(AudioTapNode& node) {
    player(node).prepare(floatFormat(48000, 1));
    node.setCueGain(1.0, 0.01);
    PlanarBlock first(1, 240);
    player(node).process(first.block);
    ASSERT_NEAR(first.data[0][239], 0.5, 1e-9);
}

int64_t buffered(const TapAudioRing& ring) { return ring.writeIdx.load() - ring.readIdx.load(); }

TEST(AtomicDouble, ExchangeAndRaise) {
    AtomicDouble d(0.25);
    EXPECT_EQ(d.exchange(0.5), 0.25);
    d.raise(0.4);
    EXPECT_EQ(d.load(), 0.5);
    d.raise(0.75);
    EXPECT_EQ(d.load(), 0.75);
    d.store(-1);
    EXPECT_EQ(d.load(), -1);
}

TEST(AudioTapNode, FirstTargetIsReachedInExactlyTheRampTime) {
    AudioTapNode node(true);
    player(node).prepare(floatFormat(48000));
    node.setCueGain(0.8, 0.01);
    PlanarBlock b(2, 1000);
    player(node).process(b.block);
    for (int i = 0; i < 479; ++i) {
        EXPECT_NEAR(b.data[0][i], 0.8 * (i + 1) / 480.0, 1e-6) << i;
        EXPECT_LT(b.data[0][i], 0.8f) << i;
    }
    for (int i = 479; i < 1000; ++i) ASSERT_EQ(b.data[0][i], 0.8f) << i;
    EXPECT_EQ(b.data[1], b.data[0]);
    EXPECT_NEAR(node.peakL.load(), 0.8, 1e-12);
    EXPECT_EQ(node.processCount.load(), 1u);

    // Steady from now on: the next block is scaled by exactly 0.8.
    PlanarBlock next(2, 512, 0.5f);
    player(node).process(next.block);
    for (float v : next.data[1]) ASSERT_EQ(v, 0.4f);
}

TEST(AudioTapNode, TargetAndRampAreLimited) {
    struct Case {
        double gain, ramp, storedGain, storedRamp;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case& c : {Case{1.7, 0.0, 1.0, 0.001}, Case{-0.3, 0.5, 0.0, 0.5}, Case{nan, -2.0, 0.0, 0.001},
                          Case{0.5, nan, 0.5, 0.001}}) {
        AudioTapNode node(true);
        node.setCueGain(c.gain, c.ramp);
        EXPECT_EQ(node.cueGainTarget.load(), c.storedGain) << c.gain;
        EXPECT_EQ(node.cueGainRamp.load(), c.storedRamp) << c.ramp;
        EXPECT_EQ(node.cueGainGeneration.load(), 1u);
    }

    // A zero ramp takes 48 frames at 48 kHz.
    AudioTapNode node(true);
    player(node).prepare(floatFormat(48000));
    node.setCueGain(1.0, 0);
    PlanarBlock b(1, 100);
    player(node).process(b.block);
    EXPECT_LT(b.data[0][46], 1.0f);
    EXPECT_EQ(b.data[0][47], 1.0f);
}

TEST(AudioTapNode, NewTargetMidRampRestartsFromTheCurrentGain) {
    AudioTapNode node(true);
    halfWayUp(node);

    node.setCueGain(0.0, 0.01);
    PlanarBlock second(1, 600);
    player(node).process(second.block);
    // From 0.5 down to 0 over the full 480 frames.
    EXPECT_NEAR(second.data[0][0], 0.5 - 0.5 / 480, 1e-6);
    EXPECT_NEAR(second.data[0][239], 0.25, 1e-6);
    EXPECT_GT(second.data[0][478], 0.0f);
    EXPECT_EQ(second.data[0][479], 0.0f);
    EXPECT_EQ(second.data[0][599], 0.0f);
}

TEST(AudioTapNode, MutedMonitorStillMetersAndFeedsTheBus) {
    ParkedBus parked;
    AudioTapNode node(false, parked.bus);
    settle(node, 0.5);

    PlanarBlock b(2, 480, -0.8f);
    player(node).process(b.block);
    for (float v : b.data[0]) ASSERT_EQ(v, 0.0f);
    EXPECT_NEAR(node.peakL.exchange(0), 0.4, 1e-7);
    EXPECT_NEAR(node.peakR.exchange(0), 0.4, 1e-7);
    const TapAudioRing& ring = *node.busRing();
    ASSERT_EQ(buffered(ring), 48 + 480);
    EXPECT_NEAR(ring.left[527], -0.4f, 1e-7);
    EXPECT_NEAR(ring.right[527], -0.4f, 1e-7);
}

TEST(AudioTapNode, MonitorRampTakesTwentyMilliseconds) {
    AudioTapNode node(false);
    settle(node, 1.0, 1);
    node.monitorGainTarget.store(1);
    PlanarBlock up(1, 1200);
    player(node).process(up.block);
    EXPECT_NEAR(up.data[0][0], 1.0 / 960, 1e-6);
    EXPECT_NEAR(up.data[0][479], 0.5, 1e-6);
    EXPECT_LT(up.data[0][958], 1.0f);
    EXPECT_EQ(up.data[0][959], 1.0f);
    EXPECT_EQ(up.data[0][1199], 1.0f);
    // The meter sees the cue-gained level throughout, whatever the monitor does.
    EXPECT_EQ(node.peakL.load(), 1.0);

    node.monitorGainTarget.store(0);
    PlanarBlock down(1, 1000);
    player(node).process(down.block);
    EXPECT_NEAR(down.data[0][479], 0.5, 1e-6);
    EXPECT_EQ(down.data[0][959], 0.0f);
}

TEST(AudioTapNode, MonoMetersBothSidesAndFeedsBothBusChannels) {
    ParkedBus parked;
    AudioTapNode node(true, parked.bus);
    player(node).prepare(floatFormat(48000, 1));
    node.setCueGain(1.0, 0.001);
    PlanarBlock b(1, 96, 0.25f);
    player(node).process(b.block);
    EXPECT_EQ(node.peakL.load(), 0.25);
    EXPECT_EQ(node.peakR.load(), 0.25);
    const TapAudioRing& ring = *node.busRing();
    ASSERT_EQ(buffered(ring), 96);
    for (int i = 0; i < 96; ++i) ASSERT_EQ(ring.left[i], ring.right[i]);
    EXPECT_EQ(ring.left[95], 0.25f);
}

TEST(AudioTapNode, InterleavedChannelsAreGainedAndMeteredSeparately) {
    AudioTapNode node(true);
    player(node).prepare(floatFormat(48000, 3));
    node.setCueGain(0.5, 0.001);
    std::vector<float> samples;
    for (int i = 0; i < 100; ++i) samples.insert(samples.end(), {0.2f, -0.6f, 1.0f});
    float* planes[] = {samples.data()};
    media::AudioBlock block{100, 3, true, planes};
    player(node).process(block);
    EXPECT_NEAR(node.peakL.load(), 0.1, 1e-7);
    EXPECT_NEAR(node.peakR.load(), 0.3, 1e-7);
    EXPECT_FLOAT_EQ(samples[297], 0.1f);
    EXPECT_FLOAT_EQ(samples[298], -0.3f);
    EXPECT_FLOAT_EQ(samples[299], 0.5f);  // channels beyond two get the gains only
}

TEST(AudioTapNode, NonFloatStreamsPassUntouched) {
    AudioTapNode node(true);
    media::AudioFormat s16 = floatFormat(48000);
    s16.isFloat32 = false;
    player(node).prepare(s16);
    node.setCueGain(0.5, 0.001);
    PlanarBlock b(2, 256, 0.7f);
    player(node).process(b.block);
    for (float v : b.data[0]) ASSERT_EQ(v, 0.7f);
    EXPECT_EQ(node.processCount.load(), 0u);
    EXPECT_EQ(node.peakL.load(), 0.0);

    // Empty or missing buffers are left alone too.
    player(node).prepare(floatFormat(48000));
    media::AudioBlock empty{0, 2, false, b.ptrs.data()};
    player(node).process(empty);
    media::AudioBlock none{256, 2, false, nullptr};
    player(node).process(none);
    EXPECT_EQ(node.processCount.load(), 0u);
}

TEST(AudioTapNode, SteadyBlocksWithTheBusStoppedLeaveTheRingAlone) {
    auto bus = std::make_shared<ProgramAudioBus>(std::make_shared<test::StepBusClock>());
    AudioTapNode node(true, bus);
    EXPECT_EQ(bus->ringCount(), 1u);
    settle(node, 0.5);
    PlanarBlock b(2, 512, 0.5f);
    player(node).process(b.block);
    for (float v : b.data[1]) ASSERT_EQ(v, 0.25f);
    EXPECT_EQ(node.peakR.load(), 0.25);
    EXPECT_EQ(node.busRing()->writeIdx.load(), 0);
}

TEST(AudioTapNode, FullRingDropsFramesUntilTheBusReads) {
    ParkedBus parked;
    AudioTapNode node(true, parked.bus);
    player(node).prepare(floatFormat(48000));
    node.setCueGain(1.0, 0.001);
    TapAudioRing& ring = *node.busRing();
    for (int i = 0; i < 50; ++i) {
        PlanarBlock b(2, 512, 0.1f);
        player(node).process(b.block);
    }
    EXPECT_EQ(ring.writeIdx.load(), TapAudioRing::capacity);
    ring.readIdx.store(10);  // the bus took ten frames
    PlanarBlock b(2, 512, 0.3f);
    player(node).process(b.block);
    EXPECT_EQ(ring.writeIdx.load(), TapAudioRing::capacity + 10);
    EXPECT_EQ(ring.left[9], 0.3f);
}

TEST(AudioTapNode, ResamplesTo48kHz) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        ParkedBus parked;
        AudioTapNode node(true, parked.bus);
        player(node).prepare(floatFormat(rate));
        node.setCueGain(1.0, 0.001);
        const int frames = int(rate / 100);  // 10 ms
        PlanarBlock b(2, frames, 0.5f);
        player(node).process(b.block);
        EXPECT_NEAR(double(node.busRing()->writeIdx.load()), 480.0, 1.0) << rate;
    }
    // At the bus rate each input frame is one output frame, unchanged.
    ParkedBus parked;
    AudioTapNode node(true, parked.bus);
    settle(node, 1.0);
    PlanarBlock b(2, 4);
    for (int i = 0; i < 4; ++i) b.data[0][i] = b.data[1][i] = float(i) / 8;
    player(node).process(b.block);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(node.busRing()->left[48 + i], float(i) / 8);
}

TEST(AudioTapNode, PrepareLogsTheDelaySincePlay) {
    ManualQueue q;
    ScopedMainQueue scope(q);
    CapturingLogSink log;
    ScopedLogSink logScope(log);
    AudioTapNode node(true);
    node.playIssuedAt.store(appClock().monotonic());
    q.advance(0.125);
    player(node).prepare(floatFormat(48000));
    EXPECT_TRUE(log.contains("tap prepared 125ms after play"));
}

TEST(AudioTapNode, LeavesTheBusWhenDestroyed) {
    auto bus = std::make_shared<ProgramAudioBus>(std::make_shared<test::StepBusClock>());
    {
        AudioTapNode a(true, bus);
        AudioTapNode b(true, bus);
        EXPECT_EQ(bus->ringCount(), 2u);
    }
    EXPECT_EQ(bus->ringCount(), 0u);
    // A node that outlives its bus goes away quietly and stops feeding.
    auto node = std::make_shared<AudioTapNode>(true, bus);
    bus.reset();
    player(*node).prepare(floatFormat(48000));
    node->setCueGain(1.0, 0.001);
    PlanarBlock b(2, 64);
    player(*node).process(b.block);
    EXPECT_EQ(node->busRing()->writeIdx.load(), 0);
    EXPECT_EQ(AudioTapNode::makeAudioMix(node).get(), static_cast<media::AudioProcessor*>(node.get()));
    EXPECT_EQ(AudioTapNode::makeAudioMix(nullptr), nullptr);
}

TEST(AudioTapNode, GainSetBeforePrepareIsAppliedOncePrepared) {
    // The host sets the level as soon as it builds the player; the player prepares the tap later. The
    // clip must not go on air silent.
    AudioTapNode node(true);
    node.setCueGain(0.8, 0.01);
    player(node).prepare(floatFormat(48000));
    PlanarBlock b(2, 1000);
    player(node).process(b.block);
    EXPECT_NEAR(b.data[0][239], 0.4, 1e-6);
    EXPECT_EQ(b.data[0][479], 0.8f);
    EXPECT_EQ(b.data[1][999], 0.8f);
    EXPECT_NEAR(node.peakL.load(), 0.8, 1e-12);
}

TEST(AudioTapNode, RePrepareMidRampContinuesTheRamp) {
    // Half way up a 10 ms ramp to 1, the player reconfigures its audio (a seek, a new format): the gain
    // goes on from where it stood, reaching the target one full ramp time later at the new rate.
    struct Case {
        double rate;
        int rampFrames;
    };
    for (const Case& c : {Case{48000, 480}, Case{44100, 441}}) {
        AudioTapNode node(true);
        halfWayUp(node);
        player(node).prepare(floatFormat(c.rate, 1));
        PlanarBlock second(1, 1000);
        player(node).process(second.block);
        EXPECT_NEAR(second.data[0][0], 0.5 + 0.5 / c.rampFrames, 1e-6) << c.rate;
        for (int i = 1; i < 1000; ++i) ASSERT_GE(second.data[0][i], second.data[0][i - 1]) << c.rate << " " << i;
        EXPECT_LT(second.data[0][c.rampFrames - 2], 1.0f) << c.rate;
        EXPECT_EQ(second.data[0][c.rampFrames - 1], 1.0f) << c.rate;
        EXPECT_EQ(second.data[0][999], 1.0f) << c.rate;
    }
}

TEST(AudioTapNode, PeakIsTheHighestSampleSinceTheLastRead) {
    // A loud block followed by a quiet one before the meter reads still reads loud, whether the blocks take
    // the steady path or the ramping one.
    for (const bool ramping : {false, true}) {
        AudioTapNode node(true);
        settle(node, 1.0);
        if (ramping) node.setCueGain(0.5, 1.0);  // a slow fade: every block ramps
        PlanarBlock loud(2, 480, 0.9f);
        player(node).process(loud.block);
        const double loudPeak = node.peakL.load();
        ASSERT_GT(loudPeak, 0.89) << ramping;
        PlanarBlock quiet(2, 480, 0.1f);
        player(node).process(quiet.block);
        EXPECT_EQ(node.peakL.exchange(0), loudPeak) << ramping;
        EXPECT_EQ(node.peakR.exchange(0), loudPeak) << ramping;
        // Once read, the next block starts afresh.
        PlanarBlock next(2, 480, 0.1f);
        player(node).process(next.block);
        EXPECT_LT(node.peakL.load(), 0.11) << ramping;
    }
}

TEST(AudioTapNode, MutedMonitorWithoutBusStillMetersTheCueLevel) {
    // The steady path, with no bus to feed: the peak is taken after the cue gain, before the monitor gain.
    AudioTapNode node(false);
    settle(node, 0.5);
    PlanarBlock b(2, 480, -0.8f);
    player(node).process(b.block);
    for (float v : b.data[0]) ASSERT_EQ(v, 0.0f);
    EXPECT_NEAR(node.peakL.load(), 0.4, 1e-7);
    EXPECT_NEAR(node.peakR.load(), 0.4, 1e-7);
}

}  // namespace
}  // namespace ombry
