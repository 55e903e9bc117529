#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Engine/Model/ProgramStore.hpp"
#include "Platform/MainQueue.hpp"
#include "Platform/Uuid.hpp"

using namespace ombry;

namespace {

MediaItem item(const std::string& id, MediaKind kind) {
    MediaItem m;
    m.id = id;
    m.kind = kind;
    m.name = id;
    m.path = "/media/" + id;
    return m;
}

class ProgramStoreTest : public ::testing::Test {
protected:
    ProgramStoreTest() : scope(q) {
        store.onChange = [this](const ProgramState& s) { changes.push_back(s); };
    }
    TransportStatus report(LayerId layer, double currentTime, bool playing, bool ended = false) {
        const auto& cue = store.state().layers[layer].active;
        return TransportStatus{layer, cue ? cue->cueId : "", cue ? cue->mediaId : "", currentTime, 30, playing, ended};
    }

    ManualQueue q;
    ScopedMainQueue scope;
    ProgramStore store;
    std::vector<ProgramState> changes;
};

}  // namespace

TEST_F(ProgramStoreTest, NewStore) {
    ProgramStore s(StageConfig{640, 8, 500, "#000000"});  // taken as given, without limits
    EXPECT_EQ(s.state().rev, 0);
    EXPECT_EQ(s.state().stage, (StageConfig{640, 8, 500, "#000000"}));
    EXPECT_EQ(s.state().layers, Layers{});
    EXPECT_FALSE(s.state().black);
    EXPECT_EQ(s.state().masterVolume, 1.0);
    EXPECT_EQ(s.clockEpoch(), 0);
    EXPECT_FALSE(s.isLive());
    EXPECT_TRUE(s.liveLayers().empty());
}

TEST_F(ProgramStoreTest, TriggerOfAStillWithEmptyOptions) {
    MediaItem still = item("IMG", MediaKind::image);
    still.duration = 5;
    still.loop = true;  // not consulted
    still.endAction = EndAction::clear;  // not consulted
    still.trimStart = 1;
    q.clock().setWallMs(1.75e12);
    const double takenAt = transportNow();

    ActiveCue cue = store.trigger(still);
    EXPECT_TRUE(isUuid(cue.cueId));
    EXPECT_EQ(cue.mediaId, "IMG");
    EXPECT_EQ(cue.kind, MediaKind::image);
    EXPECT_EQ(cue.src, "/media/IMG");
    EXPECT_FALSE(cue.playing);
    EXPECT_FALSE(cue.loop);
    EXPECT_EQ(cue.volume, 1.0);
    EXPECT_EQ(cue.endAction, EndAction::hold);
    EXPECT_EQ(cue.transition, (TransitionSpec{TransitionType::crossfade, 600}));
    EXPECT_FALSE(cue.fillMode);
    EXPECT_EQ(cue.trimStart, 1.0);

    EXPECT_EQ(store.state().layers.media.active, cue);
    EXPECT_EQ(store.state().rev, 1);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], store.state());
    const TransportAnchor& anchor = store.anchors().at(LayerId::media);
    EXPECT_EQ(anchor.time, 0);
    EXPECT_EQ(anchor.at, takenAt);
    EXPECT_FALSE(anchor.playing);
    EXPECT_EQ(anchor.duration, 5);
    EXPECT_EQ(store.activatedAt().at(LayerId::media), 1.75e12);
    EXPECT_TRUE(store.isLive());
    EXPECT_EQ(store.liveLayers(), std::set<LayerId>{LayerId::media});
}

