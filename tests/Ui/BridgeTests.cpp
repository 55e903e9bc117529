// The bridge between the state and the views: change events as Qt stateSignals, coalesced refreshes, typed
// preferences.
#include <QSignalSpy>

#include "UiTestSupport.hpp"
#include "Ui/Bridge/RefreshGate.hpp"

namespace ombry::ui_test {
namespace {

using ui::RefreshGate;

TEST_F(UiTest, FiveHundredLibraryChangesInOneTurnGiveOneRefresh) {
    make();
    const MediaItem clip = add(image());
    QWidget view;
    view.show();
    int refreshes = 0;
    auto* gate = new RefreshGate(&view, [&] { ++refreshes; });
    gate->watch(*stateSignals, {Aspect::media});
    QSignalSpy spy(stateSignals.get(), &ui::StateSignals::changed);
    for (int i = 0; i < 500; ++i)
        app->library.setMeta(clip.id, [i](MediaItem& m) { m.name = "Clip " + std::to_string(i); });
    EXPECT_GE(spy.count(), 500);
    EXPECT_EQ(refreshes, 0) << "refreshes wait for the next turn of the event loop";
    turn();
    EXPECT_EQ(refreshes, 1);
    turn();
    EXPECT_EQ(refreshes, 1);
    // An aspect the view does not watch refreshes nothing.
    app->setMasterVolumeDB(-6);
    turn();
    EXPECT_EQ(refreshes, 1);
    app->library.setMeta(clip.id, [](MediaItem& m) { m.name = "Again"; });
    turn();
    EXPECT_EQ(refreshes, 2);
}

TEST_F(UiTest, HiddenViewMarksItselfStaleAndRefreshesOnceWhenShown) {
    make();
    QWidget view;
    int refreshes = 0;
    auto* gate = new RefreshGate(&view, [&] { ++refreshes; });
    gate->watch(*stateSignals, {Aspect::groups});
    app->library.createGroup("One");
    app->library.createGroup("Two");
    turn();
    EXPECT_EQ(refreshes, 0);
    EXPECT_TRUE(gate->stale());
    view.show();
    turn();
    EXPECT_EQ(refreshes, 1);
    EXPECT_FALSE(gate->stale());
    view.hide();
    view.show();
    turn();
    EXPECT_EQ(refreshes, 1) << "shown again with nothing changed";
}

TEST_F(UiTest, TheStateReportsEachAspectAsItChanges) {
    make();
    const MediaItem clip = add(video());
    struct Case {
        const char* what;
        std::function<void()> change;
        Aspect aspect;
    };
    const std::vector<Case> cases{
        {"take", [&] { ASSERT_TRUE(app->trigger(clip, false)); }, Aspect::program},
        {"playhead", [&] { advance(0.5); }, Aspect::clockEpoch},
        {"playlist", [&] { app->library.createGroup("P"); }, Aspect::groups},
        {"clip", [&] { app->library.setMeta(clip.id, [](MediaItem& m) { m.name = "N"; }); }, Aspect::media},
        {"offline", [&] { app->library.markOffline(clip.id); }, Aspect::offlineIds},
        {"sidebar", [&] { app->setSelection({}); }, Aspect::sidebarSelection},
        {"clip selection", [&] { app->toggleClipSelection(clip.id); }, Aspect::clipSelection},
        {"settings", [&] { app->setSettings(app->settings()); }, Aspect::settings},
        {"volume", [&] { app->setMasterVolumeDB(-3); }, Aspect::masterVolume},
        {"mute", [&] { app->toggleMute(); }, Aspect::masterVolume},
        {"issue", [&] { IssueLog::shared().report(IssueCode::displayDisconnected, "TV"); }, Aspect::issues},
        {"visible", [&] { app->setUiVisible(false); }, Aspect::uiVisible},
        {"search", [&] { app->setSearchText("x"); }, Aspect::search},
        {"name width", [&] { app->setProjectNameWidth(480); }, Aspect::project},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QSignalSpy spy(stateSignals.get(), &ui::StateSignals::changed);
        c.change();
        bool seen = false;
        for (const auto& args : spy) seen = seen || args.at(0).value<Aspect>() == c.aspect;
        EXPECT_TRUE(seen) << "no " << aspectName(c.aspect);
    }
    app->setUiVisible(true);
}

TEST_F(UiTest, SignalsEndTheirSubscriptionWhenTheyGo) {
    make();
    int calls = 0;
    {
        ui::StateSignals other(*app);
        QObject::connect(&other, &ui::StateSignals::changed, [&](Aspect a) { calls += a == Aspect::masterVolume; });
        app->setMasterVolumeDB(-1);
        EXPECT_EQ(calls, 1);
    }
    app->setMasterVolumeDB(-2);
    EXPECT_EQ(calls, 1);
}

TEST_F(UiTest, TileSizePreferenceFallsBackToMediumAndAnnouncesChanges) {
    for (const char* stored : {"Large", "huge", "", "MEDIUM"}) {
        defaults.set("tileSize", stored);
        EXPECT_EQ(preferences->tileSize(), ui::TileSize::medium) << stored;
    }
    defaults.set("tileSize", 3);
    EXPECT_EQ(preferences->tileSize(), ui::TileSize::medium);
    defaults.remove("tileSize");
    EXPECT_EQ(preferences->tileSize(), ui::TileSize::medium);
    QSignalSpy spy(preferences.get(), &ui::Preferences::changed);
    preferences->setTileSize(ui::TileSize::small);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), "tileSize");
    EXPECT_EQ(defaults.string("tileSize"), "small");
    // Another Preferences over the same defaults (the settings pane and the board) reads the same value.
    ui::Preferences other(defaults);
    EXPECT_EQ(other.tileSize(), ui::TileSize::small);
}

}  // namespace
}  // namespace ombry::ui_test
