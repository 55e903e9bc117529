// The layer hosts and the stage renderer end to end: real decoding of generated clips, real GL on the
// headless context, the virtual clock for every timer (real waits only for decoder threads).
#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "Platform/Log.hpp"
#include "Render/Audio/AudioTapNode.hpp"
#include "StageRendererFixture.hpp"

using namespace ombry;
using namespace ombry::stage_test;

namespace {

// ------------------------------------------------------------------------------------------ takes

TEST_F(StageRendererTest, ATriggerOnTheStoreBecomesTheComposedClip) {
    EXPECT_TRUE(looksLike(centre(), kClear, 0));
    auto cue = take(item("red", colourClip("red")));
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    frame();
    EXPECT_TRUE(looksLike(centre(), kRed)) << centre().r << "," << centre().g << "," << centre().b;
    EXPECT_EQ(r->lastRev(), store.state().rev);
    // The clip plays: the media's picture keeps arriving.
    const auto& media = *host().slot(host().activeIndex()).media;
    EXPECT_GT(media.player->rate(), 0);
    const int shown = media.framesDelivered;
    EXPECT_TRUE(until([&] { return media.framesDelivered >= shown + 2; }, 0.5));
    EXPECT_TRUE(errors.empty());
}

TEST_F(StageRendererTest, ACutNeverBlanksAndShowsTheNewClipOnTheFirstFrameAfterItsLoad) {
    auto red = take(item("red", colourClip("red")));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    auto blue = take(item("blue", colourClip("blue")));
    // Until the reveal every frame shows the old clip; the first frame after it shows the new one.
    auto blueRevealed = [&] {
        const double now = appClock().monotonic();
        for (int i = 0; i < 2; ++i) {
            const auto& s = host().slot(i);
            const auto& other = host().slot(1 - i);
            if (s.cue && s.cue->cueId == blue.cueId && s.visual.opacity.value(now) == 1 &&
                (!other.media || other.visual.opacity.value(now) == 0))
                return true;
        }
        return false;
    };
    bool shown = false;
    for (int n = 0; n < 240 && !shown; ++n) {
        settle();
        q.advance(1.0 / 60);
        out->pump();
        shown = blueRevealed();
        r->tick(appClock().monotonic());
        EXPECT_TRUE(looksLike(centre(), shown ? kBlue : kRed)) << "frame " << n << (shown ? " after" : " before");
    }
    ASSERT_TRUE(shown);
    ASSERT_TRUE(until([&] { return onAir(blue); }));
    EXPECT_EQ(host().livePlayers(), 1);  // the old clip was torn down after the transition
}

TEST_F(StageRendererTest, CrossfadeAtItsMidpointMixesByTheEaseCurve) {
    auto red = take(item("red", colourClip("red")));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    take(item("blue", colourClip("blue")), TransitionType::crossfade, 1000);
    const double start = revealStart();
    ASSERT_GT(start, 0);
    // The old clip lies on top and fades out over the fully opaque new one.
    const auto& old = host().slot(host().activeIndex());
    EXPECT_EQ(old.visual.zPosition, 1);
    const float o = Tween{1, 0, start, 1000}.value(start + 0.5);
    EXPECT_NEAR(o, 0.198, 0.002);
    r->tick(start + 0.5);
    const Rgba c = centre();
    EXPECT_TRUE(looksLike(c, {int(std::lround(255 * o)), 0, int(std::lround(255 * (1 - o))), 255}))
        << c.r << "," << c.g << "," << c.b;
}

TEST_F(StageRendererTest, SlideAndZoomGeometryAtChosenTimes) {
    // Slide of 800 ms onto the empty media layer: the clip enters from the right, nothing leaves.
    auto red = take(item("red", colourClip("red")), TransitionType::slide, 800);
    const double start = revealStart();
    std::vector<StageDraw> draws;
    host().collectDraws(draws, start + 0.4);
    ASSERT_EQ(draws.size(), 1u);
    const float x = Tween{float(W), 0, start, 800}.value(start + 0.4);
    EXPECT_EQ(draws[0].quad, StageQuad::rect({0, 0, W, H}, {x, 1}, {W, H}));
    EXPECT_FLOAT_EQ(draws[0].opacity, 1);
    r->tick(start + 0.4);
    EXPECT_TRUE(looksLike(pixel(int(x) - 2, H / 2), kClear, 0));
    EXPECT_TRUE(looksLike(pixel(int(x) + 3, H / 2), kRed));
    ASSERT_TRUE(until([&] { return onAir(red); }));

    // Zoom of 500 ms over it: the new clip shrinks from 1.12 on top; the old one fades and shrinks to 0.94.
    take(item("blue", colourClip("blue")), TransitionType::zoom, 500);
    const double z = revealStart();
    draws.clear();
    host().collectDraws(draws, z + 0.25);
    ASSERT_EQ(draws.size(), 2u);
    const float e = Tween{0, 1, z, 500}.value(z + 0.25);
    const StageRect whole{0, 0, W, H};
    EXPECT_EQ(draws[0].quad, StageQuad::rect(whole, {0, 1.0f - 0.06f * e}, {W, H}));  // old, below
    EXPECT_NEAR(draws[0].opacity, 1 - e, 1e-5);
    EXPECT_EQ(draws[1].quad, StageQuad::rect(whole, {0, 1.12f - 0.12f * e}, {W, H}));  // new, on top
    EXPECT_FLOAT_EQ(draws[1].opacity, 1);
}

TEST_F(StageRendererTest, FirstTakeOnTheBackgroundRisesOutOfBlack) {
    take(item("lime", stillImage("lime"), MediaKind::image), TransitionType::fade, 400,
         {.layer = LayerId::background});
    double start = -1;
    ASSERT_TRUE(until([&] {
        const auto& in = incomingSlot(LayerId::background);
        if (in.visual.coverOpacity && in.visual.coverOpacity->durationMs > 0) start = in.visual.coverOpacity->start;
        return start > 0;
    }));
    // Half way the cover is at 1 minus the ease curve; at the end it is gone.
    const float cover = Tween{1, 0, start, 400}.value(start + 0.2);
    r->tick(start + 0.2);
    EXPECT_TRUE(looksLike(centre(), {0, int(std::lround(255 * (1 - cover))), 0, 255}, 3));
    r->tick(start + 0.4);
    EXPECT_TRUE(looksLike(centre(), kLime, 3));
}

// ------------------------------------------------------------------------------------ failures, prepare

TEST_F(StageRendererTest, AMissingFileReportsItsCodeAndThePreviousClipStaysOnAir) {
    auto red = take(item("red", colourClip("red")));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    auto gone = item("gone", test::tempDir("gone") / "nothing.mp4");
    auto failed = take(gone);
    MediaItem unknownItem;
    unknownItem.id = "unknown";
    auto unknown = take(unknownItem);
    ASSERT_TRUE(until([&] { return errors.size() == 2 && host().idle(); }));
    EXPECT_EQ(errors[0], std::make_tuple(LayerId::media, failed.cueId, IssueCode::mediaMissing));
    EXPECT_EQ(errors[1], std::make_tuple(LayerId::media, unknown.cueId, IssueCode::mediaMissing));
    expectPlaying(red, kRed);

    // A file that is not media at all fails as a format error, and an unreadable image as such.
    const auto junk = test::tempDir("junk") / "junk.mp4";
    { std::ofstream(junk) << "not a movie"; }
    auto bad = take(item("junk", junk));
    auto badImage = take(item("junkimg", junk, MediaKind::image));
    ASSERT_TRUE(until([&] { return errors.size() == 4 && host().idle(); }));
    EXPECT_EQ(std::get<2>(errors[2]), IssueCode::mediaFormat) << std::get<1>(errors[2]) << bad.cueId;
    EXPECT_EQ(std::get<2>(errors[3]), IssueCode::imageUnreadable) << badImage.cueId;
    EXPECT_EQ(host().current()->cueId, red.cueId);
}

// The file opens and probes fine, but the player then cannot read it: the take fails and the previous
// clip stays, instead of an empty picture going on air.
TEST_F(StageRendererTest, APlayerThatFailsAfterTheFileOpenedFailsTheTake) {
    auto red = take(item("red", colourClip("red")));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    const auto dir = test::tempDir("swap");
    const auto path = dir / "swap.mp4";
    std::filesystem::copy_file(colourClip("blue"), path);
    AssetWarmer::warm(path.string());
    ASSERT_TRUE(until([&] { return AssetWarmer::warmed() && AssetWarmer::warmed()->readiness() == media::Readiness::ready; }));
    { std::ofstream(dir / "junk") << "not a movie"; }
    std::filesystem::rename(dir / "junk", path);
    auto swapped = take(item("swap", path));
    ASSERT_TRUE(until([&] { return errors.size() == 1 && host().idle(); }));
    EXPECT_EQ(errors[0], std::make_tuple(LayerId::media, swapped.cueId, IssueCode::mediaFormat));
    EXPECT_EQ(host().current()->cueId, red.cueId);
    frame();
    EXPECT_TRUE(looksLike(centre(), kRed));
    ASSERT_TRUE(until([&] { return host().livePlayers() == 1; }));
}

// The still decodes, but the GPU refuses its texture: that is this clip's problem (it won't play), not
// the video engine failing to start; the take fails and the previous clip stays.
TEST_F(StageRendererTest, AStillWhoseTextureCannotBeMadeFailsAsAMediaFormatProblem) {
    auto red = take(item("red", colourClip("red")));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    gl->refuse = true;
    auto lime = take(item("lime", stillImage("lime"), MediaKind::image));
    // No frame is composed while the context is refused: only the still's texture asks for it.
    ASSERT_TRUE(q.waitUntil([&] { return !errors.empty() && host().idle(); }, 20.0));
    gl->refuse = false;
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], std::make_tuple(LayerId::media, lime.cueId, IssueCode::mediaFormat));
    expectPlaying(red, kRed);
}