TEST_F(ProgramStoreTest, TriggerResolution) {
    MediaItem audio = item("A", MediaKind::audio);
    MediaItem overlay = item("O", MediaKind::video);
    overlay.layer = LayerId::overlay;
    overlay.transitionType = TransitionType::slide;
    overlay.fillMode = FillMode::fill;
    MediaItem video = item("V", MediaKind::video);
    video.loop = true;
    video.duration = std::numeric_limits<double>::infinity();

    struct Case {
        const char* what;
        MediaItem item;
        TriggerOptions options;
        LayerId layer;
        bool playing, loop;
        double volume;
        EndAction endAction;
        TransitionSpec transition;
        std::optional<FillMode> fillMode;
    };
    const std::vector<Case> cases = {
        {"audio item", audio, {}, LayerId::audio, true, false, 1, EndAction::hold, {TransitionType::crossfade, 600}, {}},
        {"item layer", overlay, {}, LayerId::overlay, true, false, 1, EndAction::hold, {TransitionType::slide, 600},
         FillMode::fill},
        {"options win", overlay,
         TriggerOptions{LayerId::background, true, 0.5, TransitionType::cut, 0, EndAction::clear, false, FillMode::fit},
         LayerId::background, false, true, 0.5, EndAction::clear, {TransitionType::cut, 0}, FillMode::fit},
        {"loop gives loop end", video, TriggerOptions{.loop = true}, LayerId::media, true, true, 1, EndAction::loop,
         {TransitionType::crossfade, 600}, {}},
        {"item loop ignored", video, {}, LayerId::media, true, false, 1, EndAction::hold, {TransitionType::crossfade, 600}, {}},
        {"negative duration", video, TriggerOptions{.durationMs = -5}, LayerId::media, true, false, 1, EndAction::hold,
         {TransitionType::crossfade, 0}, {}},
        {"volume above 1", video, TriggerOptions{.volume = 1.7}, LayerId::media, true, false, 1, EndAction::hold,
         {TransitionType::crossfade, 600}, {}},
        {"volume below 0", video, TriggerOptions{.volume = -0.2}, LayerId::media, true, false, 0, EndAction::hold,
         {TransitionType::crossfade, 600}, {}},
        {"volume not a number", video, TriggerOptions{.volume = std::nan("")}, LayerId::media, true, false, 0,
         EndAction::hold, {TransitionType::crossfade, 600}, {}},
    };
    for (const auto& c : cases) {
        ActiveCue cue = store.trigger(c.item, c.options);
        EXPECT_EQ(store.state().layers[c.layer].active, cue) << c.what;
        EXPECT_EQ(cue.playing, c.playing) << c.what;
        EXPECT_EQ(cue.loop, c.loop) << c.what;
        EXPECT_EQ(cue.volume, c.volume) << c.what;
        EXPECT_EQ(cue.endAction, c.endAction) << c.what;
        EXPECT_EQ(cue.transition, c.transition) << c.what;
        EXPECT_EQ(cue.fillMode, c.fillMode) << c.what;
    }
    // An infinite item duration would poison the playhead clock.
    EXPECT_EQ(store.anchors().at(LayerId::media).duration, 0);
    EXPECT_NO_THROW(toJson(store.state()));
}

TEST_F(ProgramStoreTest, RetakeGivesNewCueAndReplacesTheLayersClock) {
    MediaItem v = item("V", MediaKind::video);
    ActiveCue first = store.trigger(v);
    store.recordStatus(report(LayerId::media, 3, true));
    ASSERT_TRUE(store.transports().count(LayerId::media));
    ActiveCue second = store.trigger(v);
    EXPECT_NE(first.cueId, second.cueId);
    EXPECT_EQ(store.state().rev, 2);
    EXPECT_FALSE(store.transports().count(LayerId::media));
    EXPECT_FALSE(store.anchors().at(LayerId::media).playing);
}

