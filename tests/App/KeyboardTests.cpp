// Keyboard control and the transport operations behind it, on the application state over the real renderer.
#include "AppStateFixture.hpp"
#include "Platform/Product.hpp"

using namespace ombry;
using namespace ombry::app_test;

namespace {

class KeyboardTest : public AppStateTest {
protected:
    // The window as it stands while the operator works the show: main window active, no text input.
    bool textFocused = false;
    bool mainIsKey = true;
    AppState& makeWithKeys() {
        make();
        app->focusInTextInput = [this] { return textFocused; };
        app->mainWindowIsKey = [this] { return mainIsKey; };
        app->installKeyboardMonitor();
        return *app;
    }
    // Unsorted stills named "clip0", "clip1" …, in board order; stills so that takes land at once.
    std::vector<MediaItem> clips(int count) {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            const fs::path p = test::tempDir("keyboard-clips") / ("clip" + std::to_string(i) + ".png");
            fs::copy_file(stage_test::stillImage("blue"), p, fs::copy_options::overwrite_existing);
            paths.push_back(p.string());
        }
        return app->library.add(paths);
    }
    bool press(Key key, unsigned modifiers = 0) { return app->handleKey(key, modifiers); }
    // A playback report of the layer's cue at `seconds`, as the renderer would give it.
    void report(LayerId layer, double seconds) {
        const auto& cue = onAir(layer);
        ASSERT_TRUE(cue);
        app->program.recordStatus(TransportStatus{layer, cue->cueId, cue->mediaId, seconds, 60, cue->playing, false});
    }
    std::vector<TransportCommandMessage> sent() {
        auto out = std::move(transports);
        transports.clear();
        return out;
    }
};

// Transport of the primary layer.

TEST_F(KeyboardTest, PlayPauseActsOnTheFirstOfMediaAudioOverlayBackgroundThatHoldsACue) {
    make();
    app->playPausePrimary();
    app->restartPrimary();
    app->seekRelative(5);
    EXPECT_TRUE(sent().empty()) << "no layer holds a cue: nothing is sent";

    const MediaItem tone = add(audio());
    ASSERT_TRUE(app->trigger(tone, false));
    sent();
    app->playPausePrimary();
    auto out = sent();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].layer, LayerId::audio);
    EXPECT_EQ(out[0].action, "pause");
    EXPECT_FALSE(out[0].time);
    EXPECT_FALSE(onAir(LayerId::audio)->playing);

    const MediaItem clip = add(video());
    ASSERT_TRUE(app->trigger(clip, false));
    sent();
    app->playPausePrimary();
    out = sent();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].layer, LayerId::media) << "media comes before audio";
    EXPECT_EQ(out[0].action, "pause");
    EXPECT_FALSE(onAir(LayerId::media)->playing);
    EXPECT_FALSE(onAir(LayerId::audio)->playing) << "the audio layer is left as it was";

    app->playPausePrimary();
    out = sent();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].action, "play");
    EXPECT_TRUE(onAir(LayerId::media)->playing);
}

TEST_F(KeyboardTest, RestartAndSeekSendSeeksOnThePrimaryLayerWithoutChangingItsPlayState) {
    make();
    ASSERT_TRUE(app->trigger(add(video()), false));
    app->playPausePrimary();  // paused: a seek must not start it
    sent();

    struct Case {
        std::optional<double> reported;  // none: no report yet
        double by;
        double target;
    };
    // The first case runs before any report of the cue.
    for (const Case& c : {Case{std::nullopt, 5, 5}, Case{3, -5, 0}, Case{10, 5, 15}, Case{10, -2.5, 7.5},
                          Case{1000, 30, 1030}, Case{10, std::nan(""), 0}}) {
        if (c.reported) report(LayerId::media, *c.reported);
        app->seekRelative(c.by);
        const auto out = sent();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].layer, LayerId::media);
        EXPECT_EQ(out[0].action, "seek");
        ASSERT_TRUE(out[0].time);
        EXPECT_DOUBLE_EQ(*out[0].time, c.target) << "reported " << c.reported.value_or(-1) << " by " << c.by;
    }

    report(LayerId::media, 12);
    app->restartPrimary();
    const auto out = sent();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].action, "seek");
    EXPECT_EQ(out[0].time, std::optional<double>(0.0));
    EXPECT_FALSE(onAir()->playing);
}

// Volume and mute.

