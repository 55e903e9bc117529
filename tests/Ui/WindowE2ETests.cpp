// The installed application in a real window: installed from this build into a temporary prefix, started
// on a private X server with the remote control on, driven by curl, key presses and close requests, and
// looked at through screenshots.
#include <gtest/gtest.h>

#include <QImage>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "Engine/Library/ProjectDoc.hpp"
#include "Engine/Library/Store.hpp"
#include "InstalledApp.hpp"
#include "XvfbServer.hpp"
#include "support/Processes.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

namespace fs = std::filesystem;
using test::near;
using test::waitFor;
using test::XClient;

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A still of one colour, made with ffmpeg.
fs::path still(const fs::path& dir, const std::string& colour) {
    const fs::path p = dir / (colour + ".png");
    if (!fs::exists(p)) {
        EXPECT_EQ(test::runProcess({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                    "color=c=" + colour + ":s=640x360", "-frames:v", "1", p.string()}),
                  0);
    }
    return p;
}

fs::path project(const fs::path& dir, const std::string& name, const std::vector<std::string>& colours) {
    ProjectDoc doc = ProjectDoc::make(name);
    int order = 0;
    for (const auto& colour : colours) {
        MediaItem m;
        char id[40];
        std::snprintf(id, sizeof id, "6F1C2A4E-3B7D-4F0A-9E21-%012d", order + 100 * int(name.size()));
        m.id = id;
        m.name = colour;
        m.kind = MediaKind::image;
        m.path = still(dir, colour).string();
        m.order = order++;
        m.width = 640;
        m.height = 360;
        doc.media.push_back(m);
    }
    const fs::path file = dir / (name + ".ombry");
    Store::saveDoc(doc, file);
    return file;
}

class InstalledWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb.running()) << xvfb.error();
        installed = std::make_unique<test::InstalledApp>(xvfb.display());
        home = installed->home();
        // Past the first-run sheet, which would take the keys these tests send to the main window.
        test::writeFile(home / "config/Ombry/defaults.json", "{\"hasSeenOnboarding\": true}");
        port = freePort();
        test::writeFile(home / "data/Ombry/settings.json",
                        "{\"remoteControlEnabled\": true, \"remoteControlPort\": " + std::to_string(port) + "}");
    }
    pid_t start(std::vector<std::string> args, std::vector<std::string> extraEnv = {}) {
        return installed->start(std::move(args), std::move(extraEnv));
    }
    std::optional<int> exitOf(pid_t pid, double seconds) { return installed->exitOf(pid, seconds); }
    std::string http(const std::string& method, const std::string& path) {
        return test::shell("curl -s -m 5 -X " + method + " http://127.0.0.1:" + std::to_string(port) + path);
    }
    std::vector<std::string> clipNames() {
        const auto state = nlohmann::json::parse(http("GET", "/api/state"), nullptr, false);
        std::vector<std::string> names;
        if (state.is_object() && state.contains("clips"))
            for (const auto& c : state["clips"]) names.push_back(c.value("name", ""));
        return names;
    }
    std::optional<XClient::Window> mainWindow() {
        auto ws = x->windows("Ombry");
        if (ws.empty()) return std::nullopt;
        return ws.front();
    }
    // The colour at the middle of the program preview, top of the right column.
    QRgb previewCentre(const QImage& shot, const QRect& window) {
        const int program = std::max(370, int(0.28 * window.width()));
        const int left = window.right() + 1 - program + 12, right = window.right() - 12;
        const int top = window.top() + 12;
        const int height = (right - left + 1) * 9 / 16;
        return shot.pixel((left + right) / 2, top + height / 2);
    }
    // Pixels in the media layer's colour in the top band of the program column.
    int tealPixels(const QImage& shot, const QRect& window) {
        const int program = std::max(370, int(0.28 * window.width()));
        int n = 0;
        // The badges sit at the preview's top, below the menu bar and the toolbar; the layer rows start lower.
        for (int y = window.top(); y < window.top() + 200; ++y)
            for (int x = window.right() + 1 - program; x <= window.right(); ++x) {
                const QRgb px = shot.pixel(x, y);
                n += std::abs(qRed(px) - 64) < 30 && std::abs(qGreen(px) - 200) < 30 && std::abs(qBlue(px) - 224) < 30;
            }
        return n;
    }
    void saveShot(const QImage& shot, const std::string& name) {
        const fs::path out = fs::path(OMBRY_BUILD_DIR) / "tests" / (name + ".png");
        shot.save(QString::fromStdString(out.string()));
    }
    void key(xcb_window_t window, const std::string& keys) {
        test::shell("xdotool windowfocus --sync " + std::to_string(window) + " key --clearmodifiers " + keys);
    }

    test::XvfbServer xvfb;
    std::unique_ptr<XClient> x = std::make_unique<XClient>(xvfb.display());
    // After the X server, so its processes end first.
    std::unique_ptr<test::InstalledApp> installed;
    fs::path home;
    int port = 0;
};

