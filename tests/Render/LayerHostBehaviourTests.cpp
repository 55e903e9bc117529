// Layer-host behaviours an operator hears or sees between takes: cue updates in place, gain ramps, the
// outgoing clip's sound, paused takes, takes during a fade-out, restarting an ended clip, stale preloads.
#include <gtest/gtest.h>

#include "Render/Audio/AudioTapNode.hpp"
#include "StageRendererFixture.hpp"

using namespace ombry;
using namespace ombry::stage_test;

namespace {

class LayerHostTest : public StageRendererTest {
protected:
    std::shared_ptr<SlotMedia> liveMedia(LayerId l = LayerId::media) {
        return host(l).slot(host(l).activeIndex()).media;
    }
    // The loudest sample the live clip's tap has passed since the last call.
    double drainPeak(AudioTapNode& tap) { return std::max(tap.peakL.exchange(0), tap.peakR.exchange(0)); }
    std::vector<TransportStatus> statusesFor(const ActiveCue& cue) {
        std::vector<TransportStatus> out;
        for (const auto& s : statuses)
            if (s.cueId == cue.cueId) out.push_back(s);
        return out;
    }
};

// A new program state naming the cue already on air updates it in place: no second load, the same media,
// a volume change ramps over 0.01 s, a pause sends exactly one report.
TEST_F(LayerHostTest, TheSameCueAcrossStatesIsUpdatedInPlaceNeverReloaded) {
    auto cue = take(item("red", colourClip("red", 2.0, true)));
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    const auto media = liveMedia();
    ASSERT_TRUE(media && media->tap);
    const int loads = host().loadsStarted();

    store.setLayerVolume(LayerId::media, 0.4);
    store.setActiveFillMode("red", FillMode::fill);
    ASSERT_TRUE(until([&] { return host().idle(); }));
    EXPECT_EQ(host().loadsStarted(), loads);
    EXPECT_EQ(liveMedia(), media);
    EXPECT_EQ(host().slot(host().activeIndex()).fillMode, FillMode::fill);
    EXPECT_NEAR(media->tap->cueGainTarget.load(), 0.4, 1e-9);
    EXPECT_NEAR(media->tap->cueGainRamp.load(), 0.01, 1e-9);

    statuses.clear();
    store.setLayerPlaying(LayerId::media, false);
    ASSERT_TRUE(until([&] { return host().idle(); }));
    EXPECT_EQ(media->player->rate(), 0);
    const auto reports = statusesFor(cue);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].playing);
    EXPECT_EQ(host().loadsStarted(), loads);
}

// The program's master volume scales the cue on air: its target follows within 0.01 s and its sound
// really goes quiet.
TEST_F(LayerHostTest, AMasterVolumeChangeReachesTheSound) {
    auto cue = take(item("red", colourClip("red", 4.0, true)));
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    const auto media = liveMedia();
    ASSERT_TRUE(media && media->tap);
    runFor(0.2);
    drainPeak(*media->tap);
    ASSERT_TRUE(until([&] { return drainPeak(*media->tap) > 0.01; }, 1.0)) << "the clip is not audible";

    store.setMasterVolume(0.5);
    q.runPending();
    EXPECT_NEAR(media->tap->cueGainTarget.load(), 0.5, 1e-9);
    EXPECT_NEAR(media->tap->cueGainRamp.load(), 0.01, 1e-9);

    store.setMasterVolume(0);
    runFor(0.1);
    drainPeak(*media->tap);
    runFor(0.3);
    EXPECT_GT(media->tap->processCount.load(), 0u);
    EXPECT_EQ(drainPeak(*media->tap), 0.0) << "sound still passes at master volume 0";
}

