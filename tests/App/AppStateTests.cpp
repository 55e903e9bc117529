// The application state over the real renderer on the headless context, real generated clips and the
// virtual clock.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "App/AppState.hpp"
#include "Engine/Store.hpp"
#include "Render/NativeLayerHost.hpp"
#include "StageRendererFixture.hpp"
#include "support/TestEnv.hpp"

using namespace ombry;
namespace fs = std::filesystem;

namespace {

struct NoScreens final : ScreenProvider {
    std::vector<DisplayScreen> screens() const override { return {}; }
};
struct NoPanels final : FilePanels {
    std::optional<fs::path> runSavePanel(const SavePanelRequest&) override { return std::nullopt; }
    std::optional<fs::path> runOpenPanel(const OpenPanelRequest&) override { return std::nullopt; }
};
struct FatalCalled {
    IssueCode code;
};

void emptySupportFolder() {
    for (const auto& e : fs::directory_iterator(Store::dir()))
        if (e.path() != Store::projectsDir() && e.path() != Store::mediaDir() && e.path() != Store::thumbnailDir())
            fs::remove_all(e.path());
    for (const auto& e : fs::directory_iterator(Store::projectsDir())) fs::remove_all(e.path());
}

const Issue* issue(IssueCode code) {
    for (const auto& i : IssueLog::shared().recent())
        if (i.code == code) return &i;
    return nullptr;
}

class AppStateTest : public test::GlTest {
protected:
    ManualQueue q;
    std::unique_ptr<ScopedMainQueue> scope;
    NoScreens screens;
    NoPanels panels;
    MemoryClipboard clipboard;
    std::shared_ptr<media::AudioOutput> out = media::AudioOutput::createNull(false);
    int beeps = 0;
    bool rendererFails = false;
    bool realWarmer = false;
    std::vector<std::string> warmed;
    std::vector<std::string> probed;
    std::map<std::string, std::optional<std::uint32_t>> codecs;  // by path; absent: "avc1"
    std::vector<TransportCommandMessage> transports;
    std::vector<LayerId> remoteTransports;
    int cloudPushes = 0;
    std::unique_ptr<AppState> app;

    void SetUp() override {
        GlTest::SetUp();
        scope = std::make_unique<ScopedMainQueue>(q);
        emptySupportFolder();
        IssueLog::shared().clear();
    }
    void TearDown() override {
        if (app) {
            EXPECT_TRUE(q.waitUntil([this] { return settled(); }, 20.0)) << "loads still busy at the end";
            app.reset();
        }
        q.runPending();
        scope.reset();
        GlTest::TearDown();
    }
    bool settled() {
        // Takes finish on the frame loop: a frame at the current virtual time, as the frame clock would.
        app->previewRenderer().tick(appClock().monotonic());
        if (auto warmedAsset = AssetWarmer::warmed();
            warmedAsset && warmedAsset->readiness() == media::Readiness::unknown)
            return false;
        for (LayerId l : {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio}) {
            const auto* h = app->previewRenderer().host(l);
            if (!h) continue;
            if (h->loadsInFlight() > 0) return false;
            for (const auto* m : {h->slot(0).media.get(), h->slot(1).media.get(), h->prepared().get()})
                if (m && !m->disposed && m->player && m->player->readiness() == media::Readiness::unknown)
                    return false;
        }
        return true;
    }

    // Loads open on real threads against a time limit on the virtual clock: let them land before time moves.
    // Frames of 50 ms, each after the real threads have caught up, as the frame clock would run them.
    void advance(double seconds) {
        const double end = appClock().monotonic() + seconds;
        while (appClock().monotonic() < end) {
            ASSERT_TRUE(q.waitUntil([this] { return settled(); }, 20.0)) << "loads did not land";
            q.advance(std::min(0.05, end - appClock().monotonic()));
        }
        ASSERT_TRUE(q.waitUntil([this] { return settled(); }, 20.0)) << "loads did not land";
    }

