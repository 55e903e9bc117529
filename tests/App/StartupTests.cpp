// Start-up, the settings' propagation to the servers and outputs, the stay-awake rule and the published
// client counts, over recording links and the virtual clock.
#include "AppStateFixture.hpp"
#include "Render/Audio/ProgramAudioBus.hpp"

namespace ombry::app_test {
namespace {

class StartupTest : public AppStateTest {
protected:
    AppState& started() {
        make();
        app->start();
        q.runPending();
        return *app;
    }
    void set(const std::function<void(AppSettings&)>& change) {
        AppSettings s = app->settings();
        change(s);
        app->setSettings(s);
        q.runPending();
    }
};

TEST_F(StartupTest, StartRunsTheSequenceOnceAndBringsBothServersUp) {
    started();
    app->start();
    q.runPending();
    EXPECT_TRUE(app->started);
    EXPECT_TRUE(app->previewConnected);
    EXPECT_EQ(server->startPorts, std::vector<std::uint16_t>{7340});
    ASSERT_TRUE(app->serverInfo);
    EXPECT_EQ(app->serverInfo->port, 7340);
    ASSERT_TRUE(app->controlServerInfo());
    EXPECT_EQ(app->controlServerInfo()->port, 7341);
    EXPECT_EQ(control->count("start 7341"), 1);
    EXPECT_EQ(intake->probes, 1);
    // The pages that connect get the current program.
    ASSERT_FALSE(server->states.empty());
    EXPECT_EQ(server->states.back().rev, app->program.state().rev);
    // Bluetooth is off by default: stopped, never started.
    EXPECT_EQ(ble->count("start"), 0);
    EXPECT_EQ(ble->count("stop"), 1);
}

TEST_F(StartupTest, SecondStartWhileTheOutputServerIsStillStartingDoesNothing) {
    server->holdStarts = true;
    make();
    app->start();
    app->start();
    q.runPending();
    EXPECT_EQ(server->startPorts.size(), 1u);
    // Nothing after the output server runs before it has answered: the remote-control server's ports
    // overlap its own.
    EXPECT_EQ(control->countPrefix("start "), 0);
    EXPECT_EQ(intake->probes, 0);
    ASSERT_EQ(server->pendingStarts.size(), 1u);
    server->pendingStarts.at(0)(ServerInfo{7342, "http://localhost:7342/", {}});
    q.runPending();
    EXPECT_EQ(app->serverInfo->port, 7342);
    EXPECT_EQ(control->countPrefix("start "), 1);
    EXPECT_EQ(intake->probes, 1);
    app->start();
    q.runPending();
    EXPECT_EQ(server->startPorts.size(), 1u);
    EXPECT_EQ(control->countPrefix("start "), 1);
}

TEST_F(StartupTest, NoOutputPortReportsNet01AndLeavesNoServerInfo) {
    server->failStart = true;
    started();
    const Issue* net01 = issue(IssueCode::outputServerFailed);
    ASSERT_TRUE(net01);
    EXPECT_FALSE(app->serverInfo);
    EXPECT_TRUE(app->previewConnected);
    // Start-up went on: the remote-control server is up.
    EXPECT_TRUE(app->controlServerInfo());
    // Without the output server no output counts as ready, even with a page and NDI.
    server->onConnections(1);
    q.runPending();
    EXPECT_FALSE(app->outputReady());
}

TEST_F(StartupTest, NdiAudioDelayIsClampedToHalfASecondOfFrames) {
    started();
    const struct {
        std::int64_t ms, frames;
    } cases[] = {{-20, 0}, {120, 5760}, {900, 24000}, {250, 12000}};
    for (const auto& c : cases) {
        set([&](AppSettings& s) { s.ndiAudioDelayMs = c.ms; });
        EXPECT_EQ(app->previewRenderer().audioBus()->delayFrames.load(), c.frames) << c.ms << " ms";
    }
}

TEST_F(StartupTest, ShowActivityIsHeldExactlyWhileOnAir) {
    make();
    const MediaItem clip = add(video());
    app->start();
    q.runPending();
    EXPECT_EQ(keepAwake->held, 0) << "nothing live and no output in use";

    ASSERT_TRUE(app->trigger(clip, false));
    EXPECT_EQ(keepAwake->held, 1);
    EXPECT_EQ(keepAwake->reasons, std::vector<std::string>{"A show is on air"});
    app->program.clearAll();
    EXPECT_EQ(keepAwake->held, 0);

    // An output page in use keeps the show on air with nothing live.
    server->onConnections(1);
    q.runPending();
    EXPECT_TRUE(app->outputReady());
    EXPECT_EQ(keepAwake->held, 1);
    ASSERT_TRUE(app->trigger(clip, false));
    app->program.clearAll();
    EXPECT_EQ(keepAwake->held, 1);
    EXPECT_EQ(keepAwake->begun, 2) << "an activity is never begun twice";
    server->onConnections(0);
    q.runPending();
    EXPECT_EQ(keepAwake->held, 0);

    // NDI switched on counts as an output in use.
    set([](AppSettings& s) { s.ndiOutputEnabled = true; });
    EXPECT_TRUE(app->ndiEnabled());
    EXPECT_EQ(keepAwake->held, 1);
    set([](AppSettings& s) { s.ndiOutputEnabled = false; });
    EXPECT_FALSE(app->ndiEnabled());
    EXPECT_EQ(keepAwake->held, 0);
}

TEST_F(StartupTest, NothingIsHeldAwakeBeforeStart) {
    make();
    const MediaItem clip = add(video());
    ASSERT_TRUE(app->trigger(clip, false));
    EXPECT_EQ(keepAwake->begun, 0);
    app->start();
    q.runPending();
    EXPECT_EQ(keepAwake->held, 1);
}

// Start-up puts the renderer's monitor where the setting says, whatever it was left at; each assignment
// that changes the setting switches it.
TEST_F(StartupTest, MonitorAudioFollowsTheSettingAtStartAndOnEachChange) {
    for (bool enabled : {false, true}) {
        SCOPED_TRACE(enabled);
        AppSettings stored;
        stored.audioMonitorEnabled = enabled;
        Store::saveDoc(stored, Store::dir() / "settings.json");
        make();
        app->previewRenderer().setMonitorAudible(!enabled);
        app->start();
        q.runPending();
        EXPECT_EQ(app->previewRenderer().monitorAudible(), enabled);
        set([&](AppSettings& s) { s.audioMonitorEnabled = !enabled; });
        EXPECT_EQ(app->previewRenderer().monitorAudible(), !enabled);
        set([&](AppSettings& s) { s.audioMonitorEnabled = enabled; });
        EXPECT_EQ(app->previewRenderer().monitorAudible(), enabled);
        app.reset();
        q.runPending();
    }
}

TEST_F(StartupTest, EqualSettingsRewriteTheFileButStartNoServerOrPasswordWork) {
    started();
    set([](AppSettings& s) { s.remoteControlPassword = "pw"; });
    const auto before = control->calls;
    const auto bleBefore = ble->calls;
    fs::remove(Store::dir() / "settings.json");
    app->setSettings(app->settings());
    q.runPending();
    EXPECT_TRUE(fs::exists(Store::dir() / "settings.json"));
    EXPECT_EQ(control->calls, before);
    EXPECT_EQ(ble->calls, bleBefore);
}

TEST_F(StartupTest, PasswordChangeAloneConfiguresBothRemotesWithoutRestart) {
    started();
    control->calls.clear();
    ble->calls.clear();
    set([](AppSettings& s) { s.remoteControlPassword = "secret"; });
    EXPECT_EQ(control->calls, std::vector<std::string>{"password secret"});
    EXPECT_EQ(ble->calls, std::vector<std::string>{"password secret"});
}

TEST_F(StartupTest, ControlPortIsClampedToTheSixteenBitRange) {
    started();
    const struct {
        std::int64_t setting;
        std::string start;
    } cases[] = {{70000, "start 65535"}, {-1, "start 0"}, {8000, "start 8000"}};
    for (const auto& c : cases) {
        control->calls.clear();
        set([&](AppSettings& s) { s.remoteControlPort = c.setting; });
        EXPECT_EQ(control->count(c.start), 1) << c.setting;
    }
}

TEST_F(StartupTest, BluetoothSettingAloneRestartsTheHttpServer) {
    started();
    control->calls.clear();
    set([](AppSettings& s) { s.bleRemoteEnabled = true; });
    EXPECT_EQ(control->calls.front(), "stop");
    EXPECT_EQ(control->count("start 7341"), 1);
    EXPECT_EQ(ble->count("start"), 1);
    ASSERT_TRUE(app->controlServerInfo());

    control->calls.clear();
    ble->calls.clear();
    set([](AppSettings& s) { s.bleRemoteEnabled = false; });
    EXPECT_EQ(control->count("stop"), 1);
    EXPECT_EQ(control->count("start 7341"), 1);
    EXPECT_EQ(ble->count("stop"), 1);
    EXPECT_FALSE(app->bleState());
}

TEST_F(StartupTest, TokenAndPortChangeTogetherPushTheUploadConfigOnceBeforeTheStart) {
    started();
    control->calls.clear();
    set([](AppSettings& s) {
        s.mediaUploadEnabled = true;
        s.mediaUploadToken = "tok";
        s.remoteControlPort = 7400;
    });
    EXPECT_EQ(control->countPrefix("upload "), 1);
    const auto upload = std::find(control->calls.begin(), control->calls.end(), "upload on tok");
    const auto start = std::find(control->calls.begin(), control->calls.end(), "start 7400");
    ASSERT_NE(upload, control->calls.end());
    EXPECT_LT(upload, start);

    // A token change alone pushes it from the propagation.
    control->calls.clear();
    set([](AppSettings& s) { s.mediaUploadToken = "other"; });
    EXPECT_EQ(control->calls, std::vector<std::string>{"upload on other"});
}

TEST_F(StartupTest, RemoteControlOffLeavesTheServerStoppedAndBeforeStartNothingStarts) {
    make();
    set([](AppSettings& s) { s.remoteControlPort = 7500; });
    EXPECT_EQ(control->countPrefix("start"), 0) << "before start-up the server stays stopped";
    EXPECT_EQ(control->countPrefix("upload"), 0);
    app->start();
    q.runPending();
    control->calls.clear();
    set([](AppSettings& s) { s.remoteControlEnabled = false; });
    EXPECT_EQ(control->calls, std::vector<std::string>{"stop"});
    EXPECT_FALSE(app->controlServerInfo());
}

// Two synchronisations overlap: the second one's stop ends the first one's pending start.
TEST_F(StartupTest, StartCancelledByOurOwnStopIsNotReportedAsNet02) {
    control->holdStarts = true;
    started();
    ASSERT_EQ(control->pendingStarts.size(), 1u);
    set([](AppSettings& s) { s.remoteControlPort = 7400; });
    EXPECT_FALSE(issue(IssueCode::controlServerFailed));
    ASSERT_EQ(control->pendingStarts.size(), 1u);
    control->pendingStarts.front()(ServerInfo{7400, "http://localhost:7400/", {}});
    control->pendingStarts.clear();
    q.runPending();
    ASSERT_TRUE(app->controlServerInfo());
    EXPECT_EQ(app->controlServerInfo()->port, 7400);

    // A start that truly finds no port is reported.
    control->holdStarts = false;
    control->failStart = true;
    set([](AppSettings& s) { s.remoteControlPort = 7500; });
    EXPECT_TRUE(issue(IssueCode::controlServerFailed));
    EXPECT_FALSE(app->controlServerInfo());
    // The next successful start resolves it.
    control->failStart = false;
    set([](AppSettings& s) { s.remoteControlPort = 7600; });
    EXPECT_FALSE(issue(IssueCode::controlServerFailed));
}

// Remote counts.

TEST_F(StartupTest, ReconnectWithinTheDropDelayNeverShowsTheDrop) {
    started();
    control->onClientsChanged(1, 0);
    q.runPending();
    EXPECT_EQ(app->remoteClientCount(), 1);
    EXPECT_EQ(app->remoteWifiCount(), 1);
    control->onClientsChanged(0, 0);
    q.runPending();
    q.advance(2.9);
    EXPECT_EQ(app->remoteClientCount(), 1);
    control->onClientsChanged(1, 0);
    q.runPending();
    q.advance(10);
    EXPECT_EQ(app->remoteClientCount(), 1);
    EXPECT_EQ(app->remoteWifiCount(), 1);
}

TEST_F(StartupTest, ThreeToOneToNonePublishesNoneThreeSecondsAfterTheLastReport) {
    started();
    control->onClientsChanged(2, 1);
    ble->onClientsChanged(1);
    q.runPending();
    EXPECT_EQ(app->remoteClientCount(), 3);
    EXPECT_EQ(app->remoteBleCount(), 1);
    EXPECT_EQ(app->companionClientCount(), 1);

    control->onClientsChanged(1, 1);
    ble->onClientsChanged(0);
    q.runPending();
    q.advance(2);
    EXPECT_EQ(app->remoteClientCount(), 3);
    control->onClientsChanged(0, 0);
    q.runPending();
    q.advance(2.9);
    EXPECT_EQ(app->remoteClientCount(), 3);
    EXPECT_EQ(app->companionClientCount(), 1);
    q.advance(0.2);
    EXPECT_EQ(app->remoteClientCount(), 0);
    EXPECT_EQ(app->remoteWifiCount(), 0);
    EXPECT_EQ(app->remoteBleCount(), 0);
    EXPECT_EQ(app->companionClientCount(), 0);
    EXPECT_EQ(app->showActivitySummary(), "");
}

TEST_F(StartupTest, ShowActivitySummaryCountsControllersAndOutputs) {
    started();
    control->onClientsChanged(1, 1);
    server->onConnections(1);
    q.runPending();
    set([](AppSettings& s) { s.ndiOutputEnabled = true; });
    EXPECT_EQ(app->showActivitySummary(), "1 browser output connected, NDI is on, and 2 controllers are connected");
}

TEST_F(StartupTest, HiddenWindowStopsTheMeters) {
    make();
    app->setUiVisible(false);
    EXPECT_FALSE(app->meterEngine().enabled());
    app->setUiVisible(true);
    EXPECT_TRUE(app->meterEngine().enabled());
}

}  // namespace
}  // namespace ombry::app_test