// During a take the outgoing clip's sound ramps to silence over the transition; a cut ramps it in 0.014 s
// and keeps its player alive those 14 ms, so the cut does not click.
TEST_F(LayerHostTest, TheOutgoingSoundRampsDownAndACutHoldsItsPlayer) {
    struct Case {
        TransitionType type;
        int64_t ms;
        double ramp;  // the outgoing tap's ramp, seconds
        double held;  // at least this long between the ramp starting and the player going away
    };
    for (const Case c : {Case{TransitionType::cut, 0, 0.014, 0.014}, Case{TransitionType::crossfade, 300, 0.3, 0.3}}) {
        SCOPED_TRACE(c.ms);
        auto red = take(item("red", colourClip("red", 4.0, true)));
        ASSERT_TRUE(until([&] { return onAir(red); }));
        const auto outgoing = liveMedia();
        ASSERT_TRUE(outgoing && outgoing->tap);
        ASSERT_GT(outgoing->tap->cueGainTarget.load(), 0.9);

        auto blue = take(item("blue", colourClip("blue", 4.0, true)), c.type, c.ms);
        double rampedAt = -1, disposedAt = -1;
        ASSERT_TRUE(until(
            [&] {
                const double now = appClock().monotonic();
                if (rampedAt < 0 && outgoing->tap->cueGainTarget.load() == 0) rampedAt = now;
                if (disposedAt < 0 && outgoing->disposed) disposedAt = now;
                return disposedAt >= 0;
            },
            4.0, 0.002));
        ASSERT_GE(rampedAt, 0);
        EXPECT_NEAR(outgoing->tap->cueGainRamp.load(), c.ramp, 1e-6);
        EXPECT_GE(disposedAt - rampedAt, c.held - 0.003);
        ASSERT_TRUE(until([&] { return onAir(blue); }));
        const auto incoming = liveMedia();
        ASSERT_TRUE(incoming && incoming->tap);
        EXPECT_NEAR(incoming->tap->cueGainTarget.load(), 1.0, 1e-9);
        EXPECT_NEAR(incoming->tap->cueGainRamp.load(), c.ramp, 1e-6);
        store.clearLayer(LayerId::media);
        ASSERT_TRUE(until([&] { return !host().current() && host().idle(); }));
    }
}

// A cue taken paused is revealed without waiting for playback, shows its first picture and its player
// never starts.
TEST_F(LayerHostTest, APausedTakeShowsItsFirstFrameWithoutStartingThePlayer) {
    TriggerOptions paused;
    paused.playing = false;
    auto cue = take(item("red", colourClip("red")), TransitionType::cut, 0, paused);
    ASSERT_TRUE(until([&] { return onAir(cue); }, 0.25)) << "a paused take waited for playback";
    const auto media = liveMedia();
    ASSERT_TRUE(media && media->player);
    runFor(0.3);
    EXPECT_TRUE(looksLike(centre(), kRed)) << centre().r << "," << centre().g << "," << centre().b;
    EXPECT_EQ(media->player->rate(), 0);
    EXPECT_LT(media->player->currentTime(), 0.05);
    for (const auto& s : statusesFor(cue)) EXPECT_FALSE(s.playing);
}

// A take arriving during a 2 s fade-out stops the fade's wait at once and crossfades from the half-faded
// slot, not from full opacity.
TEST_F(LayerHostTest, ATakeDuringAFadeOutStartsAtOnceFromTheHalfFadedSlot) {
    auto red = take(item("red", colourClip("red", 4.0)), TransitionType::fade, 2000);
    ASSERT_TRUE(until([&] { return onAir(red); }));
    store.clearLayer(LayerId::media);
    runFor(1.0);
    ASSERT_TRUE(host().current());
    const auto& fading = host().slot(host().activeIndex());
    const float halfway = fading.visual.opacity.value(appClock().monotonic());
    ASSERT_GT(halfway, 0.1f);
    ASSERT_LT(halfway, 0.9f);

    const int loads = host().loadsStarted();
    const double takenAt = appClock().monotonic();
    take(item("blue", colourClip("blue", 4.0)), TransitionType::crossfade, 1000);
    ASSERT_TRUE(until([&] { return host().loadsStarted() > loads; }, 1.0));
    EXPECT_LT(appClock().monotonic() - takenAt, 0.05) << "the clear kept waiting after a newer state";

    const double start = revealStart();
    ASSERT_GT(start, 0);
    const auto& outgoing = host().slot(host().activeIndex());
    EXPECT_NEAR(outgoing.visual.opacity.from, halfway, 0.1);
    EXPECT_EQ(outgoing.visual.opacity.to, 0.0f);
}

