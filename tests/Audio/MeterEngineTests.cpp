#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "Platform/MainQueue.hpp"
#include "Render/Audio/AudioTapNode.hpp"
#include "Render/Audio/MeterEngine.hpp"

namespace ombry {
namespace {

constexpr double tick = MeterEngine::interval;

struct Meter : ::testing::Test {
    Meter() { engine.onLevels = [this](const MeterLevels& m) { reports.push_back(m); }; }

    // What the audio thread leaves behind after one block with these peaks.
    static void play(AudioTapNode& tap, double l, double r) {
        tap.peakL.raise(l);
        tap.peakR.raise(r);
        tap.processCount.fetch_add(1);
    }
    // One tick with a fresh block of these peaks.
    void tickWith(double l, double r) {
        play(*tap, l, r);
        q.advance(tick);
    }

    ManualQueue q;
    ScopedMainQueue scope{q};
    MeterEngine engine;
    std::shared_ptr<AudioTapNode> tap = std::make_shared<AudioTapNode>(true);
    std::vector<MeterLevels> reports;
};

TEST(MeterLevel, SixtyDecibelScale) {
    struct Case {
        double peak, level;
    };
    for (const Case& c : {Case{1.0, 1.0}, Case{2.0, 1.0}, Case{0.1, 2.0 / 3}, Case{0.001, 0}, Case{0.0005, 0},
                          Case{0, 0}, Case{-1, 0}, Case{std::numeric_limits<double>::quiet_NaN(), 0}})
        EXPECT_NEAR(MeterEngine::level(c.peak), c.level, 1e-12) << c.peak;
}

TEST_F(Meter, FastAttackSlowRelease) {
    engine.registerTap(tap);
    tickWith(1.0, 0.1);
    ASSERT_EQ(reports.size(), 1u);
    const double attack = 1 - std::exp(-tick / 0.012);  // about 94% in the first tick
    EXPECT_NEAR(reports[0].l, attack, 1e-9);
    EXPECT_NEAR(reports[0].r, 2.0 / 3 * attack, 1e-9);
    EXPECT_NEAR(reports[0].pl, reports[0].l, 1e-12);

    tickWith(0, 0);
    EXPECT_NEAR(reports.back().l, attack * std::exp(-tick / 0.12), 1e-9);
}

TEST_F(Meter, SteadySignalStopsReporting) {
    engine.registerTap(tap);
    for (int i = 0; i < 30; ++i) tickWith(0.5, 0.5);
    const size_t settled = reports.size();
    EXPECT_NEAR(reports.back().l, MeterEngine::level(0.5), 0.004);
    for (int i = 0; i < 30; ++i) tickWith(0.5, 0.5);
    EXPECT_EQ(reports.size(), settled);
}

TEST_F(Meter, PeakHoldWaitsThenFalls) {
    engine.registerTap(tap);
    tickWith(1.0, 1.0);
    const double top = reports.back().pl;
    // Held for 0.9 s after the rise: ticks 1 to 27 (0.891 s) leave it.
    for (int k = 1; k <= 27; ++k) {
        tickWith(0, 0);
        ASSERT_NEAR(reports.back().pl, top, 1e-12) << k;
    }
    // Then it falls by 0.55 per second.
    tickWith(0, 0);
    EXPECT_NEAR(reports.back().pl, top - 0.55 * tick, 1e-9);
    for (int k = 0; k < 10; ++k) tickWith(0, 0);
    EXPECT_NEAR(reports.back().pl, top - 11 * 0.55 * tick, 1e-9);
    // Never below the bar: a new signal lifts both, and the hold follows the bar up.
    for (int k = 0; k < 5; ++k) tickWith(1.0, 1.0);
    EXPECT_GE(reports.back().pl, reports.back().l);
}

TEST_F(Meter, StalledTapKeepsItsPeakForAQuarterSecond) {
    engine.registerTap(tap);
    tickWith(0.5, 0.5);  // fresh at t
    // No more blocks: its last peak counts up to t + 0.25 s (7 ticks), so the bar keeps rising.
    double previous = reports.back().l;
    for (int k = 1; k <= 7; ++k) {
        q.advance(tick);
        EXPECT_GE(reports.back().l, previous) << k;
        previous = reports.back().l;
    }
    q.advance(tick);  // t + 0.264: stale
    q.advance(tick);
    EXPECT_LT(reports.back().l, previous);
}

TEST_F(Meter, FirstTickAlwaysReports) {
    engine.registerTap(tap);
    q.advance(tick);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].l, 0);
    EXPECT_EQ(reports[0].pr, 0);
    q.advance(10 * tick);
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(Meter, LateTickUsesATenthOfASecond) {
    engine.registerTap(tap);
    play(*tap, 1.0, 1.0);
    q.clock().advance(1.0);
    q.runPending();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NEAR(reports[0].l, 1 - std::exp(-0.1 / 0.012), 1e-12);
}

TEST_F(Meter, StopsOnceTheMetersRestWithoutTaps) {
    engine.registerTap(tap);
    tickWith(1.0, 1.0);
    engine.unregisterTap(tap.get());
    EXPECT_EQ(engine.tapCount(), 0u);
    EXPECT_TRUE(engine.timerRunning());
    q.advance(5.0);
    EXPECT_FALSE(engine.timerRunning());
    const MeterLevels& last = reports.back();
    EXPECT_EQ(last.l, 0);
    EXPECT_EQ(last.r, 0);
    EXPECT_EQ(last.pl, 0);
    EXPECT_EQ(last.pr, 0);
    EXPECT_EQ(reports[reports.size() - 2].pl > 0, true);  // zeros were reported once, at the end
    const size_t count = reports.size();
    q.advance(5.0);
    EXPECT_EQ(reports.size(), count);

    // A new tap starts it again.
    engine.registerTap(tap);
    EXPECT_TRUE(engine.timerRunning());
    tickWith(1.0, 1.0);
    EXPECT_GT(reports.back().l, 0.9);
}

TEST_F(Meter, DisablingKeepsLevelsAndEnablingDiscardsOldPeaks) {
    engine.registerTap(tap);
    tickWith(1.0, 1.0);
    const MeterLevels before = reports.back();
    engine.setEnabled(false);
    EXPECT_FALSE(engine.timerRunning());
    play(*tap, 1.0, 1.0);  // gathered while off
    q.advance(1.0);
    EXPECT_EQ(reports.back().l, before.l);

    engine.setEnabled(true);
    EXPECT_EQ(tap->peakL.load(), 0);
    q.advance(tick);
    EXPECT_LT(reports.back().l, before.l);  // the discarded peak does not hold the bar up
    engine.setEnabled(true);                // the same value changes nothing
    EXPECT_TRUE(engine.timerRunning());
}

TEST_F(Meter, LoudestTapWinsPerSide) {
    auto other = std::make_shared<AudioTapNode>(true);
    engine.registerTap(tap);
    engine.registerTap(other);
    for (int i = 0; i < 30; ++i) {
        play(*tap, 0.1, 0.01);
        play(*other, 0.1, 0.1);
        q.advance(tick);
    }
    // Not summed: two taps at -20 dBFS show -20 dBFS.
    EXPECT_NEAR(reports.back().l, 2.0 / 3, 0.004);
    EXPECT_NEAR(reports.back().r, 2.0 / 3, 0.004);
}

// Blocks through a real tap, as a player's audio thread hands them over.
struct MeterWithTap : Meter {
    void prepare(AudioTapNode& node, double gain) {
        media::AudioFormat f;
        f.sampleRate = 48000;
        f.channels = 2;
        static_cast<media::AudioProcessor&>(node).prepare(f);
        node.setCueGain(gain, 0.001);
    }
    // One block of a steady level; returns the first output sample.
    static float block(AudioTapNode& node, float value) {
        std::vector<float> l(480, value), r(480, value);
        float* planes[] = {l.data(), r.data()};
        media::AudioBlock b{480, 2, false, planes};
        static_cast<media::AudioProcessor&>(node).process(b);
        return l[479];
    }
};

TEST_F(MeterWithTap, FollowsTheCueGainNotTheMonitorGain) {
    // The program meter with no bus running: a clip muted on the monitor still shows its cue level.
    for (const bool audible : {true, false}) {
        MeterEngine meter;
        std::vector<MeterLevels> seen;
        meter.onLevels = [&](const MeterLevels& m) { seen.push_back(m); };
        auto node = std::make_shared<AudioTapNode>(audible);
        prepare(*node, 0.5);
        meter.registerTap(node);
        float out = 0;
        for (int i = 0; i < 30; ++i) {
            out = block(*node, 0.8f);
            q.advance(tick);
        }
        EXPECT_EQ(out, audible ? 0.4f : 0.0f);
        ASSERT_FALSE(seen.empty());
        EXPECT_NEAR(seen.back().l, MeterEngine::level(0.4), 0.004) << audible;
        EXPECT_NEAR(seen.back().r, MeterEngine::level(0.4), 0.004) << audible;
    }
}

TEST_F(MeterWithTap, ReadsTheLoudestBlockSinceTheLastTick) {
    // Several blocks reach the tap between two ticks; the loud one is not hidden by the quiet one after it.
    prepare(*tap, 1.0);
    engine.registerTap(tap);
    block(*tap, 0.05f);  // the gain ramp settles
    q.advance(tick);
    for (int i = 0; i < 30; ++i) {
        block(*tap, 1.0f);
        block(*tap, 0.001f);
        q.advance(tick);
    }
    EXPECT_NEAR(reports.back().l, 1.0, 0.004);
    EXPECT_NEAR(reports.back().r, 1.0, 0.004);
}

}  // namespace
}  // namespace ombry
