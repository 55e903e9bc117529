// Remote commands carried out on the application state, through the operations the window and the keyboard
// use, over the real renderer on the headless context and the virtual clock.
#include "ControlFixture.hpp"

using namespace ombry;
using namespace ombry::app_test;
using namespace ombry::control;

namespace {

class CommandTest : public ControlTest {
protected:
    ControlResult perform(ControlCommand c) { return app->performControl(c); }
    std::vector<TransportCommandMessage> sent() {
        auto out = std::move(transports);
        transports.clear();
        return out;
    }
};

::testing::AssertionResult seek(const TransportCommandMessage& m, LayerId layer, double time) {
    if (m.layer != layer || m.action != "seek" || !m.time || *m.time != time)
        return ::testing::AssertionFailure() << rawValue(m.layer) << " " << m.action << " "
                                             << (m.time ? std::to_string(*m.time) : "no time");
    return ::testing::AssertionSuccess();
}

}  // namespace

// Clips by id and by number.

TEST_F(CommandTest, ClipsByIdOrNumberAreTakenLiveAndUnknownOnesAnsweredNotFound) {
    make();
    const auto rev = app->program.state().rev;
    EXPECT_EQ(perform(TriggerIndex{1}), ControlResult::notFound("no clip at index 1"));
    EXPECT_EQ(perform(TriggerId{"nope"}), ControlResult::notFound("no clip with id nope"));
    EXPECT_EQ(app->program.state().rev, rev);

    const MediaItem a = add(video("red")), b = add(image()), loose = add(video("lime"));
    playlist({a.id, b.id});
    // A clip in no playlist is taken by id too.
    EXPECT_EQ(perform(TriggerId{loose.id}), ControlResult::ok());
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, loose.id);
    // The last number is the last clip in no playlist; one past it is not found.
    EXPECT_EQ(perform(TriggerIndex{2}), ControlResult::ok());
    EXPECT_EQ(onAir()->mediaId, b.id);
    EXPECT_EQ(perform(TriggerIndex{4}), ControlResult::notFound("no clip at index 4"));
    EXPECT_EQ(onAir()->mediaId, b.id);
    EXPECT_EQ(perform(TriggerIndex{3}), ControlResult::ok());
    EXPECT_EQ(onAir()->mediaId, loose.id);
    EXPECT_FALSE(app->lastTriggerWasAutomatic());
}

TEST_F(CommandTest, ATakeTheDriverRefusesIsAnsweredWithItsSentence) {
    make();
    const MediaItem live = add(video());
    ASSERT_EQ(perform(TriggerId{live.id}), ControlResult::ok());
    const std::string cue = onAir()->cueId;
    const MediaItem gone = addMissing();
    IssueLog::shared().clear();
    const auto clips = app->controlBoardClips();
    const auto at = std::find_if(clips.begin(), clips.end(), [&](const MediaItem& m) { return m.id == gone.id; });
    ASSERT_NE(at, clips.end());
    const std::int64_t number = at - clips.begin() + 1;
    for (ControlCommand c : {ControlCommand(TriggerId{gone.id}), ControlCommand(TriggerIndex{number})}) {
        const ControlResult r = perform(c);
        EXPECT_EQ(r.kind, ControlResult::Kind::refused) << describe(c);
        EXPECT_NE(r.message.find("MED-01"), std::string::npos) << r.message;
        EXPECT_NE(r.message.find("gone.mp4"), std::string::npos) << r.message;
        EXPECT_NE(r.message.find(title(IssueCode::mediaMissing)), std::string::npos) << r.message;
        ASSERT_TRUE(onAir());
        EXPECT_EQ(onAir()->cueId, cue) << "the program is unchanged";
    }
}

// The primary layer and named layers.

TEST_F(CommandTest, SeeksGoToThePrimaryLayerAndNeverBeforeTheStart) {
    make();
    EXPECT_EQ(perform(SeekTo{5}), ControlResult::ok());
    EXPECT_EQ(perform(Play{}), ControlResult::ok());
    EXPECT_EQ(perform(Restart{}), ControlResult::ok());
    EXPECT_TRUE(sent().empty()) << "nothing is live: nothing is sent";

    ASSERT_TRUE(app->trigger(add(audio()), false));
    sent();
    perform(SeekTo{-5});
    auto out = sent();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(seek(out[0], LayerId::audio, 0)) << "audio is primary while media is empty";

    ASSERT_TRUE(app->trigger(add(video()), false));
    sent();
    perform(SeekTo{-5});
    perform(SeekTo{std::numeric_limits<double>::quiet_NaN()});
    perform(SeekTo{12.5});
    report(LayerId::media, 4);
    perform(SeekBy{-10});
    perform(SeekBy{3});
    perform(Restart{});
    out = sent();
    ASSERT_EQ(out.size(), 6u);
    EXPECT_TRUE(seek(out[0], LayerId::media, 0));
    EXPECT_TRUE(seek(out[1], LayerId::media, 0));
    EXPECT_TRUE(seek(out[2], LayerId::media, 12.5));
    EXPECT_TRUE(seek(out[3], LayerId::media, 0));
    EXPECT_TRUE(seek(out[4], LayerId::media, 7));
    EXPECT_TRUE(seek(out[5], LayerId::media, 0));
}

