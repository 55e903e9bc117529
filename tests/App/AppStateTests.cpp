// The application state over the real renderer on the headless context, real generated clips and the
// virtual clock.
#include "AppStateFixture.hpp"

#include <thread>

using namespace ombry;
using namespace ombry::app_test;

namespace {

// Construction.

TEST_F(AppStateTest, ConstructionStartsFromTheDefaultsAndWritesNoSettings) {
    app = std::make_unique<AppState>(env());
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::allPlaylists()});
    EXPECT_EQ(app->masterTransition, AppTransition::fade);
    EXPECT_DOUBLE_EQ(app->transitionDuration, 0.6);
    EXPECT_TRUE(app->uiVisible());
    EXPECT_FALSE(app->previewConnected);
    EXPECT_FALSE(app->started);
    EXPECT_EQ(app->settings(), AppSettings::defaults());
    EXPECT_FALSE(fs::exists(Store::dir() / "settings.json"));
    EXPECT_EQ(app->program.state().stage.width, 1920);
    EXPECT_EQ(app->program.state().stage.height, 1080);
    EXPECT_EQ(app->program.state().stage.fps, 60);
    // The initial project is open, and the renderer saw the program through the wiring.
    EXPECT_FALSE(app->library.projectId().empty());
    EXPECT_EQ(app->previewRenderer().lastRev(), app->program.state().rev);
    EXPECT_FALSE(app->outputBundle().empty());
}

TEST_F(AppStateTest, StoredSettingsAreReadAndUnreadableSideFilesGiveEmptyValuesSilently) {
    AppSettings stored;
    stored.remoteControlPort = 9100;
    Store::saveDoc(stored, Store::dir() / "settings.json");
    for (const char* name : {"mediaRegistry.json", "deletedMedia.json", "savedPlaylists.json"})
        test::writeFile(Store::dir() / name, "{ not json");
    make();
    EXPECT_EQ(app->settings().remoteControlPort, 9100);
    EXPECT_EQ(app->mediaRegistry(), MediaRegistry{});
    EXPECT_EQ(app->mediaTombstones(), MediaTombstones{});
    EXPECT_TRUE(app->savedPlaylists().savedPlaylists().playlists.empty());
    EXPECT_TRUE(IssueLog::shared().recent().empty());
}

TEST_F(AppStateTest, WithoutARendererTheFatalIssueEndsConstructionBeforeTheProjectOpens) {
    rendererFails = true;
    try {
        make();
        FAIL() << "construction went on without a renderer";
    } catch (const FatalCalled& f) {
        EXPECT_EQ(f.code, IssueCode::rendererFailed);
    }
    EXPECT_TRUE(fs::is_empty(Store::projectsDir()));
}

TEST_F(AppStateTest, ProgramsBuiltOnAWorkerAreAwaitedBeforeTheWindowAndTheirFailureIsFatal) {
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "failing" : "built");
        auto e = env();
        e.makeRenderer = [this, fails](MeterEngine* meters) {
            StageProgramBuild::Builder builder = &StagePrograms::build;
            if (fails)
                builder = []() -> RenderResult<StagePrograms> {
                    return RenderError{IssueCode::rendererFailed, "stagePresentFragment.glsl: 0:1(1): error"};
                };
            auto build = StageProgramBuild::start(context()->createShared(), builder);
            EXPECT_TRUE(build);
            return NativeStageRenderer::create(*context(), meters, {.frameClock = nullptr, .audioOutput = out},
                                               std::move(build));
        };
        // Construction goes on while they build: the project opens.
        app = std::make_unique<AppState>(std::move(e));
        EXPECT_FALSE(app->library.projectId().empty());
        try {
            app->awaitRenderer();
            EXPECT_FALSE(fails) << "the failed build went unreported";
            EXPECT_NE(app->previewRenderer().compositor().programStats().builtOn, std::this_thread::get_id());
        } catch (const FatalCalled& f) {
            EXPECT_TRUE(fails);
            EXPECT_EQ(f.code, IssueCode::rendererFailed);
        }
        app.reset();
    }
}

TEST(AppStateProbeLimit, FollowsTheCoresBetweenOneAndSix) {
    const std::pair<unsigned, int> cases[] = {{0, 1}, {1, 1}, {2, 2}, {6, 6}, {12, 6}};
    for (auto [cores, limit] : cases) EXPECT_EQ(AppState::probeLimitFor(cores), limit) << cores;
}

// Taking clips live.

TEST_F(AppStateTest, AManualReTakeClearsTheClipWhileAnAutomaticOneRestartsItWithANewCue) {
    make();
    const MediaItem a = add(video());
    ASSERT_TRUE(app->trigger(a, false));
    ASSERT_TRUE(onAir());
    const std::string first = onAir()->cueId;
    ASSERT_TRUE(app->trigger(a, true));
    ASSERT_TRUE(onAir());
    EXPECT_NE(onAir()->cueId, first);
    EXPECT_TRUE(app->lastTriggerWasAutomatic());
    EXPECT_TRUE(app->trigger(a, false));
    EXPECT_FALSE(onAir());
    EXPECT_FALSE(app->lastTriggerWasAutomatic());
    EXPECT_EQ(app->selectedItemId(), a.id);
}

TEST_F(AppStateTest, TheMissingFileCheckComesBeforeTheToggle) {
    make();
    MediaItem a = add(video());
    ASSERT_TRUE(app->trigger(a, false));
    const std::string cue = onAir()->cueId;
    // The caller's copy points at a file that has gone; the library knows it is offline.
    a.path = (test::tempDir("gone") / "moved.mp4").string();
    app->library.markOffline(a.id);
    IssueLog::shared().clear();
    EXPECT_FALSE(app->trigger(a, false));
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->cueId, cue);
    EXPECT_EQ(beeps, 1);
    const Issue* missing = issue(IssueCode::mediaMissing);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->subject, "moved.mp4");
    // A repeated manual refusal keeps the count; an automatic one raises it, without a beep.
    EXPECT_FALSE(app->trigger(a, false));
    EXPECT_EQ(issue(IssueCode::mediaMissing)->count, 1);
    EXPECT_FALSE(app->trigger(a, true));
    EXPECT_EQ(issue(IssueCode::mediaMissing)->count, 2);
    EXPECT_EQ(beeps, 2);
}

TEST_F(AppStateTest, AnOfflineClipWhoseFileCameBackGoesLiveAndLosesItsMark) {
    make();
    const MediaItem a = add(video());
    app->library.markOffline(a.id);
    EXPECT_TRUE(app->trigger(a, false));
    EXPECT_TRUE(onAir());
    EXPECT_FALSE(app->library.offlineIds().count(a.id));
}

TEST_F(AppStateTest, ATakeNeitherLiftsNorMindsBlackAndFollowsAChangedLayer) {
    make();
    MediaItem a = add(video());
    app->program.setBlack(true);
    ASSERT_TRUE(app->trigger(a, false));
    ASSERT_TRUE(onAir());
    EXPECT_TRUE(app->program.state().black);
    // The toggle looks at the layer, not at the output: under black a manual re-take still clears.
    EXPECT_TRUE(app->trigger(a, false));
    EXPECT_FALSE(onAir());
    app->program.setBlack(false);
    // Moved to the overlay while on air: taken there, and the old cue stays on the media layer.
    ASSERT_TRUE(app->trigger(a, false));
    const std::string old = onAir()->cueId;
    app->library.setMeta(a.id, [](MediaItem& m) { m.layer = LayerId::overlay; });
    a.layer = LayerId::overlay;
    ASSERT_TRUE(app->trigger(a, false));
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->cueId, old);
    ASSERT_TRUE(onAir(LayerId::overlay));
    EXPECT_EQ(onAir(LayerId::overlay)->mediaId, a.id);
}

