#pragma once
// The application state over the real renderer on the headless context, real generated clips and the
// virtual clock: the fixture of every application-state test program.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "App/AppState.hpp"
#include "Engine/Library/Store.hpp"
#include "RecordingLinks.hpp"
#include "Render/NativeLayerHost.hpp"
#include "StageRendererFixture.hpp"
#include "support/TestEnv.hpp"

namespace ombry::app_test {

namespace fs = std::filesystem;

struct NoScreens final : ScreenProvider {
    std::vector<DisplayScreen> screens() const override { return {}; }
};
// Cancels every panel, unless a test queued the answers of its open panels (and reads what they asked).
struct NoPanels final : FilePanels {
    std::vector<std::optional<fs::path>> openAnswers;
    std::vector<OpenPanelRequest> openRequests;
    std::optional<fs::path> runSavePanel(const SavePanelRequest&) override { return std::nullopt; }
    std::optional<fs::path> runOpenPanel(const OpenPanelRequest& request) override {
        openRequests.push_back(request);
        if (openAnswers.empty()) return std::nullopt;
        auto answer = openAnswers.front();
        openAnswers.erase(openAnswers.begin());
        return answer;
    }
};
struct FatalCalled {
    IssueCode code;
};

inline void emptySupportFolder() {
    for (const auto& e : fs::directory_iterator(Store::dir()))
        if (e.path() != Store::projectsDir() && e.path() != Store::mediaDir() && e.path() != Store::thumbnailDir())
            fs::remove_all(e.path());
    for (const auto& e : fs::directory_iterator(Store::projectsDir())) fs::remove_all(e.path());
}

inline const Issue* issue(IssueCode code) {
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
    bool withLinks = true;
    std::shared_ptr<test::RecordingOutputServer> server = std::make_shared<test::RecordingOutputServer>();
    std::shared_ptr<test::RecordingControlServer> control = std::make_shared<test::RecordingControlServer>();
    std::shared_ptr<test::RecordingBluetoothRemote> ble = std::make_shared<test::RecordingBluetoothRemote>();
    std::shared_ptr<test::RecordingIntake> intake = std::make_shared<test::RecordingIntake>();
    std::shared_ptr<test::RecordingKeepAwake> keepAwake = std::make_shared<test::RecordingKeepAwake>();
    // Replaces the recording remote-control server when set (a real one, in end-to-end tests).
    std::shared_ptr<ControlServerLink> controlLink;
    // Replaces the recording output server when set.
    std::shared_ptr<OutputServerLink> outputLink;
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
        if (withLinks) {
            e.outputServer = server;
            e.controlServer = control;
            e.bleRemote = ble;
            e.intake = intake;
            e.keepAwake = keepAwake;
        }
        if (controlLink) e.controlServer = controlLink;
        if (outputLink) e.outputServer = outputLink;
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

}  // namespace ombry::app_test