TEST_F(CommandTest, NamedLayerTransportActsOnlyOnALayerWithACue) {
    make();
    EXPECT_EQ(perform(TransportLayer{LayerId::overlay, TransportVerb::play()}), ControlResult::ok());
    EXPECT_TRUE(sent().empty());

    ASSERT_TRUE(app->trigger(add(video()), false));
    sent();
    // Before any report a relative seek counts from 0; after one from the reported time.
    perform(TransportLayer{LayerId::media, TransportVerb::seekBy(-10)});
    perform(TransportLayer{LayerId::media, TransportVerb::seekBy(5)});
    report(LayerId::media, 4);
    perform(TransportLayer{LayerId::media, TransportVerb::seekBy(-10)});
    perform(TransportLayer{LayerId::media, TransportVerb::seekBy(2.5)});
    perform(TransportLayer{LayerId::media, TransportVerb::seekTo(-1)});
    perform(TransportLayer{LayerId::media, TransportVerb::restart()});
    auto out = sent();
    ASSERT_EQ(out.size(), 6u);
    for (auto [i, t] : {std::pair{0, 0.0}, {1, 5.0}, {2, 0.0}, {3, 6.5}, {4, 0.0}, {5, 0.0}})
        EXPECT_TRUE(seek(out[i], LayerId::media, t)) << i;
    EXPECT_TRUE(onAir()->playing) << "seeks leave the play state";

    // Toggle follows the cue's play flag; play on a playing cue still sends "play".
    perform(TransportLayer{LayerId::media, TransportVerb::toggle()});
    EXPECT_FALSE(onAir()->playing);
    perform(TransportLayer{LayerId::media, TransportVerb::toggle()});
    EXPECT_TRUE(onAir()->playing);
    const auto rev = app->program.state().rev;
    perform(TransportLayer{LayerId::media, TransportVerb::play()});
    perform(Play{});
    EXPECT_EQ(app->program.state().rev, rev);
    perform(Pause{});
    EXPECT_FALSE(onAir()->playing);
    perform(PlayPause{});
    EXPECT_TRUE(onAir()->playing);
    out = sent();
    std::vector<std::string> actions;
    for (const auto& m : out) {
        actions.push_back(m.action);
        EXPECT_EQ(m.layer, LayerId::media);
        EXPECT_FALSE(m.time);
    }
    EXPECT_EQ(actions, (std::vector<std::string>{"pause", "play", "play", "play", "pause", "play"}));
}

TEST_F(CommandTest, LayerVolumeBlackAndClearingGoToTheProgram) {
    make();
    ASSERT_TRUE(app->trigger(add(video()), false));
    ASSERT_TRUE(app->trigger(add(audio()), false));
    perform(LayerVolume{LayerId::media, 7});
    EXPECT_EQ(onAir()->volume, 1);
    perform(LayerVolume{LayerId::media, 0.25});
    EXPECT_EQ(onAir()->volume, 0.25);
    perform(LayerVolume{LayerId::media, std::numeric_limits<double>::quiet_NaN()});
    EXPECT_EQ(onAir()->volume, 0);
    EXPECT_EQ(perform(LayerVolume{LayerId::overlay, 0.5}), ControlResult::ok());

    perform(Black{ToggleOp::toggle});
    EXPECT_TRUE(app->program.state().black);
    perform(Black{ToggleOp::toggle});
    EXPECT_FALSE(app->program.state().black);
    perform(Black{ToggleOp::on});
    perform(Black{ToggleOp::on});
    EXPECT_TRUE(app->program.state().black);
    perform(Black{ToggleOp::off});
    EXPECT_FALSE(app->program.state().black);

    perform(ClearLayer{LayerId::audio});
    EXPECT_FALSE(onAir(LayerId::audio));
    EXPECT_TRUE(onAir(LayerId::media));
    perform(ClearAll{});
    EXPECT_EQ(app->program.liveLayers(), std::set<LayerId>{});
}