TEST_F(StageRendererTest, APreparedClipIsTakenWithoutASecondLoad) {
    auto blue = item("blue", colourClip("blue"));
    r->prepare(LayerId::media, "blue", MediaKind::video, -3.0, std::nullopt);
    ASSERT_TRUE(until([&] { return host().prepared() != nullptr; }));
    EXPECT_EQ(host().loadsStarted(), 1);
    EXPECT_EQ(host().livePlayers(), 1);
    // The same key again (an absent trim equals a negative one) starts nothing.
    r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, 0.0);
    auto cue = take(blue);
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    EXPECT_EQ(host().loadsStarted(), 1);
    EXPECT_FALSE(host().preparedKey());
    frame();
    EXPECT_TRUE(looksLike(centre(), kBlue));

    // A take right after the selection waits for the running preload instead of loading twice.
    auto red = item("red", colourClip("red"));
    r->prepare(LayerId::media, "red", MediaKind::video, std::nullopt, std::nullopt);
    auto second = take(red);
    ASSERT_TRUE(until([&] { return onAir(second); }));
    EXPECT_EQ(host().loadsStarted(), 2);
    // Preparing another layer drops this layer's preload; an image is never prepared.
    r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, std::nullopt);
    r->prepare(LayerId::overlay, "blue", MediaKind::image, std::nullopt, std::nullopt);
    EXPECT_FALSE(host().preparedKey());
    EXPECT_FALSE(host(LayerId::overlay).preparedKey());
    ASSERT_TRUE(until([&] { return host().livePlayers() == 1; }));
}