TEST_F(AppStateTest, TransitionsComeFromTheClipThenThePlaylistThenTheMasterAndNeverFade) {
    using TT = TransitionType;
    struct Case {
        std::optional<TT> clip, list;
        AppTransition master;
        bool isAudio;
        TT expected;
    };
    const Case cases[] = {
        {TT::fade, std::nullopt, AppTransition::cut, false, TT::crossfade},
        {TT::crossfade, std::nullopt, AppTransition::cut, false, TT::crossfade},
        {TT::cut, TT::slide, AppTransition::zoom, false, TT::cut},
        {TT::slide, std::nullopt, AppTransition::cut, true, TT::crossfade},
        {TT::zoom, std::nullopt, AppTransition::cut, true, TT::crossfade},
        {TT::zoom, std::nullopt, AppTransition::cut, false, TT::zoom},
        {std::nullopt, TT::slide, AppTransition::cut, false, TT::slide},
        {std::nullopt, TT::slide, AppTransition::cut, true, TT::crossfade},
        {std::nullopt, TT::fade, AppTransition::cut, false, TT::crossfade},
        {std::nullopt, std::nullopt, AppTransition::zoom, false, TT::zoom},
        {std::nullopt, std::nullopt, AppTransition::fade, false, TT::crossfade},
        {std::nullopt, std::nullopt, AppTransition::cut, true, TT::cut},
    };
    make();
    int n = 0;
    for (const auto& c : cases) {
        MediaItem m = add(c.isAudio ? audio() : video());
        app->library.setMeta(m.id, [&](MediaItem& x) { x.transitionType = c.clip; });
        m.transitionType = c.clip;
        playlist({m.id}, [&](Group& g) { g.transitionType = c.list; });
        app->masterTransition = c.master;
        ASSERT_TRUE(app->trigger(m, true));
        const auto& cue = onAir(c.isAudio ? LayerId::audio : LayerId::media);
        ASSERT_TRUE(cue);
        EXPECT_EQ(cue->transition.type, c.expected) << "case " << n;
        ++n;
    }
}

TEST_F(AppStateTest, TheDurationIsTruncatedToWholeMillisecondsAndNeverCrashes) {
    const std::pair<double, std::int64_t> cases[] = {
        {0.6, 600}, {1.9999, 1999}, {0, 0}, {-1, 0}, {std::nan(""), 0},
        {1e300, std::numeric_limits<std::int64_t>::max()}};
    make();
    const MediaItem a = add(video());
    for (auto [seconds, ms] : cases) {
        app->transitionDuration = seconds;
        ASSERT_TRUE(app->trigger(a, true));
        // The store keeps no negative durations; everything else arrives as given.
        EXPECT_EQ(onAir()->transition.durationMs, std::max<std::int64_t>(ms, 0)) << seconds;
    }
}

TEST_F(AppStateTest, APlaylistThatAdvancesOnEndTakesItsClipsWithoutLoop) {
    make();
    MediaItem a = add(video());
    app->library.setMeta(a.id, [](MediaItem& m) { m.loop = true; });
    a.loop = true;
    MediaItem b = add(video());
    playlist({a.id}, [](Group& g) { g.advanceOnEnd = true; });
    ASSERT_TRUE(app->trigger(a, false));
    EXPECT_FALSE(onAir()->loop);
    // Outside such a playlist a clip with no loop of its own holds its last frame.
    ASSERT_TRUE(app->trigger(b, false));
    EXPECT_FALSE(onAir()->loop);
    EXPECT_EQ(onAir()->endAction, EndAction::hold);
}

TEST_F(AppStateTest, TheBrowserCodecWarningUsesTheProbeOnlyWithAnOutputPageAndRemembersItsVerdict) {
    make();
    const MediaItem h264 = add(video());
    const MediaItem other = add(stage_test::fixture("mpeg4.mkv", "-f lavfi -i color=c=red:s=64x36:d=1 -c:v mpeg4")
                                    .string());
    codecs[other.path] = AppState::fourCC('m', 'p', '4', 'v');
    ASSERT_TRUE(app->trigger(h264, true));
    ASSERT_TRUE(app->trigger(other, true));
    q.runPending();
    EXPECT_TRUE(probed.empty());
    EXPECT_TRUE(app->browserPlayableCache().empty());

    app->outputCount = 1;
    ASSERT_TRUE(app->trigger(h264, true));
    q.runPending();
    EXPECT_FALSE(issue(IssueCode::browserSourceCodec));
    ASSERT_TRUE(app->trigger(other, true));
    q.runPending();
    ASSERT_TRUE(issue(IssueCode::browserSourceCodec));
    EXPECT_EQ(issue(IssueCode::browserSourceCodec)->subject, "mpeg4.mkv");
    EXPECT_EQ(app->browserPlayableCache().at(other.id), false);
    EXPECT_EQ(app->browserPlayableCache().at(h264.id), true);
    // The next take reuses the verdict, and the repeated report raises the count.
    ASSERT_TRUE(app->trigger(other, true));
    q.runPending();
    EXPECT_EQ(probed.size(), 2u);
    EXPECT_EQ(issue(IssueCode::browserSourceCodec)->count, 2);
}

TEST(AppStateCodecs, SixCodesArePlayableInBrowsers) {
    for (const char* code : {"avc1", "muxa", "hvc1", "vp08", "vp09", "av01"})
        EXPECT_TRUE(AppState::browserPlayable(AppState::fourCC(code[0], code[1], code[2], code[3]))) << code;
    for (const char* code : {"mp4v", "apcn", "1cva", "hev1"})
        EXPECT_FALSE(AppState::browserPlayable(AppState::fourCC(code[0], code[1], code[2], code[3]))) << code;
}

TEST_F(AppStateTest, MasterVolumeInDecibelsSetsAGainCappedAtOne) {
    make();
    const std::pair<double, double> cases[] = {{6, 1}, {0, 1}, {-20, 0.1}, {-60, 0.001}};
    for (auto [db, gain] : cases) {
        app->setMasterVolumeDB(db);
        EXPECT_DOUBLE_EQ(app->masterVolumeDB(), db);
        EXPECT_NEAR(app->program.state().masterVolume, gain, 1e-12) << db;
    }
}

TEST_F(AppStateTest, TransportProgressFollowsTheAnchor) {
    make();
    EXPECT_EQ(app->transportProgress(LayerId::overlay), std::make_tuple(0.0, 0.0, false));
    const MediaItem a = add(image());  // reports no playhead of its own
    ASSERT_TRUE(app->trigger(a, false));
    const std::string cue = onAir()->cueId;
    app->program.recordStatus({LayerId::media, cue, a.id, 12.5, 20, false, false});
    advance(30);
    EXPECT_EQ(app->transportProgress(LayerId::media), std::make_tuple(12.5, 20.0, false));
    app->program.recordStatus({LayerId::media, cue, a.id, 12.5, 20, true, false});
    advance(30);
    EXPECT_EQ(app->transportProgress(LayerId::media), std::make_tuple(20.0, 20.0, true));
}