TEST_F(CommandTest, ClearingCancelsThePendingAutoAdvance) {
    make();
    const MediaItem a = add(video("red")), b = add(video("lime"));
    playlist({a.id, b.id}, [](Group& g) { g.advanceSeconds = 5; });
    for (ControlCommand clear : {ControlCommand(ClearLayer{LayerId::audio}), ControlCommand(ClearAll{})}) {
        app->program.clearAll();
        ASSERT_EQ(perform(TriggerId{a.id}), ControlResult::ok());
        ASSERT_TRUE(app->advancePending());
        perform(clear);  // also when the playlist's clip plays on another layer
        EXPECT_FALSE(app->advancePending()) << describe(clear);
        advance(6);
        if (onAir()) {
            EXPECT_EQ(onAir()->mediaId, a.id) << "the playlist advanced after " << describe(clear);
        }
    }
}

// Volume and mute.

TEST_F(CommandTest, VolumeCommandsStayWithinTheLimitsAndClearTheMute) {
    make();
    struct Step {
        double before;
        ControlCommand command;
        double after;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Step steps[] = {
        {0, VolumeSetDB{-100}, -60},
        {0, VolumeSetDB{20}, 6},
        {0, VolumeSetDB{-12.5}, -12.5},
        {0, VolumeSetDB{nan}, 0},
        {-10, VolumeStep{2}, -4},
        {0, VolumeStep{5}, 6},
        {-59, VolumeStep{-1}, -60},
        {-10, VolumeStep{0}, -10},
        {-10, VolumeStep{std::numeric_limits<std::int64_t>::max()}, 6},
        {-10, VolumeStep{std::numeric_limits<std::int64_t>::min()}, -60},
        // Counts whose 3 dB steps wrap around in 64-bit integers.
        {-10, VolumeStep{3074457345618258603}, 6},
        {-10, VolumeStep{-3074457345618258603}, -60},
    };
    for (const auto& s : steps) {
        app->setMasterVolumeDB(s.before);
        EXPECT_EQ(perform(s.command), ControlResult::ok());
        EXPECT_EQ(app->masterVolumeDB(), s.after) << describe(s.command) << " at " << s.before;
        EXPECT_TRUE(std::isfinite(app->program.state().masterVolume));
    }

    // After a mute the commands start from -60 dB and unmute without restoring the level.
    app->setMasterVolumeDB(-12);
    perform(Mute{ToggleOp::on});
    ASSERT_TRUE(app->isMuted());
    perform(VolumeStep{1});
    EXPECT_EQ(app->masterVolumeDB(), -57);
    EXPECT_FALSE(app->isMuted());
    perform(Mute{ToggleOp::toggle});
    perform(VolumeStep{0});
    EXPECT_EQ(app->masterVolumeDB(), -60);
    EXPECT_FALSE(app->isMuted());
}

TEST_F(CommandTest, MuteOnAndOffChangeNothingWhenAlreadySo) {
    make();
    app->setMasterVolumeDB(-12);
    perform(Mute{ToggleOp::off});
    EXPECT_FALSE(app->isMuted());
    EXPECT_EQ(app->masterVolumeDB(), -12);
    perform(Mute{ToggleOp::on});
    perform(Mute{ToggleOp::on});
    EXPECT_TRUE(app->isMuted());
    EXPECT_EQ(app->masterVolumeDB(), -60);
    perform(Mute{ToggleOp::off});
    perform(Mute{ToggleOp::off});
    EXPECT_FALSE(app->isMuted());
    EXPECT_EQ(app->masterVolumeDB(), -12);
    perform(Mute{ToggleOp::toggle});
    EXPECT_TRUE(app->isMuted());
}

TEST_F(CommandTest, NextAndPreviousClipStepThroughTheVisibleClips) {
    make();
    add(video("red"));
    add(video("lime"));
    add(image());
    const std::vector<MediaItem> visible = app->visibleClips();
    ASSERT_EQ(visible.size(), 3u);
    // Nothing selected: the next clip is the first; stepping wraps around both ends.
    const std::pair<ControlCommand, std::size_t> steps[] = {
        {NextClip{}, 0}, {NextClip{}, 1}, {PrevClip{}, 0}, {PrevClip{}, 2}, {NextClip{}, 0}};
    for (const auto& [command, expected] : steps) {
        EXPECT_EQ(perform(command), ControlResult::ok());
        ASSERT_TRUE(onAir());
        EXPECT_EQ(onAir()->mediaId, visible[expected].id) << describe(command);
    }
}