TEST_F(KeyboardTest, MuteRemembersTheVolumeAndUnmuteRestoresIt) {
    make();
    app->setMasterVolumeDB(-12);
    app->toggleMute();
    EXPECT_TRUE(app->isMuted());
    EXPECT_DOUBLE_EQ(app->premuteDB(), -12);
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -60);
    EXPECT_NEAR(app->program.state().masterVolume, 0.001, 1e-9);

    app->toggleMute();
    EXPECT_FALSE(app->isMuted());
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -12);
    EXPECT_NEAR(app->program.state().masterVolume, std::pow(10.0, -12.0 / 20), 1e-9);

    // A volume change while muted does not unmute; the next toggle still restores the remembered volume.
    app->toggleMute();
    app->setMasterVolumeDB(-57);
    app->toggleMute();
    EXPECT_FALSE(app->isMuted());
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -12);
}

// The key handler.

TEST_F(KeyboardTest, KeysActOnlyOnceInstalledWithTheMainWindowActiveAndNoTextInputFocused) {
    make();
    ASSERT_TRUE(app->trigger(add(video()), false));
    sent();
    EXPECT_FALSE(press(Key::space)) << "no window layer yet";
    app->focusInTextInput = [this] { return textFocused; };
    app->mainWindowIsKey = [this] { return mainIsKey; };
    EXPECT_FALSE(press(Key::space)) << "not installed";
    EXPECT_FALSE(app->isMainWindowFocused());
    app->installKeyboardMonitor();
    EXPECT_TRUE(app->isMainWindowFocused()) << "installing takes the window's focus as it is";

    textFocused = true;
    EXPECT_FALSE(press(Key::space));
    EXPECT_FALSE(press(Key::j));
    textFocused = false;
    mainIsKey = false;
    EXPECT_FALSE(press(Key::space)) << "the settings or properties window is active";
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(onAir()->playing);

    mainIsKey = true;
    EXPECT_TRUE(press(Key::space));
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_FALSE(onAir()->playing);

    // The published flags follow what the window tells.
    app->setTextEditing(true);
    EXPECT_TRUE(app->isTextEditing());
    app->setMainWindowFocused(false);
    EXPECT_FALSE(app->isMainWindowFocused());
}

TEST_F(KeyboardTest, ShiftIsIgnoredAndAnyOtherModifierTakesTheKeyOutOfThePlainTable) {
    makeWithKeys();
    ASSERT_TRUE(app->trigger(add(video()), false));
    sent();
    report(LayerId::media, 10);
    struct Case {
        Key key;
        unsigned modifiers;
        bool used;
        std::optional<std::string> action;  // the transport command sent, if any
        std::optional<double> time;
    };
    for (const Case& c : {
             Case{Key::j, keyShift, true, "seek", 5},
             Case{Key::l, 0, true, "seek", 15},
             Case{Key::space, keyShift, true, "pause", std::nullopt},
             Case{Key::space, 0, true, "play", std::nullopt},
             Case{Key::home, 0, true, "seek", 0},
             Case{Key::pageUp, keyShift, true, "seek", 0},
             Case{Key::digit0, 0, true, "seek", 0},
             Case{Key::pageDown, 0, false, std::nullopt, std::nullopt},
             Case{Key::x, 0, false, std::nullopt, std::nullopt},
             Case{Key::j, keyCtrl, false, std::nullopt, std::nullopt},
             Case{Key::j, keyAlt, false, std::nullopt, std::nullopt},
             Case{Key::j, keyMeta, false, std::nullopt, std::nullopt},
             Case{Key::j, keyCtrl | keyShift, false, std::nullopt, std::nullopt},
             Case{Key::space, keyCtrl, false, std::nullopt, std::nullopt},
             Case{Key::a, keyCtrl | keyAlt, false, std::nullopt, std::nullopt},
         }) {
        EXPECT_EQ(press(c.key, c.modifiers), c.used) << int(c.key) << " with " << c.modifiers;
        const auto out = sent();
        ASSERT_EQ(out.size(), c.action ? 1u : 0u) << int(c.key) << " with " << c.modifiers;
        if (!c.action) continue;
        EXPECT_EQ(out[0].action, *c.action);
        EXPECT_EQ(out[0].time, c.time);
    }
}