// Preloading decodes and uploads the clip's first picture, so its take shows in the very next frame.
TEST_F(StageRendererTest, APreparedClipShowsInTheFirstFrameAfterItsTake) {
    auto red = take(item("red", colourClip("red")));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    auto blue = item("blue", colourClip("blue"));
    r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, std::nullopt);
    ASSERT_TRUE(until([&] { return host().prepared() != nullptr; }));
    EXPECT_TRUE(host().prepared()->texture);
    ASSERT_TRUE(frame());
    EXPECT_TRUE(looksLike(centre(), kRed));
    take(blue);
    ASSERT_TRUE(frame());
    EXPECT_TRUE(looksLike(centre(), kBlue)) << centre().r << "," << centre().g << "," << centre().b;
}

// The GPU cannot take a clip's first picture when it is loaded (refused here; in the field all its
// buffers may still be read): a clip taken paused gets no newer picture, so the same one is uploaded on
// a later frame instead of the layer staying empty.
TEST_F(StageRendererTest, APausedClipWhoseFirstUploadFailedShowsOnALaterFrame) {
    gl->refuse = true;
    auto cue = take(item("blue", colourClip("blue")), TransitionType::cut, 0, {.playing = false});
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    EXPECT_FALSE(host().slot(host().activeIndex()).media->texture);
    gl->refuse = false;
    ASSERT_TRUE(frame());
    EXPECT_TRUE(looksLike(centre(), kBlue)) << centre().r << "," << centre().g << "," << centre().b;
    EXPECT_EQ(host().slot(host().activeIndex()).media->player->rate(), 0);
}

// Likewise a preload's first picture is uploaded on a later frame, ahead of the take, which then shows
// in the first frame after it.
TEST_F(StageRendererTest, APreloadWhoseFirstUploadFailedGetsItBeforeItsTake) {
    auto blue = item("blue", colourClip("blue"));
    gl->refuse = true;
    r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, std::nullopt);
    ASSERT_TRUE(until([&] { return host().prepared() != nullptr; }));
    EXPECT_FALSE(host().prepared()->texture);
    gl->refuse = false;
    ASSERT_TRUE(frame());
    EXPECT_TRUE(host().prepared()->texture);
    take(blue);
    ASSERT_TRUE(frame());
    EXPECT_TRUE(looksLike(centre(), kBlue)) << centre().r << "," << centre().g << "," << centre().b;
}

// A new player whose start-trim seek or preroll never completes: the take fails as timed out after the
// same 2 s the readiness wait allows, the previous clip plays on meanwhile, and the states that arrived
// behind the stuck take collapse to the newest, which then goes on air.
TEST_F(StageRendererTest, AStuckPlayerStartFailsTheTakeAtItsDeadlineAndTheNewestStateFollows) {
    using Step = NativeLayerHost::StartStep;
    struct Case {
        Step step;
        double trimStart;
    };
    for (const Case c : {Case{Step::seek, 0.5}, Case{Step::preroll, 0}}) {
        SCOPED_TRACE(c.step == Step::seek ? "seek" : "preroll");
        auto red = take(item("red", colourClip("red", 4.0)));
        ASSERT_TRUE(until([&] { return onAir(red); }));
        errors.clear();
        stalledLoads = 0;
        bool stalled = false;
        host().stallStart = [&](Step step) {
            if (step != c.step || stalled) return false;
            stalledLoads += 1;
            return stalled = true;
        };
        auto blueItem = item("blue", colourClip("blue"));
        blueItem.trimStart = c.trimStart;
        auto blue = take(blueItem);
        ASSERT_TRUE(q.waitUntil([&] { return stalled; }, 20.0));
        const double stalledAt = appClock().monotonic();
        const int loads = host().loadsStarted();
        // Many states pile up behind the stuck take; the newest leaves the layer on yellow.
        for (int i = 0; i < 20; ++i) {
            take(item("lime", colourClip("lime")));
            store.clearLayer(LayerId::media);
        }
        auto yellow = take(item("yellow", colourClip("yellow")));
        runFor(1.9);
        EXPECT_TRUE(errors.empty());
        EXPECT_FALSE(host().idle());
        expectPlaying(red, kRed);

        ASSERT_TRUE(until([&] { return !errors.empty(); }, 1.0));
        EXPECT_GE(appClock().monotonic() - stalledAt, 2.0);
        EXPECT_EQ(errors[0], std::make_tuple(LayerId::media, blue.cueId, IssueCode::mediaTimeout));
        ASSERT_TRUE(until([&] { return onAir(yellow); }));
        EXPECT_EQ(errors.size(), 1u);
        EXPECT_EQ(host().loadsStarted(), loads + 1);  // yellow alone; the states between never loaded
        frame();
        EXPECT_TRUE(looksLike(centre(), {255, 255, 0, 255}));
        EXPECT_EQ(host().livePlayers(), 1);
        host().stallStart = nullptr;
    }
}