TEST_F(AppStateTest, TrimsAreLimitedToTheClipAndAnEndAtOrBeforeZeroMeansNoEndTrim) {
    struct Case {
        std::optional<double> start, end;
        std::optional<double> trimStart, trimEnd;
    };
    const Case cases[] = {
        {-3, std::nullopt, std::nullopt, std::nullopt},
        {2, 8, 2, 8},
        {std::nullopt, 30, std::nullopt, std::nullopt},
        {5, 4, 5, std::nullopt},
        {std::nullopt, 0, std::nullopt, std::nullopt},
        {std::nullopt, -2, std::nullopt, std::nullopt},
        {0, 3, std::nullopt, 3},
    };
    make();
    const MediaItem a = add(video());
    app->library.setMeta(a.id, [](MediaItem& m) { m.duration = 10; });
    for (const auto& c : cases) {
        app->setItemTrim(a.id, c.start, c.end);
        const MediaItem* m = app->library.item(a.id);
        EXPECT_EQ(m->trimStart, c.trimStart);
        EXPECT_EQ(m->trimEnd, c.trimEnd);
    }
}

// Advance.

TEST(AppStateAdvance, CandidateOrder) {
    struct Case {
        int i, n;
        bool loops;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {2, 5, true, {3, 4, 0, 1, 2}}, {2, 5, false, {3, 4}}, {4, 5, false, {}},
        {0, 1, true, {0}},            {0, 1, false, {}},     {0, 0, true, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppState::advanceCandidates(c.i, c.n, c.loops), c.expected) << c.i << "/" << c.n << c.loops;
}

TEST_F(AppStateTest, AClipEndAdvancesPastDanglingAndMissingClipsAndStopsAtTheEnd) {
    make();
    const MediaItem a = add(video());
    const MediaItem gone = addMissing();
    const MediaItem c = add(video());
    Group g = playlist({a.id, gone.id, c.id}, [](Group& g) { g.advanceOnEnd = true; });
    g.mediaIds.insert(g.mediaIds.begin() + 1, "no-such-clip");
    app->library.updateGroup(g);
    app->library.setMeta(c.id, [](MediaItem& m) { m.endAction = EndAction::clear; });

    ASSERT_TRUE(app->trigger(a, false));
    app->handleClipEnd(LayerId::media, onAir()->cueId);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, c.id);
    EXPECT_EQ(app->selectedItemId(), c.id);
    ASSERT_TRUE(issue(IssueCode::mediaMissing));
    EXPECT_EQ(issue(IssueCode::mediaMissing)->subject, "gone.mp4");
    // The last clip of a playlist that does not loop ends: nothing is taken and its clear is not applied.
    const std::string last = onAir()->cueId;
    app->handleClipEnd(LayerId::media, last);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->cueId, last);
}

// The end of the clip on air: its playlist advances, or else the clip's own end action applies.
TEST_F(AppStateTest, AClipEndAdvancesItsPlaylistOrAppliesItsEndAction) {
    enum class After { next, same, empty };
    struct Case {
        const char* name;
        std::optional<bool> advanceOnEnd, loops;
        std::optional<EndAction> endAction;
        bool lastMissing;  // the playlist's last clip has lost its file
        int ending;        // index of the clip that ends
        After after;
        int next = 0;  // index of the clip taken, for After::next
    };
    const Case cases[] = {
        {"looping, last ends", true, true, std::nullopt, false, 2, After::next, 0},
        {"not looping, last ends", true, false, EndAction::clear, false, 2, After::same},
        {"not looping, next missing", true, false, std::nullopt, true, 1, After::same},
        {"looping, last missing", true, true, std::nullopt, true, 1, After::next, 0},
        {"no advance, clear", std::nullopt, std::nullopt, EndAction::clear, false, 0, After::empty},
        {"no advance, hold", std::nullopt, std::nullopt, EndAction::hold, false, 0, After::same},
        {"advance off, clear", false, true, EndAction::clear, false, 1, After::empty},
    };
    make();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IssueLog::shared().clear();
        std::vector<MediaItem> clips{add(video()), add(video()), c.lastMissing ? addMissing() : add(video())};
        for (auto& m : clips) {
            app->library.setMeta(m.id, [&](MediaItem& x) { x.endAction = c.endAction; });
            m.endAction = c.endAction;
        }
        playlist({clips[0].id, clips[1].id, clips[2].id}, [&](Group& g) {
            g.advanceOnEnd = c.advanceOnEnd;
            g.loopPlaylist = c.loops;
        });
        ASSERT_TRUE(app->trigger(clips[size_t(c.ending)], true));
        const std::string cue = onAir()->cueId;
        app->handleClipEnd(LayerId::media, cue);
        switch (c.after) {
            case After::next:
                ASSERT_TRUE(onAir());
                EXPECT_EQ(onAir()->mediaId, clips[size_t(c.next)].id);
                break;
            case After::same:
                ASSERT_TRUE(onAir());
                EXPECT_EQ(onAir()->cueId, cue);
                break;
            case After::empty: EXPECT_FALSE(onAir()); break;
        }
        EXPECT_EQ(issue(IssueCode::mediaMissing) != nullptr, c.lastMissing);
        app->program.clearAll();
    }
}

// A report of the end of the clip on air is handled before the primary layer is chosen: a media clip that
// clears itself at its end leaves the audio layer primary, and its own last report is not sent.
TEST_F(AppStateTest, AnEndReportIsHandledBeforeThePrimaryLayerIsChosen) {
    make();
    MediaItem v = add(video());
    app->library.setMeta(v.id, [](MediaItem& m) { m.endAction = EndAction::clear; });
    v.endAction = EndAction::clear;
    ASSERT_TRUE(app->trigger(v, false));
    ASSERT_TRUE(app->trigger(add(audio()), false));
    control->transports.clear();
    app->previewRenderer().onStatus({LayerId::media, onAir()->cueId, v.id, 60, 60, false, true});
    EXPECT_FALSE(onAir());
    EXPECT_TRUE(control->transports.empty());
}

TEST_F(AppStateTest, ALateEndReportAndAnEndOutsideAnAdvancingPlaylist) {
    make();
    MediaItem a = add(video());
    const MediaItem b = add(video());
    app->library.setMeta(a.id, [](MediaItem& m) { m.endAction = EndAction::clear; });
    a.endAction = EndAction::clear;
    ASSERT_TRUE(app->trigger(a, false));
    const std::string old = onAir()->cueId;
    ASSERT_TRUE(app->trigger(b, false));
    app->handleClipEnd(LayerId::media, old);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, b.id);
    // Through the renderer's status report: a clip ending with "clear" leaves its layer.
    ASSERT_TRUE(app->trigger(a, false));
    app->previewRenderer().onStatus({LayerId::media, onAir()->cueId, a.id, 2, 2, false, true});
    EXPECT_FALSE(onAir());
}

TEST_F(AppStateTest, TheTimerAdvancesAndAnyTakeCancelsIt) {
    make();
    const MediaItem a = add(video());
    const MediaItem b = add(video());
    const MediaItem x = add(video());
    playlist({a.id, b.id}, [](Group& g) { g.advanceSeconds = 10; });
    ASSERT_TRUE(app->trigger(a, false));
    EXPECT_TRUE(app->advancePending());
    advance(10);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, b.id);

    ASSERT_TRUE(app->trigger(a, false));
    advance(5);
    ASSERT_TRUE(app->trigger(x, false));
    EXPECT_FALSE(app->advancePending());
    advance(20);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, x.id);
}

