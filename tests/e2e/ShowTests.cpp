// The whole show in one process: the application state with the real output server and remote-control
// server on loopback, the renderer on the headless GL context, an output page in headless Chromium, a
// WebSocket remote and curl sending commands. The main queue runs on the virtual clock and is pumped while
// the other processes and threads work.
#include <sys/wait.h>

#include <atomic>
#include <thread>

#include "../App/AppStateFixture.hpp"
#include "../Engine/Servers/NetTestSupport.hpp"
#include "RemoteReader.hpp"
#include "App/ServerLinks.hpp"
#include "support/Processes.hpp"

using namespace ombry;
using namespace ombry::app_test;

namespace {

struct HttpAnswer {
    int status = 0;
    std::string body;
};

using test::RemoteReader;

bool isState(const Json& m) { return m.is_object() && m.value("type", "") == "state"; }
bool isTransport(const Json& m) { return m.is_object() && m.value("type", "") == "transport"; }
std::string liveMedia(const Json& state) {
    const auto& layer = state.at("layers").at("media");
    return layer.is_object() ? layer.value("mediaId", "") : "";
}

class ShowTest : public AppStateTest {
protected:
    static constexpr const char* password = "stage door";
    static constexpr int running = -2;

    void SetUp() override {
        AppStateTest::SetUp();
        OutputServer::Options output;
        output.bindAddress = "127.0.0.1";
        outputLink = std::make_shared<OutputServerRemote>(outputBundleDir(), output);
        ControlServer::Options control;
        control.bindAddress = "127.0.0.1";
        controlLink = std::make_shared<ControlServerRemote>(control);
    }

    std::uint16_t controlPort() const { return std::uint16_t(app->controlServerInfo()->port); }