    AppEnvironment env() {
        AppEnvironment e;
        e.screens = &screens;
        e.panels = &panels;
        e.clipboard = &clipboard;
        e.makeRenderer = [this](MeterEngine* meters) -> std::unique_ptr<NativeStageRenderer> {
            if (rendererFails) return nullptr;
            return NativeStageRenderer::create(*context(), meters, {.frameClock = nullptr, .audioOutput = out});
        };
        e.fatal = [](IssueCode code) { throw FatalCalled{code}; };
        e.beep = [this] { ++beeps; };
        e.pushTransport = [this](const TransportStatus& s) { remoteTransports.push_back(s.layer); };
        e.pushCloudPlaylists = [this] { ++cloudPushes; };
        if (!realWarmer) e.warm = [this](const std::string& path) { warmed.push_back(path); };
        e.probeVideoCodec = [this](const std::string& path, auto done) {
            probed.push_back(path);
            auto it = codecs.find(path);
            done(it == codecs.end() ? std::optional<std::uint32_t>(AppState::fourCC('a', 'v', 'c', '1')) : it->second);
        };
        return e;
    }
    AppState& make() {
        app = std::make_unique<AppState>(env());
        app->transitionDuration = 0;  // cuts, so that takes land without moving the clock
        auto sendOn = app->program.onTransport;
        app->program.onTransport = [this, sendOn](const TransportCommandMessage& m) {
            transports.push_back(m);
            sendOn(m);
        };
        return *app;
    }

    // Long enough that no clip ends by itself while a test moves the clock.
    static std::string video(const std::string& colour = "red") { return stage_test::colourClip(colour, 60).string(); }
    static std::string image() { return stage_test::stillImage("blue").string(); }
    static std::string audio() {
        return stage_test::fixture("tone.wav", "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1").string();
    }
    MediaItem add(const std::string& path) {
        auto added = app->library.add({path});
        EXPECT_EQ(added.size(), 1u);
        return added.at(0);
    }
    // A clip whose file has gone and which the library knows to be offline.
    MediaItem addMissing() {
        const fs::path copy = test::tempDir("gone") / "gone.mp4";
        fs::copy_file(video(), copy);
        MediaItem m = add(copy.string());
        fs::remove(copy);
        app->library.markOffline(m.id);
        return m;
    }
    Group playlist(const std::vector<std::string>& ids, std::function<void(Group&)> setup = {}) {
        Group g = app->library.createGroup("P");
        for (const auto& id : ids) app->library.addToGroup(g.id, id);
        g = *std::find_if(app->library.groups().begin(), app->library.groups().end(),
                          [&](const Group& x) { return x.id == g.id; });
        if (setup) setup(g);
        app->library.updateGroup(g);
        return g;
    }
    const std::optional<ActiveCue>& onAir(LayerId l = LayerId::media) { return app->program.state().layers[l].active; }
};

// Construction.

TEST_F(AppStateTest, ConstructionStartsFromTheDefaultsAndWritesNoSettings) {
    app = std::make_unique<AppState>(env());
    EXPECT_EQ(app->selection(), std::set<SidebarItem>{SidebarItem::allPlaylists()});
    EXPECT_EQ(app->masterTransition, AppTransition::fade);
    EXPECT_DOUBLE_EQ(app->transitionDuration, 0.6);
    EXPECT_TRUE(app->uiVisible);
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
    make();
    const fs::path copy = test::tempDir("deleted") / "deleted.mp4";
    fs::copy_file(video(), copy);
    const MediaItem a = add(copy.string());
    const MediaItem b = add(video());
    playlist({a.id, b.id}, [](Group& g) { g.advanceOnEnd = true; });
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
    remoteTransports.clear();
    report(LayerId::audio);
    EXPECT_TRUE(remoteTransports.empty());
    report(LayerId::media);
    EXPECT_EQ(remoteTransports, std::vector<LayerId>{LayerId::media});
    app->program.clearLayer(LayerId::media);
    report(LayerId::audio);
    EXPECT_EQ(remoteTransports.back(), LayerId::audio);
    app->program.clearAll();
    remoteTransports.clear();
    report(LayerId::audio);
    EXPECT_TRUE(remoteTransports.empty());
}

TEST_F(AppStateTest, ThreeLibraryChangesWithCloudUploadOnGiveOnePushAfterTwoSeconds) {
    make();
    AppSettings s = app->settings();
    s.cloudUploadEnabled = true;
    app->setSettings(s);
    const MediaItem a = add(video());
    Group g = app->library.createGroup("List");
    app->library.addToGroup(g.id, a.id);
    advance(1.9);
    EXPECT_EQ(cloudPushes, 0);
    advance(0.1);
    EXPECT_EQ(cloudPushes, 1);
    advance(5);
    EXPECT_EQ(cloudPushes, 1);
    // With cloud upload off nothing is scheduled.
    s.cloudUploadEnabled = false;
    app->setSettings(s);
    add(video());
    advance(3);
    EXPECT_EQ(cloudPushes, 1);
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
    playlist({a.id, b.id}, [](Group& g) { g.advanceOnEnd = true; });
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

}  // namespace