TEST_F(AppStateTest, NoTimerForAZeroOrNegativeAdvanceTime) {
    make();
    const MediaItem a = add(video());
    Group g = playlist({a.id}, [](Group& g) { g.advanceSeconds = 0; });
    ASSERT_TRUE(app->trigger(a, false));
    EXPECT_FALSE(app->advancePending());
    g.advanceSeconds = -4;
    app->library.updateGroup(g);
    ASSERT_TRUE(app->trigger(a, true));
    EXPECT_FALSE(app->advancePending());
}

TEST_F(AppStateTest, TheAdvanceTimerWaitsAtLeastASecond) {
    make();
    const MediaItem a = add(video());
    const MediaItem b = add(video());
    playlist({a.id, b.id}, [](Group& g) { g.advanceSeconds = 0.25; });
    ASSERT_TRUE(app->trigger(a, false));
    ASSERT_TRUE(app->advancePending());
    advance(0.9);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, a.id);
    advance(0.2);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, b.id);
}

// A stored interval too large for any clock waits a day, the longest interval kept, and then advances.
TEST_F(AppStateTest, AHugeAdvanceTimeWaitsADay) {
    make();
    MediaItem a = add(video());
    app->library.setMeta(a.id, [](MediaItem& m) { m.endAction = EndAction::loop; });  // on air all day
    a = *app->library.item(a.id);
    const MediaItem b = add(video());
    playlist({a.id, b.id}, [](Group& g) { g.advanceSeconds = 1e300; });
    ASSERT_TRUE(app->trigger(a, false));
    ASSERT_TRUE(app->advancePending());
    advance(1);  // the take lands
    q.advance(86398);
    advance(0.5);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, a.id);
    advance(1);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, b.id);
}

TEST_F(AppStateTest, TheRestartOfAOneClipLoopSeeksTheLayerOfTheCueThatEnded) {
    make();
    const MediaItem under = add(video());
    MediaItem a = add(video());
    app->library.setMeta(a.id, [](MediaItem& m) { m.layer = LayerId::overlay; });
    a.layer = LayerId::overlay;
    playlist({a.id}, [](Group& g) {
        g.advanceOnEnd = true;
        g.loopPlaylist = true;
        g.advanceSeconds = 30;
    });
    ASSERT_TRUE(app->trigger(under, false));  // the media layer comes first in the primary order
    ASSERT_TRUE(app->trigger(a, false));
    const std::string cue = onAir(LayerId::overlay)->cueId;
    const std::string underCue = onAir(LayerId::media)->cueId;
    transports.clear();
    advance(20);
    app->handleClipEnd(LayerId::overlay, cue);
    EXPECT_EQ(onAir(LayerId::overlay)->cueId, cue);
    EXPECT_EQ(onAir(LayerId::media)->cueId, underCue);
    ASSERT_EQ(transports.size(), 2u);
    EXPECT_EQ(transports[0].layer, LayerId::overlay);
    EXPECT_EQ(transports[0].action, "seek");
    EXPECT_EQ(transports[0].time, 0.0);
    EXPECT_EQ(transports[1].layer, LayerId::overlay);
    EXPECT_EQ(transports[1].action, "play");
    // One new timer runs from the restart: 30 s from now, not 10 s from now.
    EXPECT_TRUE(app->advancePending());
    transports.clear();
    advance(29);
    EXPECT_TRUE(transports.empty());
    advance(1);
    EXPECT_EQ(transports.size(), 2u);
    EXPECT_EQ(onAir(LayerId::overlay)->cueId, cue);
}

TEST_F(AppStateTest, ALoopingPlaylistWithAMissingClipRestartsTheOneThatEnded) {
    make();
    const MediaItem a = add(video());
    const MediaItem gone = addMissing();
    playlist({a.id, gone.id}, [](Group& g) {
        g.advanceOnEnd = true;
        g.loopPlaylist = true;
    });
    ASSERT_TRUE(app->trigger(a, false));
    const std::string cue = onAir()->cueId;
    transports.clear();
    app->handleClipEnd(LayerId::media, cue);
    EXPECT_EQ(onAir()->cueId, cue);
    ASSERT_FALSE(transports.empty());
    EXPECT_EQ(transports[0].action, "seek");
    EXPECT_TRUE(issue(IssueCode::mediaMissing));
}

// Renderer errors.

TEST_F(AppStateTest, AStaleErrorDoesNothing) {
    make();
    const MediaItem a = add(video());
    playlist({a.id, add(video()).id}, [](Group& g) { g.advanceOnEnd = true; });
    ASSERT_TRUE(app->trigger(a, true));
    const std::string cue = onAir()->cueId;
    app->previewRenderer().onError(LayerId::media, "an-older-cue", IssueCode::mediaFormat);
    app->previewRenderer().onError(LayerId::overlay, cue, IssueCode::mediaFormat);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->cueId, cue);
    EXPECT_TRUE(IssueLog::shared().recent().empty());
}

TEST_F(AppStateTest, AnErrorAfterAnAutomaticTakeAdvancesAndAnAllFailingLoopStopsAfterOneCycle) {
    make();
    const MediaItem a = add(video("red"));
    const MediaItem b = add(video("blue"));
    const MediaItem c = add(video("lime"));
    playlist({a.id, b.id, c.id}, [](Group& g) {
        g.advanceOnEnd = true;
        g.loopPlaylist = true;
    });
    ASSERT_TRUE(app->trigger(a, true));
    std::vector<std::string> taken;
    for (int i = 0; i < 10 && onAir(); ++i) {
        taken.push_back(onAir()->mediaId);
        app->previewRenderer().onError(LayerId::media, onAir()->cueId, IssueCode::mediaFormat);
    }
    EXPECT_EQ(taken, (std::vector<std::string>{a.id, b.id, c.id}));
    EXPECT_FALSE(onAir());
    const Issue* failed = issue(IssueCode::mediaFormat);
    ASSERT_TRUE(failed);
    EXPECT_EQ(IssueLog::shared().recent().size(), 3u);  // one per clip, each once
    EXPECT_EQ(failed->count, 1);
}

TEST_F(AppStateTest, AnErrorForADeletedFileMarksTheClipOfflineAndAManualTakeDoesNotAdvance) {
    withLinks = false;  // the library's own rescan, and every link left out
    make();
    const fs::path copy = test::tempDir("deleted") / "deleted.mp4";
    fs::copy_file(video(), copy);
    const MediaItem a = add(copy.string());
    const MediaItem b = add(video());
    playlist({a.id, b.id}, [](Group& g) {
        g.advanceOnEnd = true;
        g.loopPlaylist = true;
    });
    ASSERT_TRUE(app->trigger(a, false));
    ASSERT_TRUE(q.waitUntil([&] { return settled(); }, 20.0));
    fs::remove(copy);
    app->previewRenderer().onError(LayerId::media, onAir()->cueId, IssueCode::mediaFormat);
    EXPECT_FALSE(onAir());
    EXPECT_TRUE(app->library.offlineIds().count(a.id));
    EXPECT_TRUE(app->rescanInFlight());
    ASSERT_TRUE(issue(IssueCode::mediaFormat));
    EXPECT_EQ(issue(IssueCode::mediaFormat)->subject, "deleted.mp4");
    // The clip whose file is still there stays online, and the manual take advanced nothing.
    ASSERT_TRUE(app->trigger(b, false));
    app->previewRenderer().onError(LayerId::media, onAir()->cueId, IssueCode::mediaFormat);
    EXPECT_FALSE(onAir());
    EXPECT_FALSE(app->library.offlineIds().count(b.id));
    // The rescan that started finds the deleted file still gone.
    EXPECT_TRUE(q.waitUntil([&] { return !app->rescanInFlight(); }, 20.0));
    EXPECT_TRUE(app->library.offlineIds().count(a.id));
}