TEST_F(KeyboardTest, ArrowsStepTheVolumeWithinItsRangeAndMLeavesAndRestoresMute) {
    makeWithKeys();
    struct Case {
        double from;
        Key key;
        double to;
    };
    for (const Case& c : {Case{5, Key::up, 6}, Case{6, Key::up, 6}, Case{-59, Key::down, -60},
                          Case{-60, Key::down, -60}, Case{-10, Key::up, -7}, Case{0, Key::down, -3}}) {
        app->setMasterVolumeDB(c.from);
        EXPECT_TRUE(press(c.key));
        EXPECT_DOUBLE_EQ(app->masterVolumeDB(), c.to) << c.from;
    }
    app->setMasterVolumeDB(-12);
    EXPECT_TRUE(press(Key::m));
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -60);
    EXPECT_TRUE(press(Key::up));
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -57);
    EXPECT_TRUE(app->isMuted()) << "the arrows do not unmute";
    EXPECT_TRUE(press(Key::m, keyShift));
    EXPECT_FALSE(app->isMuted());
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -12);
}

TEST_F(KeyboardTest, DigitsTakeTheVisibleClipOfThatNumberAndASwallowedKeyWithoutOne) {
    makeWithKeys();
    const auto c = clips(3);
    EXPECT_TRUE(press(Key::digit5)) << "no fifth clip, but the key is used";
    EXPECT_FALSE(onAir());
    EXPECT_FALSE(app->selectedItemId());
    EXPECT_TRUE(press(Key::digit2));
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, c[1].id);
    EXPECT_TRUE(press(digitKey(3)));
    EXPECT_EQ(onAir()->mediaId, c[2].id);
    app->triggerVisible(-1);
    app->triggerVisible(3);
    EXPECT_EQ(onAir()->mediaId, c[2].id);
}

TEST_F(KeyboardTest, ArrowsStepThroughTheVisibleClipsAndWrapAround) {
    makeWithKeys();
    const auto c = clips(4);
    // Playlist sections come first: clip3 in a playlist is the first visible clip.
    const Group p = playlist({c[3].id});
    const std::vector<std::string> visible{c[3].id, c[0].id, c[1].id, c[2].id};
    std::vector<std::string> shown;
    for (const auto& m : app->visibleClips()) shown.push_back(m.id);
    ASSERT_EQ(shown, visible);

    struct Case {
        std::string search;
        std::optional<int> selected;  // position among the visible clips; none: nothing selected
        Key key;
        int taken;
    };
    for (const Case& t : {
             Case{"", std::nullopt, Key::left, 2},  // four clips, none selected: the third
             Case{"", std::nullopt, Key::right, 0},
             Case{"", 0, Key::left, 3},
             Case{"", 3, Key::right, 0},
             Case{"", 1, Key::right, 2},
             Case{"", 2, Key::left, 1},
             Case{"clip1", std::nullopt, Key::left, 2},  // one clip shown: that one
             Case{"clip1", 1, Key::right, 2},            // the selected clip is hidden: counts as none
         }) {
        app->program.clearAll();
        app->setSearchText(t.search);
        app->setSelectedItemId(t.selected ? std::optional<std::string>(visible[std::size_t(*t.selected)]) : std::nullopt);
        EXPECT_TRUE(press(t.key));
        EXPECT_EQ(app->selectedItemId(), visible[std::size_t(t.taken)]) << "'" << t.search << "' from " << t.selected.value_or(-1);
        ASSERT_TRUE(onAir());
        EXPECT_EQ(onAir()->mediaId, visible[std::size_t(t.taken)]);
    }
    app->setSearchText("nothing shows");
    app->program.clearAll();
    EXPECT_TRUE(press(Key::right));
    EXPECT_FALSE(onAir()) << "no visible clip: nothing taken";
    (void)p;
}

TEST_F(KeyboardTest, EscapeDropsTheSelectionFirstThenStopsTheMediaLayerAndTheAdvance) {
    makeWithKeys();
    const auto c = clips(3);
    playlist({c[0].id, c[1].id}, [](Group& g) { g.advanceSeconds = 30; });
    const MediaItem tone = add(audio());
    ASSERT_TRUE(app->trigger(tone, false));
    ASSERT_TRUE(app->trigger(c[0], false));
    ASSERT_TRUE(app->advancePending());
    app->toggleClipSelection(c[1].id);
    app->extendClipSelection(c[2].id);
    ASSERT_FALSE(app->selectedIds().empty());
    ASSERT_TRUE(app->selectionAnchorId());

    EXPECT_TRUE(press(Key::escape));
    EXPECT_TRUE(app->selectedIds().empty());
    EXPECT_FALSE(app->selectionAnchorId());
    EXPECT_TRUE(onAir()) << "the first Escape only clears the selection";
    EXPECT_TRUE(app->advancePending());

    EXPECT_TRUE(press(Key::escape));
    EXPECT_FALSE(onAir());
    EXPECT_FALSE(app->advancePending());
    EXPECT_TRUE(onAir(LayerId::audio)) << "only the media layer is cleared";
}