// The same deadline frees a preload whose preroll never completes: its player goes, its key is
// dropped, and a take of that clip then loads it afresh.
TEST_F(StageRendererTest, AStuckPreloadLetsGoOfItsPlayerAtTheDeadline) {
    auto red = take(item("red", colourClip("red", 4.0)));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    bool stalled = false;
    double stalledAt = 0;
    host().stallStart = [&](NativeLayerHost::StartStep step) {
        if (step != NativeLayerHost::StartStep::preroll || stalled) return false;
        stalledLoads += 1;
        stalledAt = appClock().monotonic();
        return stalled = true;
    };
    auto blue = item("blue", colourClip("blue"));
    r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, std::nullopt);
    ASSERT_TRUE(until([&] { return stalled; }, 0.5));  // the preload first leaves a take 60 ms to come
    EXPECT_EQ(host().livePlayers(), 2);
    runFor(1.9);
    EXPECT_TRUE(host().preparedKey());
    ASSERT_TRUE(until([&] { return !host().preparedKey(); }, 0.2));
    EXPECT_GE(appClock().monotonic() - stalledAt, 2.0);
    stalledLoads = 0;  // a preload's failure is not reported: the seam's count is settled here
    EXPECT_EQ(host().livePlayers(), 1);
    EXPECT_FALSE(host().prepared());
    EXPECT_TRUE(errors.empty());
    const int loads = host().loadsStarted();
    auto cue = take(blue);
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    EXPECT_EQ(host().loadsStarted(), loads + 1);
    expectPlaying(cue, kBlue);
}

// ---------------------------------------------------------------------------------- playback and status

TEST_F(StageRendererTest, AClipWithAnEndTrimReportsEndedOnce) {
    auto cue = take(item("red", colourClip("red", 2.0)), TransitionType::cut, 0, {});
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    // Same media again with an end trim: a new take.
    TriggerOptions trimmed;
    auto m = item("red", colourClip("red", 2.0));
    m.trimEnd = 0.5;
    auto end = take(m);
    ASSERT_TRUE(until([&] { return onAir(end); }));
    runFor(1.0);
    std::vector<TransportStatus> ended;
    for (const auto& s : statuses)
        if (s.ended) ended.push_back(s);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].cueId, end.cueId);
    EXPECT_NEAR(ended[0].duration, 0.5, 1e-6);
    EXPECT_NEAR(ended[0].currentTime, 0.5, 0.02);
    EXPECT_FALSE(ended[0].playing);

    // "play" on the ended clip restarts it at its start trim and reports playing.
    statuses.clear();
    r->applyTransport(LayerId::media, "play", std::nullopt);
    ASSERT_FALSE(statuses.empty());
    EXPECT_TRUE(statuses.back().playing);
    EXPECT_FALSE(statuses.back().ended);
}

TEST_F(StageRendererTest, ALoopingClipKeepsPlaying) {
    auto m = item("red1", colourClip("red", 1.0));
    auto cue = take(m, TransitionType::cut, 0, {.loop = true});
    ASSERT_TRUE(until([&] { return onAir(cue); }));
    statuses.clear();
    runFor(2.5);
    ASSERT_GE(statuses.size(), 8u);
    double previous = 0;
    bool wrapped = false;
    for (const auto& s : statuses) {
        EXPECT_FALSE(s.ended);
        EXPECT_TRUE(s.playing);
        EXPECT_LE(s.currentTime, 1.0 + 1e-6);
        if (s.currentTime < previous) wrapped = true;
        previous = s.currentTime;
    }
    EXPECT_TRUE(wrapped);
    EXPECT_TRUE(endings.empty());
    frame();
    EXPECT_TRUE(looksLike(centre(), kRed));
}

TEST_F(StageRendererTest, EndingSoonFiresAtTheDurationMinusTheTransition) {
    auto cue = take(item("red", colourClip("red", 2.0)), TransitionType::crossfade, 600);
    std::optional<double> firedAt;
    r->onEnding = [&](LayerId l, const std::string& id) {
        endings.emplace_back(l, id);
        for (int i = 0; i < 2; ++i)
            if (host().slot(i).media && host().slot(i).media->cueId == id)
                firedAt = host().slot(i).media->player->currentTime();
    };
    ASSERT_TRUE(until([&] { return !endings.empty(); }, 8.0));
    ASSERT_EQ(endings.size(), 1u);
    EXPECT_EQ(endings[0], std::make_pair(LayerId::media, cue.cueId));
    ASSERT_TRUE(firedAt);
    EXPECT_NEAR(*firedAt, 1.4, 0.02);
    runFor(1.0);
    EXPECT_EQ(endings.size(), 1u);
    // A seek back arms it again.
    r->applyTransport(LayerId::media, "seek", 1.0);
    r->applyTransport(LayerId::media, "play", std::nullopt);
    ASSERT_TRUE(until([&] { return endings.size() == 2; }, 1.0));
}