// Preloading.

TEST_F(AppStateTest, TheNextClipIsWarmedButNeverAnImage) {
    make();
    const MediaItem a = add(video());
    const MediaItem still = add(image());
    const MediaItem b = add(video());
    playlist({a.id, still.id, b.id}, [](Group& g) { g.advanceOnEnd = true; });
    ASSERT_TRUE(app->trigger(still, false));
    EXPECT_EQ(warmed, std::vector<std::string>{b.path});
    ASSERT_TRUE(app->trigger(a, false));
    EXPECT_EQ(warmed.size(), 1u);
}

TEST_F(AppStateTest, SelectingAClipPreparesItOnItsLayerOnlyAfterStartUp) {
    make();
    const MediaItem a = add(video());
    MediaItem over = add(video());
    app->library.setMeta(over.id, [](MediaItem& m) { m.layer = LayerId::overlay; });
    const MediaItem still = add(image());
    auto preparedOn = [&](LayerId l) -> std::optional<std::string> {
        const auto& key = app->previewRenderer().host(l)->preparedKey();
        return key ? std::optional<std::string>(key->mediaId) : std::nullopt;
    };

    app->setSelectedItemId(a.id);
    EXPECT_EQ(app->preloadedId(), a.id);
    EXPECT_FALSE(preparedOn(LayerId::media));

    app->started = true;
    app->setSelectedItemId(over.id);
    EXPECT_EQ(preparedOn(LayerId::overlay), over.id);
    app->setSelectedItemId(still.id);
    EXPECT_EQ(app->preloadedId(), still.id);
    EXPECT_EQ(preparedOn(LayerId::overlay), over.id);
    app->setSelectedItemId(a.id);
    EXPECT_EQ(preparedOn(LayerId::media), a.id);
    EXPECT_FALSE(preparedOn(LayerId::overlay));
    // The clip on air is not prepared again.
    ASSERT_TRUE(app->trigger(a, false));
    ASSERT_TRUE(q.waitUntil([&] { return settled(); }, 20.0));
    app->setSelectedItemId(over.id);
    EXPECT_FALSE(preparedOn(LayerId::media));
    app->setSelectedItemId(a.id);
    EXPECT_EQ(preparedOn(LayerId::overlay), over.id);
    EXPECT_FALSE(preparedOn(LayerId::media));
}

// Wiring.

TEST_F(AppStateTest, OnlyThePrimaryLayerReachesTheRemotes) {
    make();
    const MediaItem v = add(video());
    const MediaItem tone = add(audio());
    auto report = [&](LayerId l, bool ended = false) {
        const auto& cue = onAir(l);
        app->previewRenderer().onStatus({l, cue ? cue->cueId : "gone", "m", 1, 60, true, ended});
    };
    ASSERT_TRUE(app->trigger(v, false));
    ASSERT_TRUE(app->trigger(tone, false));
    control->transports.clear();
    report(LayerId::audio);
    EXPECT_TRUE(control->transports.empty());
    report(LayerId::media);
    EXPECT_EQ(control->transportLayers(), std::vector<LayerId>{LayerId::media});
    app->program.clearLayer(LayerId::media);
    report(LayerId::audio);
    EXPECT_EQ(control->transportLayers().back(), LayerId::audio);
    app->program.clearAll();
    control->transports.clear();
    report(LayerId::audio);
    EXPECT_TRUE(control->transports.empty());
}

// A show left running while the machine sleeps advances on waking once its time has passed in the world.
TEST_F(AppStateTest, TheAdvanceTimerCountsTheTimeTheMachineSleeps) {
    make();
    const MediaItem a = add(video());
    const MediaItem b = add(video());
    playlist({a.id, b.id}, [](Group& g) { g.advanceSeconds = 10; });
    ASSERT_TRUE(app->trigger(a, false));
    advance(2);
    q.suspend(7);
    ASSERT_TRUE(q.waitUntil([this] { return settled(); }, 20.0));
    EXPECT_EQ(onAir()->mediaId, a.id);
    advance(1);
    EXPECT_EQ(onAir()->mediaId, b.id);
}

TEST_F(AppStateTest, ProgramChangesAndTransportGoToTheOutputServerInOrder) {
    make();
    const MediaItem a = add(video());
    playlist({a.id}, [](Group& g) {
        g.advanceOnEnd = true;
        g.loopPlaylist = true;
    });
    server->states.clear();
    ASSERT_TRUE(app->trigger(a, false));
    app->setMasterVolumeDB(-20);
    ASSERT_EQ(server->states.size(), 2u);
    EXPECT_EQ(server->states[0].layers[LayerId::media].active->mediaId, a.id);
    EXPECT_EQ(server->states[1], app->program.state());
    EXPECT_LT(server->states[0].rev, server->states[1].rev);
    // The restart of a one-clip loop goes out as transport to the pages too.
    app->handleClipEnd(LayerId::media, onAir()->cueId);
    ASSERT_EQ(server->transports.size(), 2u);
    EXPECT_EQ(server->transports[0].action, "seek");
    EXPECT_EQ(server->transports[1].action, "play");
}

TEST_F(AppStateTest, LibraryChangesSendTheMediaAndThumbnailIndexes) {
    make();
    const MediaItem a = add(video());
    ASSERT_FALSE(server->mediaIndexes.empty());
    EXPECT_EQ(server->mediaIndexes.back(), (MediaIndex{{a.id, a.path}}));
    EXPECT_EQ(server->thumbIndexes.back(), MediaIndex{});
    app->library.setMeta(a.id, [](MediaItem& m) { m.thumbAt = 1.7e12; });
    const MediaIndex thumbs{{a.id, (Store::thumbnailDir() / (a.id + ".jpg")).string()}};
    EXPECT_EQ(server->thumbIndexes.back(), thumbs);
    ASSERT_FALSE(control->thumbIndexes.empty());
    EXPECT_EQ(control->thumbIndexes.back(), thumbs);
    ASSERT_FALSE(ble->thumbIndexes.empty());
    EXPECT_EQ(ble->thumbIndexes.back(), thumbs);
}