// "play" on a clip that has reached its end restarts it at its start trim, not at 0 and not at the end.
TEST_F(LayerHostTest, PlayOnAnEndedClipRestartsAtTheStartTrim) {
    auto m = item("red", colourClip("red", 1.5));
    m.trimStart = 0.8;
    auto cue = take(m);
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    // The end is found by the decoder thread, which a busy machine may hold back: frames go on until it is.
    ASSERT_TRUE(until([&] { return !statuses.empty() && statuses.back().ended; }, 10.0));
    statuses.clear();
    r->applyTransport(LayerId::media, "play", std::nullopt);
    ASSERT_FALSE(statuses.empty());
    EXPECT_TRUE(statuses.back().playing);
    EXPECT_FALSE(statuses.back().ended);
    ASSERT_TRUE(until([&] { return statuses.size() >= 2; }, 1.0));
    const double t = statuses.back().currentTime;
    EXPECT_GE(t, 0.8);
    EXPECT_LT(t, 1.3);
}

// Selecting another clip while a preload is on its way: the stale preload finishes, finds it is no longer
// wanted and gives its player back, so only the newest preload holds one.
TEST_F(LayerHostTest, AStalePreloadDisposesItsPlayer) {
    item("blue", colourClip("blue"));
    item("red", colourClip("red"));
    r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, std::nullopt);
    // Past the preload's short grace period, but not past its load: the main queue does not run meanwhile.
    for (int i = 0; i < 50 && host().loadsStarted() == 0; ++i) q.advance(0.005);
    ASSERT_EQ(host().loadsStarted(), 1);
    ASSERT_GT(host().loadsInFlight(), 0) << "the first preload finished before the second selection";
    r->prepare(LayerId::media, "red", MediaKind::video, std::nullopt, std::nullopt);
    ASSERT_TRUE(until([&] { return host().prepared() != nullptr && host().loadsInFlight() == 0; }));
    EXPECT_EQ(host().preparedKey()->mediaId, "red");
    EXPECT_EQ(host().livePlayers(), 1);
}

// A raw stream gives no length: its status reads duration 0 while it plays, its real length once it has
// ended; an end trim still stops it, and is its duration from the start.
TEST_F(LayerHostTest, AClipOfUnknownLengthReportsItOnceKnownAndHonoursItsEndTrim) {
    const auto raw = fixture("red-1s.h264", "-f lavfi -i color=c=red:s=64x36:r=30:d=1 -c:v libx264 -pix_fmt yuv420p -f h264");
    ASSERT_FALSE(raw.empty());
    auto cue = take(item("raw", raw));
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back().duration, 0);
    ASSERT_TRUE(until([&] { return !statuses.empty() && statuses.back().ended; }, 10.0));
    EXPECT_NEAR(statuses.back().duration, 1.0, 0.05);
    EXPECT_FALSE(statuses.back().playing);

    auto trimmed = item("trimmed", raw);
    trimmed.trimEnd = 0.5;
    statuses.clear();
    auto second = take(trimmed);
    ASSERT_TRUE(until([&] { return onAir(second); }));
    ASSERT_TRUE(until([&] { return !statuses.empty() && statuses.back().ended; }, 10.0));
    EXPECT_EQ(statuses.back().cueId, second.cueId);
    EXPECT_NEAR(statuses.back().duration, 0.5, 1e-9);
    EXPECT_NEAR(statuses.back().currentTime, 0.5, 0.05);
}

}  // namespace