TEST_F(StageRendererTest, StatusEvery250msForTheReportingCueOnly) {
    auto red = take(item("red", colourClip("red")));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    statuses.clear();
    runFor(1.0);
    ASSERT_GE(statuses.size(), 4u);
    ASSERT_LE(statuses.size(), 5u);
    for (size_t i = 1; i < statuses.size(); ++i)
        EXPECT_NEAR(statuses[i].currentTime - statuses[i - 1].currentTime, 0.25, 0.02);
    for (const auto& s : statuses) EXPECT_EQ(s.cueId, red.cueId);

    // From the moment the next take attaches its media, only the new cue reports.
    auto blue = take(item("blue", colourClip("blue")), TransitionType::crossfade, 1000);
    ASSERT_TRUE(until([&] { return host().reportingCueId() == blue.cueId; }));
    statuses.clear();
    ASSERT_TRUE(until([&] { return onAir(blue); }));
    ASSERT_FALSE(statuses.empty());
    for (const auto& s : statuses) EXPECT_EQ(s.cueId, blue.cueId);

    // Transport: pause reports once, seek reports the new time, a NaN or infinite seek is ignored.
    statuses.clear();
    r->applyTransport(LayerId::media, "pause", std::nullopt);
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_FALSE(statuses[0].playing);
    r->applyTransport(LayerId::media, "seek", std::nan(""));
    r->applyTransport(LayerId::media, "seek", INFINITY);
    r->applyTransport(LayerId::media, "seek", std::nullopt);
    r->applyTransport(LayerId::media, "rewind", 1.0);
    runFor(0.3);
    EXPECT_EQ(statuses.size(), 1u);
    r->applyTransport(LayerId::media, "seek", 1.25);
    ASSERT_TRUE(until([&] { return statuses.size() == 2; }));
    EXPECT_NEAR(statuses[1].currentTime, 1.25, 1e-6);
    EXPECT_FALSE(statuses[1].playing);
    // A clear stops the reports at once.
    store.clearLayer(LayerId::media);
    statuses.clear();
    ASSERT_TRUE(until([&] { return !host().current(); }, 2.0));
    r->applyTransport(LayerId::media, "play", std::nullopt);
    EXPECT_TRUE(statuses.empty());
}

// ------------------------------------------------------------------------------------ the stage itself

TEST_F(StageRendererTest, BlackFadesIn250msAndReversesFromWhereItStands) {
    store.setStage([](StageConfig& s) { s.background = "#FF0000"; });
    const double t0 = appClock().monotonic();
    store.setBlack(true);
    r->tick(t0 + 0.125);
    const float half = Tween{0, 1, t0, 250}.value(t0 + 0.125);
    EXPECT_TRUE(test::near(centre(), {int(std::lround(255 * (1 - half))), 0, 0, 255}, 2));
    r->tick(t0 + 0.3);
    EXPECT_TRUE(test::near(centre(), {0, 0, 0, 255}, 1));

    // Off during a fade: from the value it has now, back to 0 over 250 ms.
    q.advance(0.3);
    const double t1 = appClock().monotonic();
    store.setBlack(false);
    q.advance(0.05);
    store.setBlack(true);
    const double t2 = appClock().monotonic();
    const float at = Tween{1, 0, t1, 250}.value(t2);
    EXPECT_EQ(r->blackOpacity(), (Tween{at, 1, t2, 250}));
}

TEST_F(StageRendererTest, AStaleRevisionChangesNothing) {
    ProgramState s = store.state();
    s.rev = 50;
    s.stage.background = "#1E90FF";
    r->apply(s);
    r->tick(appClock().monotonic());
    EXPECT_TRUE(test::near(centre(), {30, 144, 255, 255}, 1));
    ProgramState stale = s;
    stale.rev = 49;
    stale.stage.background = "#FFFFFF";
    stale.black = true;
    r->apply(stale);
    EXPECT_EQ(r->lastRev(), 50);
    EXPECT_EQ(r->stage().background, "#1E90FF");
    EXPECT_EQ(r->blackOpacity().to, 0);
    ProgramState same = stale;
    same.rev = 50;
    r->apply(same);
    EXPECT_EQ(r->stage().background, "#FFFFFF");
}

TEST(StageRendererColour, CssColourTable) {
    using C = std::array<float, 4>;
    const C clear{0, 0, 0, 0};
    for (const char* s : {"#000000", "transparent", "#fff", "white", "#12345G", "#1234567", ""})
        EXPECT_EQ(NativeStageRenderer::cssColor(s), clear) << s;
    EXPECT_EQ(NativeStageRenderer::cssColor("#1E90FF"), (C{30 / 255.f, 144 / 255.f, 1, 1}));
    EXPECT_EQ(NativeStageRenderer::cssColor("#ffffff"), (C{1, 1, 1, 1}));
}

TEST_F(StageRendererTest, StageSizeChangeDropsPreloadsButAFrameRateChangeDoesNot) {
    item("blue", colourClip("blue"));
    r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, std::nullopt);
    store.setStage([](StageConfig& s) { s.fps = 30; });
    EXPECT_TRUE(host().preparedKey());
    store.setStage([](StageConfig& s) { s.width = 32; });
    EXPECT_FALSE(host().preparedKey());
    EXPECT_EQ(r->compositor().stageSize(), (StageSize{32, H}));
    EXPECT_EQ(host().stageSize(), (StageSize{32, H}));
}