// The servers and the Bluetooth remote report from their own threads: counts, the Bluetooth state and the
// control server's addresses land on the main queue, and a report that arrives after the state has gone
// does nothing.
TEST_F(AppStateTest, StatusReportsHopToTheMainQueue) {
    make();
    std::thread([this] {
        server->onConnections(2);
        control->onClientsChanged(3, 1);
        ble->onClientsChanged(4);
    }).join();
    EXPECT_EQ(app->outputCount, 0);  // nothing touched off the main thread
    ASSERT_TRUE(q.waitUntil([this] { return app->bleRemoteCount() == 4; }, 20.0));
    EXPECT_EQ(app->outputCount, 2);
    EXPECT_EQ(app->wifiRemoteCount(), 3);
    EXPECT_EQ(app->companionCount(), 1);
    // The Bluetooth state counts only while the Bluetooth remote is on in the settings.
    auto reportState = [&](bt::BluetoothState state) {
        std::thread([&] { ble->onStateChange(state); }).join();
        q.runPending();
    };
    reportState(bt::BluetoothState::poweredOn);
    EXPECT_FALSE(app->bleState());
    AppSettings s = app->settings();
    s.bleRemoteEnabled = true;
    app->setSettings(s);
    reportState(bt::BluetoothState::poweredOn);
    EXPECT_EQ(app->bleState(), bt::BluetoothState::poweredOn);
    s.bleRemoteEnabled = false;
    app->setSettings(s);
    reportState(bt::BluetoothState::poweredOff);
    EXPECT_FALSE(app->bleState());  // stopping the remote clears it, and a late report sets nothing
    // Addresses of the control server count only once its start has set them.
    auto reportInfo = [&](std::int64_t port) {
        std::thread([&] { control->onInfoChange(ServerInfo{port, "http://localhost:" + std::to_string(port) + "/", {}}); })
            .join();
        q.runPending();
    };
    reportInfo(7341);
    EXPECT_FALSE(app->controlServerInfo());
    app->setControlServerInfo(ServerInfo{7342, "http://localhost:7342/", {}});
    reportInfo(7343);
    ASSERT_TRUE(app->controlServerInfo());
    EXPECT_EQ(app->controlServerInfo()->port, 7343);
    // The advertisement's status shows until the next restart of the remote side.
    const AdvertiseStatus registered{AdvertiseStatus::Kind::registered, "Stage Left", 0};
    std::thread([&] { control->onAdvertiseStatus(registered); }).join();
    q.runPending();
    EXPECT_EQ(app->bonjourStatus(), registered);
    s.remoteControlPort = 7400;
    app->setSettings(s);
    q.runPending();
    EXPECT_FALSE(app->bonjourStatus());
    app.reset();
    server->onConnections(5);
    q.runPending();
}

// The level in dB and the mute reach both remotes also when the program's gain stays where it is: above
// 0 dB it is capped at 1, and muting at -60 dB leaves it at the bottom.
TEST_F(AppStateTest, VolumeAndMuteReachTheRemotesWhenTheGainStaysTheSame) {
    make();
    app->snapshotHook = [&]() -> std::optional<ControlSnapshot> {
        ControlSnapshot snapshot;
        snapshot.masterVolumeDB = app->masterVolumeDB();
        snapshot.muted = app->isMuted();
        return snapshot;
    };
    const double gain = app->program.state().masterVolume;
    app->setMasterVolumeDB(3);
    app->setMasterVolumeDB(6);
    EXPECT_EQ(app->program.state().masterVolume, gain);
    ASSERT_EQ(control->snapshots.size(), 2u);
    EXPECT_EQ(control->snapshots[1].masterVolumeDB, 6);
    app->setMasterVolumeDB(-60);  // the gain moves: one snapshot through the program's change
    ASSERT_EQ(control->snapshots.size(), 3u);
    app->toggleMute();  // -60 dB either way
    ASSERT_EQ(control->snapshots.size(), 4u);
    EXPECT_TRUE(control->snapshots[3].muted);
    EXPECT_EQ(ble->snapshots, control->snapshots);
}

// Each program and library change sends both remotes one new snapshot; playback reports of the primary
// layer go to both as transport messages.
TEST_F(AppStateTest, RemotesGetASnapshotPerChangeAndTheTransportOfThePrimaryLayer) {
    make();
    int built = 0;
    app->snapshotHook = [&]() -> std::optional<ControlSnapshot> {
        ++built;
        ControlSnapshot snapshot;
        snapshot.rev = app->program.state().rev;
        snapshot.clips.resize(app->library.media().size());
        return snapshot;
    };
    const MediaItem a = add(video());  // a library change
    ASSERT_EQ(built, 1);
    ASSERT_EQ(control->snapshots.size(), 1u);
    EXPECT_EQ(control->snapshots[0].clips.size(), 1u);
    EXPECT_EQ(ble->snapshots, control->snapshots);
    ASSERT_TRUE(app->trigger(a, false));  // a program change
    ASSERT_EQ(built, 2);
    ASSERT_EQ(control->snapshots.size(), 2u);
    EXPECT_EQ(control->snapshots[1].rev, app->program.state().rev);
    EXPECT_EQ(ble->snapshots, control->snapshots);

    app->previewRenderer().onStatus({LayerId::media, onAir()->cueId, a.id, 12.5, 60, true, false});
    const ControlTransportMessage expected{LayerId::media, 12.5, 60, true};
    ASSERT_EQ(control->transports.size(), 1u);
    EXPECT_EQ(control->transports[0], expected);
    EXPECT_EQ(ble->transports, control->transports);
}

// The remote-control server's and the Bluetooth remote's hooks are called on their own threads: the work
// runs on the main queue and the reply is given there; once the state has gone a command or an upload is
// answered "shutting down", a snapshot with nothing and the playlist list empty.
TEST_F(AppStateTest, RemoteCommandsAndSnapshotRequestsRunOnTheMainQueue) {
    make();
    std::vector<std::string> ran;
    app->performHook = [&](const ControlCommand& command) {
        ran.push_back(describe(command) + (q.isMainThread() ? " on main" : " elsewhere"));
        return ControlResult::notFound("no clip x");
    };
    app->snapshotHook = [&]() -> std::optional<ControlSnapshot> {
        ControlSnapshot snapshot;
        snapshot.rev = 42;
        return snapshot;
    };
    const Group list = app->library.createGroup("Walk-in");
    std::vector<ControlResult> results;
    std::vector<std::optional<ControlSnapshot>> snapshots;
    std::vector<std::vector<UploadPlaylistInfo>> playlists;
    std::vector<UploadIngestResult> ingests;
    auto ask = [&] {
        // A landed upload: the ingest owns the file from the hand-over on.
        const fs::path landed = Store::mediaIncomingDir() / "landed.mp4";
        fs::create_directories(landed.parent_path());
        fs::copy_file(video(), landed, fs::copy_options::overwrite_existing);
        std::thread([&] {
            control->perform(control::ClearAll{}, [&](ControlResult r) { results.push_back(r); });
            ble->perform(control::Black{ToggleOp::on}, [&](ControlResult r) { results.push_back(r); });
            control->uploadPlaylists([&](std::vector<UploadPlaylistInfo> l) { playlists.push_back(std::move(l)); });
            control->ingestUpload({landed.string(), "Walk-in loop.mp4", std::nullopt, list.id, std::nullopt},
                                  [&](UploadIngestResult r) { ingests.push_back(std::move(r)); });
            control->snapshot([&](std::optional<ControlSnapshot> s) { snapshots.push_back(std::move(s)); });
        }).join();
    };
    ask();
    EXPECT_TRUE(ran.empty());
    ASSERT_TRUE(q.waitUntil([&] { return snapshots.size() == 1; }, 20.0));
    EXPECT_EQ(ran, (std::vector<std::string>{describe(control::ClearAll{}) + " on main",
                                             describe(control::Black{ToggleOp::on}) + " on main"}));
    EXPECT_EQ(results, (std::vector<ControlResult>{ControlResult::notFound("no clip x"),
                                                   ControlResult::notFound("no clip x")}));
    ASSERT_TRUE(snapshots[0]);
    EXPECT_EQ(snapshots[0]->rev, 42);
    ASSERT_EQ(playlists.size(), 1u);
    EXPECT_EQ(playlists[0], (std::vector<UploadPlaylistInfo>{{list.id, "Walk-in"}}));
    ASSERT_TRUE(q.waitUntil([&] { return ingests.size() == 1; }, 60.0));
    ASSERT_TRUE(ingests[0].ok) << ingests[0].message;
    ASSERT_TRUE(app->library.item(ingests[0].id));
    EXPECT_EQ(app->playlist(ingests[0].id)->id, list.id);

    ASSERT_TRUE(q.waitUntil([&] { return settled() && app->intake().probesInFlight() == 0; }, 20.0));
    app.reset();
    ask();
    q.runPending();
    EXPECT_EQ(playlists.back(), std::vector<UploadPlaylistInfo>{});
    ASSERT_EQ(ingests.size(), 2u);
    EXPECT_EQ(ingests[1], UploadIngestResult::failed("shutting down"));
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[2], ControlResult::badRequest("shutting down"));
    EXPECT_EQ(results[3], ControlResult::badRequest("shutting down"));
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_FALSE(snapshots[1]);
    EXPECT_EQ(ran.size(), 2u);
}