TEST_F(KeyboardTest, BTogglesBlackAndCClearsEveryLayerAndTheAdvance) {
    makeWithKeys();
    const auto c = clips(2);
    playlist({c[0].id, c[1].id}, [](Group& g) { g.advanceSeconds = 30; });
    ASSERT_TRUE(app->trigger(add(audio()), false));
    ASSERT_TRUE(app->trigger(c[0], false));
    EXPECT_TRUE(press(Key::b));
    EXPECT_TRUE(app->program.state().black);
    EXPECT_TRUE(press(Key::b, keyShift));
    EXPECT_FALSE(app->program.state().black);
    EXPECT_TRUE(press(Key::c));
    EXPECT_TRUE(app->program.liveLayers().empty());
    EXPECT_FALSE(app->advancePending());
    // With nothing pending the auto-advance does not come back later.
    q.advance(31);
    EXPECT_TRUE(app->program.liveLayers().empty());
}

TEST_F(KeyboardTest, CtrlSelectsAllAndCopiesAndPastesPlaylistsOnlyWhenThereAreSome) {
    makeWithKeys();
    const auto c = clips(3);
    const Group p = playlist({c[0].id});
    EXPECT_TRUE(press(Key::a, keyCtrl | keyShift));
    EXPECT_EQ(app->selectedIds(), (std::set<std::string>{c[0].id, c[1].id, c[2].id}));

    EXPECT_FALSE(press(Key::v, keyCtrl)) << "nothing to paste: the menus get the key";
    EXPECT_FALSE(press(Key::c, keyCtrl)) << "no playlist selected in the sidebar";
    EXPECT_FALSE(clipboard.hasData(product::playlistClipboardType));

    app->setSelection({SidebarItem::playlist(p.id)});
    EXPECT_TRUE(press(Key::c, keyCtrl));
    EXPECT_TRUE(app->savedPlaylists().canPastePlaylist());
    EXPECT_TRUE(press(Key::v, keyCtrl));
    EXPECT_EQ(app->library.groups().size(), 2u);
    EXPECT_FALSE(press(Key::x, keyCtrl));
}

// Moving the selected clip within its section, as the menus do.
TEST_F(KeyboardTest, TheSelectedClipMovesWithinItsSectionAndNotPastItsEnds) {
    makeWithKeys();
    const auto c = clips(4);
    const Group p = playlist({c[0].id, c[1].id, c[2].id, c[3].id});
    const auto order = [&] {
        std::vector<std::string> ids;
        for (const auto& g : app->library.groups())
            if (g.id == p.id)
                for (const auto& id : g.mediaIds) ids.push_back(id == c[0].id ? "A" : id == c[1].id ? "B" : id == c[2].id ? "C" : "D");
        return ids;
    };
    struct Case {
        std::optional<int> selected;     // the primary clip
        std::set<int> selection;         // the clip selection
        int delta;
        std::vector<std::string> after;  // from A B C D
    };
    for (const Case& t : {
             Case{3, {}, 1, {"A", "B", "C", "D"}},   // the last one down: nothing
             Case{0, {}, -1, {"A", "B", "C", "D"}},  // the first one up: nothing
             Case{2, {}, 1, {"A", "B", "D", "C"}},   // the second-to-last down becomes the last
             Case{1, {}, -1, {"B", "A", "C", "D"}},
             Case{0, {}, 2, {"B", "C", "A", "D"}},
             Case{std::nullopt, {2}, -2, {"C", "A", "B", "D"}},    // no primary clip: the one selected
             Case{std::nullopt, {1, 2}, 1, {"A", "B", "C", "D"}},  // several selected: nothing
         }) {
        Group reset = *std::find_if(app->library.groups().begin(), app->library.groups().end(),
                                    [&](const Group& g) { return g.id == p.id; });
        reset.mediaIds = {c[0].id, c[1].id, c[2].id, c[3].id};
        app->library.updateGroup(reset);
        app->setSelectedItemId(t.selected ? std::optional<std::string>(c[std::size_t(*t.selected)].id) : std::nullopt);
        std::set<std::string> ids;
        for (int i : t.selection) ids.insert(c[std::size_t(i)].id);
        app->setSelectedIds(ids);
        app->moveSelectedClip(t.delta);
        EXPECT_EQ(order(), t.after) << t.selected.value_or(-1) << " by " << t.delta;
    }
}

}  // namespace