    // Runs a program with its standard output in a file, the main queue pumped until it ends.
    int run(std::vector<std::string> args, const fs::path& out, double limit) {
        const std::string program = args.at(0);
        const pid_t pid = test::spawnProcess(std::move(args), out.string());
        EXPECT_GT(pid, 0) << program << " did not start";
        if (pid <= 0) return -1;
        int status = 0;
        if (!q.waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit)) {
            ADD_FAILURE() << program << " never ended";
            test::stopProcess(pid);
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    HttpAnswer curl(std::uint16_t port, const std::string& target) {
        const fs::path dir = test::tempDir("curl");
        const fs::path body = dir / "body";
        const fs::path code = dir / "code";
        const int rc = run({"curl", "-sS", "--max-time", "60", "-o", body.string(), "-w", "%{http_code}",
                            "http://127.0.0.1:" + std::to_string(port) + target},
                           code, 90.0);
        EXPECT_EQ(rc, 0) << "curl failed on " << target;
        return {std::atoi(test::readFile(code).c_str()), test::readFile(body)};
    }

    // Frames on the virtual clock until the composed stage's middle has the colour.
    bool stageShows(test::Rgba colour) {
        for (int frame = 0; frame < 200; ++frame) {
            advance(1.0 / 30);
            if (::testing::Test::HasFatalFailure()) return false;
            out->pump();
            app->previewRenderer().tick(appClock().monotonic());
            const auto px = test::readTarget(app->previewRenderer().compositor().target())
                                .at(stage_test::W / 2, stage_test::H / 2);
            if (stage_test::looksLike(px, colour)) return true;
        }
        return false;
    }
};

TEST_F(ShowTest, ARemoteTakeReachesTheStageTheOutputPageAndTheRemotesAndOnlyWithThePassword) {
    make();
    app->program.setStage([](StageConfig& st) {
        st.width = stage_test::W;
        st.height = stage_test::H;
        st.fps = 30;
    });
    AppSettings settings = app->settings();
    settings.remoteControlEnabled = true;
    settings.remoteControlPort = 0;  // any free port: read back from the state
    settings.remoteControlPassword = password;
    app->setSettings(settings);
    app->start();
    ASSERT_TRUE(q.waitUntil([&] { return app->serverInfo && app->controlServerInfo(); }, 30.0)) << "no listeners";
    const std::uint16_t outputPort = std::uint16_t(app->serverInfo->port);
    const std::uint16_t firstPort = controlPort();
    ASSERT_NE(firstPort, 0);

    // Lengths differ, so that the remotes' first tick of the new clip is not a repeat of the old one's.
    const MediaItem red = add(stage_test::colourClip("red", 60).string());
    const MediaItem blue = add(stage_test::colourClip("blue", 40).string());
    playlist({red.id, blue.id});  // the remote clip list: 1 is red, 2 is blue
    ASSERT_TRUE(app->trigger(blue, false));
    ASSERT_TRUE(stageShows(stage_test::kBlue)) << "the first clip never reached the stage";

    // The output page, open before the take.
    const fs::path pageOut = test::tempDir("page") / "shown.json";
    std::atomic<int> pageExit{running};
    std::thread page([&, url = "http://127.0.0.1:" + std::to_string(outputPort) + "/"] {
        // Its own process; reaped on this thread, read on the test's once it has ended.
        const pid_t pid = test::spawnProcess({OMBRY_NODE, OMBRY_WATCH_OUTPUT, url, red.id, "90000"}, pageOut.string());
        int status = -1;
        if (pid > 0) waitpid(pid, &status, 0);
        pageExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    });
    struct Join {
        std::thread& t;
        ~Join() { t.join(); }
    } joinPage{page};
    q.waitUntil([&] { return app->outputCount == 1 || pageExit != running; }, 90.0);
    ASSERT_EQ(app->outputCount, 1) << "the output page never connected: " << test::readFile(pageOut);

    // A remote, admitted with the password, following the show.
    test::RawClient client(firstPort);
    ASSERT_TRUE(client.upgrade("/?k=stage%20door"));
    ASSERT_TRUE(client.sendFrame(0x1, R"({"type":"hello","role":"remote"})"));
    RemoteReader remote(std::move(client));
    ASSERT_TRUE(q.waitUntil([&] {
        const auto m = remote.messages();
        return !m.empty() && isState(m.back()) && liveMedia(m.back()) == blue.id && app->remoteClientCount() == 1;
    }, 30.0)) << "the remote never had the state";
    const std::size_t before = remote.messages().size();

    // Clip 1 taken live from the control API.
    const HttpAnswer taken = curl(firstPort, "/api/trigger/index/1?k=stage%20door");
    ASSERT_EQ(taken.status, 200) << taken.body;
    EXPECT_EQ(Json::parse(taken.body, nullptr, false).value("ok", false), true) << taken.body;
    ASSERT_TRUE(onAir());
    EXPECT_EQ(onAir()->mediaId, red.id);
    const std::string cueId = onAir()->cueId;
    EXPECT_TRUE(stageShows(stage_test::kRed)) << "the take never reached the composed stage";

    // The output page reveals the same cue, in its colour.
    ASSERT_TRUE(q.waitUntil([&] { return pageExit != running; }, 120.0)) << "the output page never ended";
    const Json shown = Json::parse(test::readFile(pageOut), nullptr, false);
    ASSERT_EQ(pageExit.load(), 0) << test::readFile(pageOut);
    EXPECT_EQ(shown.value("layer", ""), "media");
    EXPECT_EQ(shown.value("cueId", ""), cueId);
    const Json px = shown.value("pixel", Json::object());
    EXPECT_TRUE(stage_test::looksLike({px.value("r", 0), px.value("g", 0), px.value("b", 0), 255}, stage_test::kRed, 24))
        << px.dump();

    // The remote has the new state with the clip live, then a tick of its playhead.
    std::optional<std::int64_t> liveRev;
    ASSERT_TRUE(q.waitUntil([&] {
        const auto m = remote.messages();
        for (std::size_t i = before; i < m.size(); ++i) {
            if (!liveRev && isState(m[i]) && liveMedia(m[i]) == red.id) liveRev = m[i].at("rev").get<std::int64_t>();
            else if (liveRev && isTransport(m[i]) && m[i].value("layer", "") == "media") return true;
        }
        return false;
    }, 60.0)) << "no new state with the clip live followed by a tick";
    EXPECT_EQ(*liveRev, std::int64_t(app->program.state().rev));

    // A wrong password is refused and changes nothing: clip 2 stays off, and the next state the remote
    // gets is the one of the command that follows.
    const std::uint64_t revBefore = app->program.state().rev;
    const std::size_t beforeRefused = remote.messages().size();
    const HttpAnswer refused = curl(firstPort, "/api/trigger/index/2?k=stage");
    EXPECT_EQ(refused.status, 401) << refused.body;
    EXPECT_EQ(Json::parse(refused.body, nullptr, false).value("ok", true), false) << refused.body;
    EXPECT_EQ(onAir()->cueId, cueId);
    EXPECT_EQ(app->program.state().rev, revBefore);
    const HttpAnswer header = curl(firstPort, "/api/black/on");
    EXPECT_EQ(header.status, 401) << "no password at all";
    const HttpAnswer black = curl(firstPort, "/api/black/on?k=stage%20door");
    ASSERT_EQ(black.status, 200) << black.body;
    ASSERT_TRUE(q.waitUntil([&] {
        const auto m = remote.messages();
        return std::any_of(m.begin() + std::ptrdiff_t(beforeRefused), m.end(), isState);
    }, 30.0)) << "the remote never had the state after the black";
    {
        const auto m = remote.messages();
        const auto next = *std::find_if(m.begin() + std::ptrdiff_t(beforeRefused), m.end(), isState);
        EXPECT_EQ(next.value("black", false), true) << "a state came between: " << next.dump();
        EXPECT_EQ(liveMedia(next), red.id);
        EXPECT_EQ(next.at("rev").get<std::int64_t>(), std::int64_t(revBefore) + 1);
    }

    // A new port in the settings moves the server: the remote is dropped, the new port answers and the
    // old one refuses.
    const std::uint16_t movedTo = test::freePort();
    settings = app->settings();
    settings.remoteControlPort = movedTo;
    app->setSettings(settings);
    ASSERT_TRUE(q.waitUntil([&] { return app->controlServerInfo() && controlPort() != firstPort; }, 30.0))
        << "the server never moved";
    EXPECT_EQ(controlPort(), movedTo);
    EXPECT_TRUE(q.waitUntil([&] { return remote.ended(); }, 30.0)) << "the remote stayed connected";
    const HttpAnswer moved = curl(controlPort(), "/api/state?k=stage%20door");
    ASSERT_EQ(moved.status, 200) << moved.body;
    EXPECT_EQ(liveMedia(Json::parse(moved.body, nullptr, false)), red.id);
    test::RawClient old;
    old.connect(firstPort);
    EXPECT_FALSE(old.connected()) << "the old port still accepts connections";
}

}  // namespace