TEST_F(InstalledWindow, OpensFullSizeAndRunsTheShowFromCurlAndKeys) {
    const fs::path a = project(home, "a", {"red", "blue"});
    const fs::path b = project(home, "b", {"lime"});
    const pid_t app = start({a.string(), b.string()});
    ASSERT_GT(app, 0);
    ASSERT_TRUE(waitFor([&] { return mainWindow().has_value(); }, 20)) << "no window";
    const QRect geometry = mainWindow()->geometry;
    EXPECT_EQ(geometry.size(), QSize(1920, 1080)) << "the screen's available area (no window manager here)";
    ASSERT_TRUE(waitFor([&] { return !clipNames().empty(); }, 20)) << "the remote control does not answer";
    EXPECT_EQ(clipNames(), (std::vector<std::string>{"red", "blue"})) << "a.ombry is open, b.ombry is not";

    http("POST", "/api/trigger/index/1");
    QImage shot;
    EXPECT_TRUE(waitFor([&] {
        shot = x->screenshot();
        return near(previewCentre(shot, geometry), 255, 0, 0);
    }, 10)) << "the preview does not show clip 1";
    saveShot(shot, "window_e2e_clip1");
    // The overlays are drawn into the picture: the media layer's badge shows in its teal.
    EXPECT_TRUE(waitFor([&] { return tealPixels(x->screenshot(), geometry) >= 4; }, 10))
        << "no live media badge over the preview";

    key(mainWindow()->id, "2");
    EXPECT_TRUE(waitFor([&] { return near(previewCentre(x->screenshot(), geometry), 0, 0, 255); }, 10))
        << "pressing 2 in the window did not take clip 2";
    key(mainWindow()->id, "1");
    EXPECT_TRUE(waitFor([&] { return near(previewCentre(x->screenshot(), geometry), 255, 0, 0); }, 10))
        << "pressing 1 in the window did not take clip 1";

    // A second start hands its document over and ends.
    const fs::path c = project(home, "c", {"yellow", "lime", "white"});
    const pid_t second = start({c.string()});
    EXPECT_EQ(exitOf(second, 10), 0);
    EXPECT_TRUE(waitFor([&] { return clipNames() == std::vector<std::string>{"yellow", "lime", "white"}; }, 10));
    EXPECT_FALSE(exitOf(app, 0.1)) << "the running one goes on";
}

TEST_F(InstalledWindow, ClosingWhileOnAirAsksAndCancelKeepsItRunning) {
    const pid_t app = start({project(home, "show", {"red"}).string()});
    ASSERT_TRUE(waitFor([&] { return mainWindow().has_value() && !clipNames().empty(); }, 20));
    http("POST", "/api/trigger/index/1");
    const auto window = *mainWindow();
    ASSERT_TRUE(waitFor([&] { return near(previewCentre(x->screenshot(), window.geometry), 255, 0, 0); }, 10));

    x->requestClose(window.id);
    ASSERT_TRUE(waitFor([&] { return x->windows("Ombry").size() == 2; }, 10)) << "no confirmation";
    const auto dialog = x->windows("Ombry").back();
    EXPECT_LT(dialog.geometry.width(), 800);
    EXPECT_TRUE(window.geometry.contains(dialog.geometry.center()))
        << dialog.geometry.x() << "," << dialog.geometry.y() << " " << dialog.geometry.width() << "x"
        << dialog.geometry.height();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // painted, for the screenshot only
    saveShot(x->screenshot(), "window_e2e_quit_question");
    key(dialog.id, "Escape");  // "Cancel"
    EXPECT_TRUE(waitFor([&] { return x->windows("Ombry").size() == 1; }, 10));
    EXPECT_FALSE(exitOf(app, 0.5)) << "Cancel keeps it running";
    EXPECT_FALSE(clipNames().empty());

    x->requestClose(window.id);
    ASSERT_TRUE(waitFor([&] { return x->windows("Ombry").size() == 2; }, 10));
    key(x->windows("Ombry").back().id, "Tab space");  // "Quit"
    EXPECT_EQ(exitOf(app, 5), 0);
}