// As wired: a remote's command is carried out on the program, and the snapshots sent and asked for are
// the application's own.
TEST_F(AppStateTest, RemoteCommandsReachThePlaybackAndSnapshotsDescribeTheProgram) {
    make();
    const MediaItem a = add(video());
    ASSERT_TRUE(app->trigger(a, false));
    ASSERT_FALSE(control->snapshots.empty());
    EXPECT_EQ(control->snapshots.back(), app->controlSnapshot());
    ASSERT_TRUE(control->snapshots.back().layers.media);
    EXPECT_EQ(control->snapshots.back().layers.media->mediaId, a.id);
    std::optional<ControlResult> result;
    std::optional<std::optional<ControlSnapshot>> asked;
    std::thread([&] {
        control->perform(control::ClearAll{}, [&](ControlResult r) { result = r; });
        control->snapshot([&](std::optional<ControlSnapshot> s) { asked = std::move(s); });
    }).join();
    ASSERT_TRUE(q.waitUntil([&] { return asked.has_value(); }, 20.0));
    EXPECT_EQ(result, ControlResult::ok());
    EXPECT_FALSE(onAir());
    ASSERT_TRUE(*asked);
    EXPECT_EQ((*asked)->rev, app->program.state().rev);
    EXPECT_FALSE((*asked)->layers.media);
    EXPECT_EQ(ble->snapshots.back(), **asked);
}

TEST_F(AppStateTest, IntakeProbesAndLooksForLostFiles) {
    make();
    const int probesAtOpen = intake->probes;
    app->probeMissing();
    EXPECT_EQ(intake->probes, probesAtOpen + 1);
    const fs::path copy = test::tempDir("lost") / "lost.mp4";
    fs::copy_file(video(), copy);
    const MediaItem a = add(copy.string());
    ASSERT_TRUE(app->trigger(a, false));
    fs::remove(copy);
    app->previewRenderer().onError(LayerId::media, onAir()->cueId, IssueCode::mediaFormat);
    EXPECT_EQ(intake->rescans, 1);
    EXPECT_FALSE(app->rescanInFlight());  // intake's search, not the library's
}

TEST_F(AppStateTest, EveryMeterReportReachesTheStateEvenWhenEqual) {
    make();
    int reports = 0;
    app->onMeter = [&](const MeterLevels&) { ++reports; };
    const MeterLevels levels{0.5, 0.25, 0.75, 0.5};
    app->meterEngine().onLevels(levels);
    app->meterEngine().onLevels(levels);
    EXPECT_EQ(reports, 2);
    EXPECT_EQ(app->meter().l, 0.5);
    EXPECT_EQ(app->meter().pr, 0.5);
}

TEST_F(AppStateTest, EachLostDisplayIsReportedInOrder) {
    make();
    app->displays().onDisplaysLost({"Left", "Right"});
    const auto& recent = IssueLog::shared().recent();  // newest first
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0].code, IssueCode::displayDisconnected);
    EXPECT_EQ(recent[0].subject, "Right");
    EXPECT_EQ(recent[1].subject, "Left");
    EXPECT_TRUE(app->openDisplayIDs().empty());
}

TEST_F(AppStateTest, AChangedStageGoesIntoTheProjectOnce) {
    make();
    app->program.setStage([](StageConfig& s) { s.fps = 30; });
    ASSERT_TRUE(app->library.stage());
    EXPECT_EQ(app->library.stage()->fps, 30);
    const auto doc = decodeJsonText<ProjectDoc>(test::readFile(*app->library.documentURL()));
    ASSERT_TRUE(doc.stage);
    EXPECT_EQ(doc.stage->fps, 30);
    // A program change that keeps the stage writes nothing.
    const auto written = fs::last_write_time(*app->library.documentURL());
    fs::last_write_time(*app->library.documentURL(), written - std::chrono::hours(1));
    app->program.setBlack(true);
    EXPECT_EQ(fs::last_write_time(*app->library.documentURL()), written - std::chrono::hours(1));
}

// End to end.

TEST_F(AppStateTest, APlaylistThatAdvancesOnEndGoesToTheNextClipWithoutABlankFrame) {
    realWarmer = true;
    make();
    app->program.setStage([](StageConfig& st) {
        st.width = stage_test::W;
        st.height = stage_test::H;
        st.fps = 30;
    });
    const MediaItem a = add(stage_test::colourClip("red", 1.0).string());
    const MediaItem b = add(stage_test::colourClip("blue", 1.0).string());
    playlist({a.id, b.id}, [](Group& g) {
        g.advanceOnEnd = true;
        g.loopPlaylist = true;
    });
    ASSERT_TRUE(app->trigger(a, false));
    // The next clip is opening while the first one plays.
    ASSERT_TRUE(AssetWarmer::warmed());
    EXPECT_EQ(AssetWarmer::warmed()->path(), b.path);

    auto centre = [&] {
        return test::readTarget(app->previewRenderer().compositor().target()).at(stage_test::W / 2, stage_test::H / 2);
    };
    bool sawRed = false, sawBlue = false;
    int blankAfterRed = 0;
    for (int frame = 0; frame < 150 && !(sawBlue && onAir()->mediaId == b.id && frame > 0); ++frame) {
        advance(1.0 / 30);
        out->pump();
        app->previewRenderer().tick(appClock().monotonic());
        const auto px = centre();
        if (stage_test::looksLike(px, stage_test::kRed)) sawRed = true;
        else if (stage_test::looksLike(px, stage_test::kBlue)) sawBlue = sawRed;
        else if (sawRed) ++blankAfterRed;
        ASSERT_TRUE(onAir());
    }
    EXPECT_TRUE(sawRed);
    EXPECT_TRUE(sawBlue);
    EXPECT_EQ(blankAfterRed, 0);
    EXPECT_EQ(onAir()->mediaId, b.id);
    EXPECT_TRUE(app->lastTriggerWasAutomatic());
}


// Loops on air, through the renderer's own end reports.

class AppStateLoopTest : public AppStateTest {
protected:
    // Frames of the stage for `seconds` of the virtual clock, as the frame loop runs them.
    void play(double seconds) {
        const double end = appClock().monotonic() + seconds;
        while (appClock().monotonic() < end) {
            advance(1.0 / 30);
            if (HasFatalFailure()) return;
            out->pump();
            app->previewRenderer().tick(appClock().monotonic());
            // As a display would: the decoders have the next pictures before the clock moves on.
            ASSERT_TRUE(q.waitUntil([this] { return picturesReady(); }, 20.0)) << "the decoders did not catch up";
        }
    }
    bool picturesReady() {
        const auto* h = app->previewRenderer().host(LayerId::media);
        const auto& m = h->slot(h->activeIndex()).media;
        if (!m || !m->player || m->player->readiness() != media::Readiness::ready) return true;
        return m->player->currentTime() >= m->duration - 0.1 || m->player->bufferedFrames() > 0;
    }
    // After more than two passes of a one-second clip: the same cue, playing, somewhere inside the clip.
    void expectLooping(const std::string& cueId, const std::string& label) {
        ASSERT_TRUE(onAir()) << label;
        EXPECT_EQ(onAir()->cueId, cueId) << label;
        EXPECT_TRUE(onAir()->playing) << label;
        const auto [current, duration, playing] = app->transportProgress(LayerId::media);
        EXPECT_TRUE(playing) << label;

        EXPECT_GT(current, 0.05) << label << ": held at the start";
        EXPECT_LT(current, 0.95) << label << ": held at the end";
    }
};