class FakeView : public StageViewTarget {
public:
    bool visible = true;
    int presented = 0;
    bool presentable() const override { return visible; }
    void present(StageCompositor&) override { ++presented; }
    double cornerRadius() const override { return 0; }
};

TEST_F(StageRendererTest, FramesAreThrottledAndHandedToConsumersAndVisibleViews) {
    // The GPU counts as done with every frame: the frames dropped while it runs behind are the
    // compositor's tests' concern, the stage rate is this one's.
    struct Done final : FrameFences::Probe {
        GLsync insert() override { return reinterpret_cast<GLsync>(uintptr_t(1)); }
        bool signaled(GLsync) override { return true; }
        void remove(GLsync) override {}
    };
    r->compositor().frameFences().setProbe(std::make_unique<Done>());
    std::vector<std::string> calls;
    r->setCompositeConsumer("syphon", [&](const GpuRenderTarget& t, int fps) {
        EXPECT_EQ(t.width(), W);
        EXPECT_EQ(fps, 60);
        calls.push_back("syphon");
    });
    r->setCompositeConsumer("ndi", [&](const GpuRenderTarget&, int) { calls.push_back("ndi"); });
    auto view = std::make_shared<FakeView>();
    auto hidden = std::make_shared<FakeView>();
    hidden->visible = false;
    r->addView(view);
    r->addView(hidden);
    {
        auto gone = std::make_shared<FakeView>();
        r->addView(gone);
    }
    // A 120 Hz clock on a 60 fps stage composes every second tick.
    const double t0 = appClock().monotonic() + 1;
    const uint64_t before = r->framesComposed();
    for (int i = 0; i < 8; ++i) r->tick(t0 + i / 120.0);
    EXPECT_EQ(r->framesComposed() - before, 4u);
    EXPECT_EQ(calls, (std::vector<std::string>{"syphon", "ndi", "syphon", "ndi", "syphon", "ndi", "syphon", "ndi"}));
    EXPECT_EQ(view->presented, 4);
    EXPECT_EQ(hidden->presented, 0);

    // Re-registering moves a key to the end; no body removes it.
    r->setCompositeConsumer("syphon", [&](const GpuRenderTarget&, int) { calls.push_back("syphon2"); });
    calls.clear();
    r->tick(t0 + 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"ndi", "syphon2"}));
    r->setCompositeConsumer("ndi", std::nullopt);
    r->removeView(view.get());
    hidden->visible = true;
    calls.clear();
    r->tick(t0 + 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"syphon2"}));
    EXPECT_EQ(view->presented, 5);  // the tick before the removal still presented
    EXPECT_EQ(hidden->presented, 1);

    // A 30 fps stage on the same clock: every fourth tick.
    store.setStage([](StageConfig& s) { s.fps = 30; });
    const uint64_t at = r->framesComposed();
    for (int i = 1; i <= 8; ++i) r->tick(t0 + 3 + i / 120.0);
    EXPECT_EQ(r->framesComposed() - at, 2u);
}

TEST_F(StageRendererTest, TimerFrameClockTicksAtItsRateOnTheMainQueue) {
    std::vector<double> ticks;
    TimerFrameClock clock(60);
    clock.start([&](double now) { ticks.push_back(now); });
    q.advance(0.5);
    EXPECT_GE(ticks.size(), 29u);
    EXPECT_LE(ticks.size(), 31u);
    clock.stop();
    const size_t n = ticks.size();
    q.advance(0.5);
    EXPECT_EQ(ticks.size(), n);
}

TEST_F(StageRendererTest, ClearFadesWithTheOutgoingTransitionAndANewTakeStopsTheWait) {
    auto red = take(item("red", colourClip("red")), TransitionType::fade, 1000);
    ASSERT_TRUE(until([&] { return onAir(red); }));
    store.clearLayer(LayerId::media);
    q.runPending();
    const auto& slot = host().slot(host().activeIndex());
    EXPECT_EQ(slot.visual.opacity.durationMs, 1000);
    EXPECT_FALSE(host().reportingCueId());
    runFor(0.5);
    EXPECT_TRUE(host().current());  // still fading
    auto blue = take(item("blue", colourClip("blue")), TransitionType::cut);
    ASSERT_TRUE(until([&] { return onAir(blue); }));
    frame();
    EXPECT_TRUE(looksLike(centre(), kBlue));
    store.clearLayer(LayerId::media);
    ASSERT_TRUE(until([&] { return !host().current(); }, 0.1));
    frame();
    EXPECT_TRUE(looksLike(centre(), kClear, 0));
    EXPECT_EQ(host().livePlayers(), 0);
}