TEST_F(ProgramStoreTest, CommitsOnlyOnChange) {
    MediaItem v = item("V", MediaKind::video);
    struct Step {
        const char* what;
        std::function<void()> run;
        int revAfter;
    };
    const std::vector<Step> steps = {
        {"clear empty layer", [&] { store.clearLayer(LayerId::overlay); }, 0},
        {"clear all on empty program", [&] { store.clearAll(); }, 1},
        {"black on", [&] { store.setBlack(true); }, 2},
        {"black on again", [&] { store.setBlack(true); }, 2},
        {"master 2.0", [&] { store.setMasterVolume(2.0); }, 2},  // limited to 1, unchanged
        {"master 0.5", [&] { store.setMasterVolume(0.5); }, 3},
        {"master NaN", [&] { store.setMasterVolume(std::nan("")); }, 4},
        {"master -1", [&] { store.setMasterVolume(-1); }, 4},
        {"layer volume on empty layer", [&] { store.setLayerVolume(LayerId::media, 0.3); }, 4},
        {"playing on empty layer", [&] { store.setLayerPlaying(LayerId::media, false); }, 4},
        {"take", [&] { store.trigger(v); }, 5},
        {"layer volume 1.5 (already 1)", [&] { store.setLayerVolume(LayerId::media, 1.5); }, 5},
        {"layer volume NaN", [&] { store.setLayerVolume(LayerId::media, std::nan("")); }, 6},
        {"playing already", [&] { store.setLayerPlaying(LayerId::media, false); }, 7},
        {"pause again", [&] { store.setLayerPlaying(LayerId::media, false); }, 7},
        {"fill mode of other media", [&] { store.setActiveFillMode("X", FillMode::fill); }, 7},
        {"fill mode", [&] { store.setActiveFillMode("V", FillMode::fill); }, 8},
        {"same fill mode", [&] { store.setActiveFillMode("V", FillMode::fill); }, 8},
        {"fill mode absent", [&] { store.setActiveFillMode("V", std::nullopt); }, 9},
        {"clear layer", [&] { store.clearLayer(LayerId::media); }, 10},
    };
    for (const auto& s : steps) {
        s.run();
        EXPECT_EQ(store.state().rev, s.revAfter) << s.what;
    }
    EXPECT_EQ(changes.size(), 10u);
    for (size_t i = 0; i < changes.size(); ++i) EXPECT_EQ(changes[i].rev, int64_t(i + 1));
    EXPECT_EQ(store.state().masterVolume, 0);
    EXPECT_TRUE(store.anchors().empty());
    EXPECT_TRUE(store.activatedAt().empty());
}

TEST_F(ProgramStoreTest, FillModeOfOneMediaOnSeveralLayersCommitsOnce) {
    MediaItem v = item("V", MediaKind::video);
    store.trigger(v);
    store.trigger(v, TriggerOptions{.layer = LayerId::overlay, .fillMode = FillMode::fill});
    store.trigger(item("W", MediaKind::video), TriggerOptions{.layer = LayerId::background});
    const auto before = store.state().rev;
    store.setActiveFillMode("V", FillMode::fill);
    EXPECT_EQ(store.state().rev, before + 1);
    EXPECT_EQ(store.state().layers.media.active->fillMode, FillMode::fill);
    EXPECT_EQ(store.state().layers.overlay.active->fillMode, FillMode::fill);
    EXPECT_FALSE(store.state().layers.background.active->fillMode);
}

TEST_F(ProgramStoreTest, BlackKeepsCuesButIsNotLive) {
    store.trigger(item("A", MediaKind::audio));
    store.setBlack(true);
    EXPECT_FALSE(store.isLive());
    EXPECT_EQ(store.liveLayers(), std::set<LayerId>{LayerId::audio});
    store.clearAll();
    EXPECT_TRUE(store.state().black);
    EXPECT_EQ(store.state().layers, Layers{});
    EXPECT_TRUE(store.transports().empty());
    EXPECT_TRUE(store.anchors().empty());
    EXPECT_TRUE(store.activatedAt().empty());
}