TEST_F(AppStateLoopTest, AOneClipLoopingPlaylistLoopsWhateverItsTransition) {
    struct Case {
        const char* label;
        AppTransition kind;
        double seconds;
    };
    for (const Case& c : {Case{"cut", AppTransition::cut, 0}, Case{"fade of 0 s", AppTransition::fade, 0},
                          Case{"fade of 0.3 s", AppTransition::fade, 0.3}}) {
        make();
        app->masterTransition = c.kind;
        app->transitionDuration = c.seconds;
        const MediaItem a = add(stage_test::colourClip("red", 1.0).string());
        playlist({a.id}, [](Group& g) {
            g.advanceOnEnd = true;
            g.loopPlaylist = true;
        });
        ASSERT_TRUE(app->trigger(a, false));
        const std::string cue = onAir()->cueId;
        play(2.6);
        expectLooping(cue, c.label);
        ASSERT_TRUE(q.waitUntil([this] { return settled(); }, 20.0));
        app.reset();
        q.runPending();
        emptySupportFolder();
    }
}

TEST_F(AppStateLoopTest, AClipWhoseEndActionIsLoopLoopsWithoutItsLoopFlag) {
    make();
    MediaItem a = add(stage_test::colourClip("red", 1.0).string());
    app->library.setMeta(a.id, [](MediaItem& m) { m.endAction = EndAction::loop; });
    a = *app->library.item(a.id);
    ASSERT_FALSE(a.loop);
    ASSERT_TRUE(app->trigger(a, false));
    EXPECT_TRUE(onAir()->loop);
    const std::string cue = onAir()->cueId;
    play(2.6);
    expectLooping(cue, "end action loop");
}

TEST_F(AppStateLoopTest, AClipTakenAgainAfterItEndedPlaysFromItsStart) {
    make();
    const MediaItem a = add(stage_test::colourClip("red", 1.0).string());
    const MediaItem b = add(stage_test::colourClip("blue", 1.0).string());
    playlist({a.id, b.id}, [](Group& g) {
        g.advanceOnEnd = true;
        g.loopPlaylist = true;
    });
    ASSERT_TRUE(app->trigger(a, false));
    // The operator paused it and scrubbed towards its end before letting it play out.
    const auto send = [this](const std::string& action, std::optional<double> time) {
        if (action == "play" || action == "pause") app->program.setLayerPlaying(LayerId::media, action == "play");
        app->program.onTransport(TransportCommandMessage{LayerId::media, action, time});
    };
    play(0.2);
    send("pause", std::nullopt);
    play(0.1);
    send("seek", 0.7);
    play(0.1);
    send("play", std::nullopt);
    play(0.8);
    ASSERT_TRUE(onAir());
    ASSERT_EQ(onAir()->mediaId, b.id) << "the playlist did not move on";
    ASSERT_TRUE(app->trigger(a, false));
    const std::string cue = onAir()->cueId;
    play(0.4);
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, a.id) << "the clip taken again did not stay on air";
    EXPECT_EQ(onAir()->cueId, cue);
    const auto [current, duration, playing] = app->transportProgress(LayerId::media);
    EXPECT_TRUE(playing);
    EXPECT_LT(current, 0.9) << "started at its end";
}

// A slideshow of stills that advances on a timer, with one picture that cannot be read.
class AppStateSlideshowTest : public AppStateTest {
protected:
    MediaItem still(const std::string& colour) {
        const fs::path copy = test::tempDir("slides") / (colour + ".png");
        fs::copy_file(stage_test::stillImage(colour), copy, fs::copy_options::overwrite_existing);
        return add(copy.string());
    }
    MediaItem broken(const std::string& name) {
        const fs::path path = test::tempDir("slides") / name;
        test::writeFile(path, "not a picture");
        return add(path.string());
    }
    int reports(const std::string& subject) {
        for (const auto& i : IssueLog::shared().recent())
            if (i.subject == subject) return i.count;
        return 0;
    }
};

TEST_F(AppStateSlideshowTest, ABadStillIsReportedAndSkippedAtOnceOnEveryPass) {
    make();
    const MediaItem one = still("red");
    const MediaItem bad = broken("bad.png");
    const MediaItem three = still("blue");
    playlist({one.id, bad.id, three.id}, [](Group& g) {
        g.advanceSeconds = 5;
        g.loopPlaylist = true;
    });
    ASSERT_TRUE(app->trigger(one, false));
    for (int pass = 1; pass <= 3; ++pass) {
        advance(5.5);  // the bad one's turn came half a second ago
        ASSERT_TRUE(onAir()) << "pass " << pass << ": blank after the bad still";
        EXPECT_EQ(onAir()->mediaId, three.id) << "pass " << pass;
        EXPECT_EQ(reports("bad.png"), pass);
        advance(4.6);
        ASSERT_TRUE(onAir());
        EXPECT_EQ(onAir()->mediaId, one.id) << "pass " << pass;
    }
}

TEST_F(AppStateSlideshowTest, AManualTakeStartsANewCycleOfFailures) {
    make();
    const MediaItem a = broken("a.png");
    const MediaItem b = broken("b.png");
    playlist({a.id, b.id}, [](Group& g) {
        g.advanceSeconds = 5;
        g.loopPlaylist = true;
    });
    // The manual take fails without advancing; its timer takes b, and the cycle ends on a's second failure.
    ASSERT_TRUE(app->trigger(a, false));
    advance(6);
    EXPECT_EQ(reports("a.png"), 2);
    EXPECT_EQ(reports("b.png"), 1);
    EXPECT_FALSE(app->advancePending());
    // Taken by hand again: a new cycle, whose failures are reported again.
    ASSERT_TRUE(app->trigger(a, false));
    advance(6);
    EXPECT_EQ(reports("a.png"), 4);
    EXPECT_EQ(reports("b.png"), 2);
}

TEST_F(AppStateSlideshowTest, APlaylistOnATimerWhoseEveryClipFailsStopsAfterOneCycle) {
    make();
    const MediaItem a = broken("a.png");
    const MediaItem b = broken("b.mp4");
    playlist({a.id, b.id}, [](Group& g) {
        g.advanceSeconds = 5;
        g.loopPlaylist = true;
    });
    std::vector<std::string> taken;
    auto changed = app->program.onChange;
    app->program.onChange = [&](const ProgramState& s) {
        if (const auto& cue = s.layers[LayerId::media].active; cue && (taken.empty() || taken.back() != cue->cueId))
            taken.push_back(cue->cueId);
        changed(s);
    };
    ASSERT_TRUE(app->trigger(a, true));
    advance(1);
    EXPECT_FALSE(app->advancePending());
    advance(30);
    EXPECT_EQ(taken.size(), 2u);
    EXPECT_FALSE(onAir());
    EXPECT_EQ(reports("a.png"), 1);
    EXPECT_EQ(reports("b.mp4"), 1);
}

}  // namespace