// A failed take's issue line names the file and says in the loader's own words why it failed.
TEST_F(StageRendererTest, AFailedTakeLogsTheFileAndTheReason) {
    CapturingLogSink log;
    ScopedLogSink logScope(log);
    const auto dir = test::tempDir("reasons");
    { std::ofstream(dir / "notes.mp4") << "not a movie, just some text\n"; }
    { std::ofstream(dir / "empty.mov"); }
    take(item("notes", dir / "notes.mp4"));
    take(item("empty", dir / "empty.mov"));
    take(item("gone", dir / "gone.mp4"));
    ASSERT_TRUE(until([&] { return errors.size() == 3 && host().idle(); }));
    EXPECT_TRUE(log.contains("MED-02 Clip won't play subject=notes.mp4 error=the file is not a media file"));
    EXPECT_TRUE(log.contains("MED-02 Clip won't play subject=empty.mov error=the file is empty"));
    EXPECT_TRUE(log.contains("MED-01 Clip is missing subject=gone.mp4 error=media file unavailable"));
}


// ------------------------------------------------------------------------------------------ monitor audio

constexpr std::array<LayerId, 4> kAllLayers = {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio};

double monitorTarget(const std::shared_ptr<SlotMedia>& media) {
    return media && media->tap ? media->tap->monitorGainTarget.load() : -1;
}

// A switch reaches every host and, at once, the clip on air and the preload; the value the renderer
// already has touches no tap; a clip loaded afterwards starts with the new value.
TEST_F(StageRendererTest, MonitorSwitchReachesTheLoadedAndPreparedClipsOnlyWhenItChanges) {
    EXPECT_FALSE(r->monitorAudible());
    auto red = take(item("red", colourClip("red", 4.0, true)));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    item("blue", colourClip("blue", 4.0, true));
    r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, std::nullopt);
    ASSERT_TRUE(until([&] { return host().prepared() != nullptr; }));
    const auto live = host().slot(host().activeIndex()).media;
    const auto prepared = host().prepared();
    ASSERT_TRUE(live->tap && prepared->tap);
    using Targets = std::pair<double, double>;
    auto targets = [&] { return Targets{monitorTarget(live), monitorTarget(prepared)}; };
    EXPECT_EQ(targets(), Targets(0, 0));

    for (bool on : {true, false, true}) {
        SCOPED_TRACE(on);
        r->setMonitorAudible(on);
        EXPECT_EQ(r->monitorAudible(), on);
        for (LayerId l : kAllLayers) EXPECT_EQ(host(l).monitorAudible(), on);
        EXPECT_EQ(targets(), on ? Targets(1, 1) : Targets(0, 0));
    }
    live->tap->monitorGainTarget.store(0.5);
    prepared->tap->monitorGainTarget.store(0.25);
    r->setMonitorAudible(true);
    EXPECT_EQ(targets(), Targets(0.5, 0.25));

    // Loaded after the switch: the new tap is made with the host's value.
    auto lime = take(item("lime", colourClip("lime", 4.0, true)));
    ASSERT_TRUE(until([&] { return onAir(lime); }));
    EXPECT_EQ(monitorTarget(host().slot(host().activeIndex()).media), 1.0);
}

// In the middle of a crossfade both slots hold a clip, and both follow the switch.
TEST_F(StageRendererTest, MonitorSwitchDuringACrossfadeReachesBothClips) {
    auto red = take(item("red", colourClip("red", 4.0, true)));
    ASSERT_TRUE(until([&] { return onAir(red); }));
    take(item("blue", colourClip("blue", 4.0, true)), TransitionType::crossfade, 1000);
    ASSERT_GT(revealStart(), 0);
    r->setMonitorAudible(true);
    EXPECT_EQ(monitorTarget(host().slot(0).media), 1.0);
    EXPECT_EQ(monitorTarget(host().slot(1).media), 1.0);
}

// A load makes its tap before the player is ready; a switch in between still reaches the clip, whether it
// goes on air or into the preload.
TEST_F(StageRendererTest, AClipWhoseLoadWasUnderWayWhenTheMonitorSwitchedFollowsTheSwitch) {
    const auto blue = item("blue", colourClip("blue", 4.0, true));
    for (bool preparing : {false, true}) {
        SCOPED_TRACE(preparing ? "prepare" : "take");
        const bool on = !r->monitorAudible();
        bool switched = false;
        // The preroll runs after the tap was made and before the load hands the clip over.
        host().stallStart = [&](NativeLayerHost::StartStep step) {
            if (step == NativeLayerHost::StartStep::preroll && !switched) {
                r->setMonitorAudible(on);
                switched = true;
            }
            return false;
        };
        std::shared_ptr<SlotMedia> loaded;
        if (preparing) {
            r->prepare(LayerId::media, "blue", MediaKind::video, std::nullopt, std::nullopt);
            ASSERT_TRUE(until([&] { return host().prepared() != nullptr; }));
            loaded = host().prepared();
        } else {
            auto cue = take(blue);
            ASSERT_TRUE(until([&] { return onAir(cue); }));
            loaded = host().slot(host().activeIndex()).media;
        }
        EXPECT_TRUE(switched);
        EXPECT_EQ(monitorTarget(loaded), on ? 1.0 : 0.0);
        host().stallStart = nullptr;
    }
}

// A clip whose every frame has its number in its grey level (luma 4 × n); n from the composed stage's grey,
// back through the limited range the decoder gives.
int shownFrameNumber(Rgba px) { return int(std::lround((px.r * 219.0 / 255.0 + 16.0) / 4.0)); }

std::filesystem::path countingClip() {
    return fixture("count-2s.mp4", "-f lavfi -i \"color=c=black:s=64x36:r=30:d=2,format=yuv420p,"
                                   "geq=lum='N*4':cb=128:cr=128\" -c:v libx264 -qp 0 -g 12 -bf 2");
}