// The quit waits for its teardowns at most 2 s; on a busy machine the process may need longer to go, so
// the test waits for the exit itself rather than timing it.
TEST_F(InstalledWindow, TerminationSignalEndsItWithTheProjectWritten) {
    const fs::path file = project(home, "show", {"red", "blue"});
    const pid_t app = start({file.string()});
    ASSERT_TRUE(waitFor([&] { return mainWindow().has_value() && clipNames().size() == 2; }, 20));
    http("POST", "/api/trigger/index/2");
    ASSERT_TRUE(waitFor([&] { return near(previewCentre(x->screenshot(), mainWindow()->geometry), 0, 0, 255); }, 10));
    ::kill(app, SIGTERM);
    const auto code = exitOf(app, 30);
    ASSERT_TRUE(code) << "still running 30 s after SIGTERM";
    EXPECT_EQ(*code, 0);
    const auto doc = Store::loadDoc<ProjectDoc>(file);
    ASSERT_TRUE(doc) << "the project is not a readable document after the quit";
    EXPECT_EQ(doc->media.size(), 2u);
}

TEST_F(InstalledWindow, WithoutGlTheRendererErrorIsShownAndTheProcessEndsWithStatusOne) {
    // No GL for Qt's windows: the compositor's context cannot be made.
    const pid_t app = start({}, {"QT_XCB_GL_INTEGRATION=none"});
    ASSERT_TRUE(waitFor([&] { return !x->windows("Ombry").empty(); }, 20)) << "no alert";
    const auto alert = x->windows("Ombry").front();
    EXPECT_LT(alert.geometry.width(), 900) << "the alert, not the main window";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // painted, for the screenshot only
    saveShot(x->screenshot(), "window_e2e_renderer_error");
    EXPECT_FALSE(exitOf(app, 0.5)) << "the alert waits for the operator";
    key(alert.id, "Return");  // "Quit"
    EXPECT_EQ(exitOf(app, 10), 1);
}

TEST_F(InstalledWindow, AStageShaderThatDoesNotCompileShowsTheRendererErrorBeforeAnyWindow) {
    // The programs compile on a thread of their own while the window is made; their failure still comes
    // before the window.
    installed->useTree(test::InstalledApp::treeWith("share/ombry/shaders/stageSolidFragment.glsl",
                                                    "#version 330 core\nthis is not a shader\n"));
    const pid_t app = start({});
    bool windowShown = false;
    ASSERT_TRUE(waitFor([&] {
        for (const auto& w : x->windows("")) windowShown = windowShown || w.geometry.width() >= 900;
        return !x->windows("Ombry").empty();
    }, 20)) << "no alert";
    const auto alert = x->windows("Ombry").front();
    EXPECT_LT(alert.geometry.width(), 900) << "the alert, not the main window";
    EXPECT_FALSE(windowShown) << "the main window showed before the alert";
    EXPECT_FALSE(exitOf(app, 0.5)) << "the alert waits for the operator";
    key(alert.id, "Return");  // "Quit"
    EXPECT_EQ(exitOf(app, 10), 1);
    std::string logs;
    for (const auto& e : fs::recursive_directory_iterator(home / "state"))
        if (e.is_regular_file()) logs += test::readFile(e.path());
    EXPECT_NE(logs.find("REN-01"), std::string::npos) << logs;
    EXPECT_NE(logs.find("stageSolidFragment.glsl"), std::string::npos) << logs;
}

}  // namespace
}  // namespace ombry