TEST_F(ProgramStoreTest, SetStageLimitsAndNormalises) {
    struct Case {
        std::function<void(StageConfig&)> change;
        StageConfig expected;
    };
    const std::vector<Case> cases = {
        {[](StageConfig& s) { s.width = 10, s.fps = 500; }, {16, 1080, 240, "transparent"}},
        {[](StageConfig& s) { s.height = 9000, s.fps = 0; }, {16, 8192, 1, "transparent"}},
        {[](StageConfig& s) { s.background = "#000000"; }, {16, 8192, 1, "transparent"}},
        {[](StageConfig& s) { s.background = "#000"; }, {16, 8192, 1, "#000"}},
        {[](StageConfig& s) { s.background = "#00000000"; }, {16, 8192, 1, "#00000000"}},
        {[](StageConfig& s) { s = {1920, 1080, 60, "#ff0000"}; }, {1920, 1080, 60, "#ff0000"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        store.setStage(cases[i].change);
        EXPECT_EQ(store.state().stage, cases[i].expected) << i;
    }
    const auto rev = store.state().rev;
    EXPECT_EQ(rev, 5);  // the "#000000" step changed nothing
    store.setStage([](StageConfig& s) { s.width = 1920; });
    store.setStage([](StageConfig& s) { s.fps = 60; });
    EXPECT_EQ(store.state().rev, rev);
}

TEST_F(ProgramStoreTest, PlaybackReportsKeepOrReBaseTheClock) {
    std::vector<int64_t> epochs;
    store.onClockEpoch = [&](int64_t e) { epochs.push_back(e); };
    store.trigger(item("V", MediaKind::video));

    // A stale cue changes nothing.
    TransportStatus stale = report(LayerId::media, 9, true);
    stale.cueId = "OLD";
    store.recordStatus(stale);
    store.recordStatus(report(LayerId::overlay, 9, true));  // empty layer
    EXPECT_TRUE(store.transports().empty());
    EXPECT_EQ(store.anchors().at(LayerId::media).time, 0);
    EXPECT_EQ(store.clockEpoch(), 0);

    // The first report after a take always re-bases.
    q.advance(1);
    store.recordStatus(report(LayerId::media, 0.1, true));
    EXPECT_EQ(store.clockEpoch(), 1);
    EXPECT_EQ(store.anchors().at(LayerId::media).time, 0.1);
    EXPECT_TRUE(store.anchors().at(LayerId::media).playing);
    EXPECT_EQ(store.transports().at(LayerId::media).currentTime, 0.1);

    // 0.3 s off the prediction: the predicted time is kept and re-stamped.
    q.advance(2);
    store.recordStatus(report(LayerId::media, 2.4, true));
    const TransportAnchor kept = store.anchors().at(LayerId::media);
    EXPECT_NEAR(kept.time, 2.1, 1e-9);
    EXPECT_EQ(kept.at, transportNow());
    EXPECT_EQ(kept.duration, 30);
    EXPECT_EQ(store.clockEpoch(), 1);
    EXPECT_EQ(store.transports().at(LayerId::media).currentTime, 2.4);

    // 0.5 s off: re-based to the reported time.
    q.advance(1);
    store.recordStatus(report(LayerId::media, 3.6, true));
    EXPECT_EQ(store.anchors().at(LayerId::media).time, 3.6);
    EXPECT_EQ(store.clockEpoch(), 2);

    // A paused report re-bases, as does the next playing one.
    store.recordStatus(report(LayerId::media, 3.6, false));
    EXPECT_FALSE(store.anchors().at(LayerId::media).playing);
    store.recordStatus(report(LayerId::media, 3.6, true));
    EXPECT_EQ(store.clockEpoch(), 4);
    EXPECT_EQ(epochs, (std::vector<int64_t>{1, 2, 3, 4}));

    // A report that is not a number is taken as 0 instead of poisoning the clock.
    TransportStatus broken = report(LayerId::media, std::nan(""), true);
    broken.duration = std::numeric_limits<double>::infinity();
    store.recordStatus(broken);
    EXPECT_EQ(store.anchors().at(LayerId::media).time, 0);
    EXPECT_EQ(store.anchors().at(LayerId::media).duration, 0);
    EXPECT_EQ(store.transports().at(LayerId::media).duration, 0);
}

TEST_F(ProgramStoreTest, EndedReportPausesTheCueOnce) {
    store.trigger(item("V", MediaKind::video));
    const auto rev = store.state().rev;
    store.recordStatus(report(LayerId::media, 30, false, true));
    EXPECT_FALSE(store.state().layers.media.active->playing);
    EXPECT_EQ(store.state().rev, rev + 1);
    store.recordStatus(report(LayerId::media, 30, false, true));
    EXPECT_EQ(store.state().rev, rev + 1);
}