TEST_F(StageRendererTest, APausedLayerHoldsTheFrameOfItsPauseTimeBesideAPlayingOne) {
    const auto counting = countingClip();
    ASSERT_FALSE(counting.empty());
    // Pauses a few frames in, at each phase of the 60 Hz ticks against the 30 fps clip.
    for (int phase = 0; phase < 3; ++phase) {
        SCOPED_TRACE("phase " + std::to_string(phase));
        auto under = take(item("under", colourClip("blue", 4.0)), TransitionType::cut, 0, {.layer = LayerId::background});
        auto cue = take(item("count" + std::to_string(phase), counting));
        ASSERT_TRUE(until([&] { return onAir(cue) && onAir(under, LayerId::background); }));
        ASSERT_TRUE(until([&] { return shownFrameNumber(centre()) >= 12; }));
        for (int i = 0; i < phase; ++i) ASSERT_TRUE(frame());
        const auto& player = *host().slot(host().activeIndex()).media->player;
        store.setLayerPlaying(LayerId::media, false);
        r->applyTransport(LayerId::media, "pause", std::nullopt);
        const double pausedAt = player.currentTime();
        const int expected = int(std::floor(pausedAt * 30 + 1e-6));
        for (int i = 0; i < 30; ++i) {
            ASSERT_TRUE(frame());
            ASSERT_EQ(shownFrameNumber(centre()), expected) << "paused at " << pausedAt << " s, frame " << i;
        }
        EXPECT_EQ(player.rate(), 0);
        EXPECT_GT(host(LayerId::background).slot(host(LayerId::background).activeIndex()).media->player->rate(), 0);
        store.clearLayer(LayerId::media);
        store.clearLayer(LayerId::background);
        ASSERT_TRUE(until([&] { return !host().current() && host().idle(); }));
    }
}

// A live stream's clock follows its device, whose position is sampled anew on each callback: it can
// stand a few milliseconds behind where it stood a moment before. Renders like the null output.
class SteppingClockOutput final : public media::AudioOutput {
public:
    std::atomic<double> behind{0};  // seconds the clock stands behind the application clock

    bool isLive() const override { return true; }
    void setDevice(std::optional<std::string>) override {}
    std::optional<std::string> device() const override { return std::nullopt; }
    double now() const override { return appClock().monotonic() - behind.load(); }
    void pump() override {
        const double until = now();
        if (!started_) head_ = until, started_ = true;
        while (head_ + kBlock / double(kRate) <= until) {
            mix(scratch_.data(), kBlock, head_);
            head_ += kBlock / double(kRate);
            renderHead_.store(head_);
        }
    }

private:
    static constexpr int kBlock = 480;
    std::vector<float> scratch_ = std::vector<float>(size_t(kBlock) * kChannels);
    double head_ = 0;
    bool started_ = false;
};

class SteppingClockStageTest : public StageRendererTest {
protected:
    std::shared_ptr<media::AudioOutput> makeOutput() override { return std::make_shared<SteppingClockOutput>(); }
    SteppingClockOutput& clock() { return static_cast<SteppingClockOutput&>(*out); }
};

TEST_F(SteppingClockStageTest, APausedLayerShowsTheFrameOfItsReportedTimeWhenTheSoundClockStepsBack) {
    const auto counting = countingClip();
    ASSERT_FALSE(counting.empty());
    // How far the clock steps back between the last frame and the pause; the frame before came 2 ms
    // after a new picture's time.
    for (double back : {0.0, 0.003, 0.012}) {
        SCOPED_TRACE("clock back " + std::to_string(back) + " s");
        clock().behind = 0;
        const std::string n = std::to_string(int(back * 1000));
        auto under = take(item("under" + n, counting), TransitionType::cut, 0, {.layer = LayerId::background});
        auto cue = take(item("count" + n, counting));
        ASSERT_TRUE(until([&] { return onAir(cue) && onAir(under, LayerId::background); }));
        ASSERT_TRUE(until([&] { return shownFrameNumber(centre()) >= 12; }));
        const auto& player = *host().slot(host().activeIndex()).media->player;
        const double now = player.currentTime();
        ASSERT_TRUE(frame(std::floor(now * 30 + 1) / 30 + 0.002 - now));
        const int shown = shownFrameNumber(centre());
        clock().behind = back;
        store.setLayerPlaying(LayerId::media, false);
        r->applyTransport(LayerId::media, "pause", std::nullopt);
        ASSERT_FALSE(statuses.empty());
        const TransportStatus paused = statuses.back();
        ASSERT_EQ(paused.cueId, cue.cueId);
        ASSERT_FALSE(paused.playing);
        const int reported = int(std::floor(paused.currentTime * 30 + 1e-6));
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(frame());
            ASSERT_EQ(shownFrameNumber(centre()), reported)
                << "shown " << shown << " before the pause, reported at " << paused.currentTime << " s, frame " << i;
        }
        EXPECT_EQ(reported, shown);
        EXPECT_GT(host(LayerId::background).slot(host(LayerId::background).activeIndex()).media->player->rate(), 0);
        store.clearLayer(LayerId::media);
        store.clearLayer(LayerId::background);
        ASSERT_TRUE(until([&] { return !host().current() && host().idle(); }));
    }
}

}  // namespace
